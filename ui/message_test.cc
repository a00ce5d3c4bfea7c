#include "ui/message.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ui/headless_backend.h"
#include "ui/window_backend.h"

namespace qzr {
namespace {

class MessageTest : public ::testing::Test {
 protected:
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
};

TEST_F(MessageTest, ShowsTheRequestAndReturnsTheScriptedButton) {
  backend_.QueueAnswer(kButtonNo);
  int answer =
      MessageBox("Are you sure you want to delete the highlighted record?", "Confirm Delete",
                 kIconExclamation, kButtonYes | kButtonNo, kButtonYes, 7);
  EXPECT_EQ(answer, kButtonNo);
  const std::vector<HeadlessBackend::ShownMessage> messages = backend_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const HeadlessBackend::ShownMessage& shown = messages[0];
  EXPECT_EQ(shown.request.text, "Are you sure you want to delete the highlighted record?");
  EXPECT_EQ(shown.request.caption, "Confirm Delete");
  EXPECT_EQ(shown.request.icon, 32515);
  EXPECT_EQ(shown.request.buttons, 6);
  EXPECT_EQ(shown.request.default_button, 2);
  EXPECT_EQ(shown.request.style, 7);
  EXPECT_EQ(shown.answer, kButtonNo);

  // An empty script answers with the message's default, or the fallback.
  EXPECT_EQ(MessageBox("x", "", kIconAsterisk, kButtonOk | kButtonCancel, kButtonCancel),
            kButtonCancel);
  backend_.SetFallbackAnswer(kButtonOk);
  EXPECT_EQ(MessageBox("x", "", kIconAsterisk, kButtonOk | kButtonCancel, kButtonCancel),
            kButtonOk);
  EXPECT_EQ(backend_.PendingAnswers(), 0u);
}

TEST_F(MessageTest, InconsistentArgumentsAreMadeSound) {
  struct Case {
    const char* what;
    int buttons;
    int default_button;
    std::optional<int> scripted;
    int shown_buttons;
    int shown_default;
    int result;
  } cases[] = {
      {"no buttons means OK", 0, 0, std::nullopt, kButtonOk, kButtonOk, kButtonOk},
      {"bits above Help dropped", 0x300 | kButtonYes, kButtonYes, std::nullopt, kButtonYes,
       kButtonYes, kButtonYes},
      {"default not offered", kButtonYes | kButtonNo, kButtonCancel, std::nullopt, 6, kButtonYes,
       kButtonYes},
      {"default of two bits", kButtonOk | kButtonCancel, 65, std::nullopt, 65, kButtonOk,
       kButtonOk},
      {"no default", kButtonRetry | kButtonCancel, 0, std::nullopt, 80, kButtonRetry, kButtonRetry},
      {"answer not offered", kButtonYes | kButtonNo | kButtonCancel, kButtonCancel, kButtonOk, 70,
       kButtonCancel, kButtonCancel},
      {"answer of two bits", kButtonYes | kButtonNo, kButtonNo, 6, 6, kButtonNo, kButtonNo},
      {"offered answer", kAllButtons, kButtonOk, kButtonHelp, 255, kButtonOk, kButtonHelp},
  };
  for (const Case& c : cases) {
    backend_.Clear();
    if (c.scripted) backend_.QueueAnswer(*c.scripted);
    EXPECT_EQ(MessageBox("t", "c", kIconNone, c.buttons, c.default_button), c.result) << c.what;
    ASSERT_EQ(backend_.Messages().size(), 1u);
    EXPECT_EQ(backend_.Messages()[0].request.buttons, c.shown_buttons) << c.what;
    EXPECT_EQ(backend_.Messages()[0].request.default_button, c.shown_default) << c.what;
  }
}

TEST_F(MessageTest, ButtonCaptionsAndLines) {
  const char* captions[] = {"O&k",    "&Yes",    "&No",     "&Abort",
                            "&Retry", "&Ignore", "&Cancel", "&Help"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ButtonCaption(1 << i), captions[i]);
  EXPECT_EQ(ButtonCaption(3), "");
  EXPECT_EQ(ButtonCaption(0), "");

  struct Case {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {""}},
      {"plain", {"plain"}},
      {"An error was experienced.|File: %File|Error: x.",
       {"An error was experienced.", "File: %File", "Error: x."}},
      {"|a||", {"", "a", "", ""}},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageLines(c.text), c.lines) << c.text;
}

TEST_F(MessageTest, WaitCursorsNestAndRestore) {
  EXPECT_EQ(CurrentCursor(), kCursorNormal);
  {
    WaitCursor outer;
    EXPECT_EQ(CurrentCursor(), kCursorWait);
    {
      WaitCursor inner;
      EXPECT_EQ(CurrentCursor(), kCursorWait);
    }
    EXPECT_EQ(CurrentCursor(), kCursorWait);  // the inner guard did not end the outer wait
  }
  EXPECT_EQ(CurrentCursor(), kCursorNormal);
  EXPECT_EQ(SetCursor(kCursorHand), kCursorNormal);
  EXPECT_EQ(SetCursor(kCursorNormal), kCursorHand);
  EXPECT_EQ(backend_.Cursors(), (std::vector<int>{kCursorWait, kCursorWait, kCursorWait,
                                                  kCursorNormal, kCursorHand, kCursorNormal}));
}

TEST_F(MessageTest, BeepsAreRecorded) {
  MessageBeep();
  MessageBeep(kBeepExclamation);
  EXPECT_EQ(backend_.Beeps(), (std::vector<int>{-1, 0x30}));
}

TEST_F(MessageTest, MessagesFromSeveralThreadsAreAllAnswered) {
  constexpr int kThreads = 4;
  constexpr int kEach = 50;
  backend_.SetFallbackAnswer(kButtonRetry);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(MessageBox("busy", "", kIconNone, kButtonRetry | kButtonCancel), kButtonRetry);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(backend_.Messages().size(), static_cast<size_t>(kThreads * kEach));
}

TEST(WindowBackendTest, ScopedBackendRestoresThePreviousOne) {
  HeadlessBackend outer;
  HeadlessBackend inner;
  {
    ScopedBackend a(&outer);
    EXPECT_EQ(&CurrentBackend(), &outer);
    {
      ScopedBackend b(&inner);
      EXPECT_EQ(&CurrentBackend(), &inner);
      MessageBeep();
    }
    EXPECT_EQ(&CurrentBackend(), &outer);
  }
  // Back to the terminal default, which is neither of them.
  EXPECT_NE(&CurrentBackend(), &outer);
  EXPECT_NE(&CurrentBackend(), &inner);
  EXPECT_EQ(inner.Beeps().size(), 1u);
  EXPECT_TRUE(outer.Beeps().empty());
}

}  // namespace
}  // namespace qzr
