#include "ui/terminal_backend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "ui/message.h"

namespace qzr {
namespace {

// A pipe: whatever the test writes into `input` is the backend's standard
// input, and what the backend prints is read back from `output`.
class TerminalBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(in_), 0);
    ASSERT_EQ(::pipe(out_), 0);
    ASSERT_EQ(::fcntl(out_[0], F_SETFL, O_NONBLOCK), 0);
  }
  void TearDown() override {
    for (int fd : {in_[0], in_[1], out_[0], out_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  void Type(const std::string& text) {
    ASSERT_EQ(::write(in_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(in_[1]);
    in_[1] = -1;
  }
  std::string Printed() {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_[0], buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
  }
  TerminalBackend Backend(std::optional<bool> interactive) {
    TerminalBackend::Options options;
    options.input_fd = in_[0];
    options.output_fd = out_[1];
    options.interactive = interactive;
    return TerminalBackend(options);
  }
  static MessageRequest Question() {
    MessageRequest r;
    r.text = "Do you want to save the changes to this record?|Second line";
    r.caption = "Save Record";
    r.icon = kIconExclamation;
    r.buttons = kButtonYes | kButtonNo | kButtonCancel;
    r.default_button = kButtonCancel;
    return r;
  }

  int in_[2] = {-1, -1};
  int out_[2] = {-1, -1};
};

// Given a pipe as standard input (not a terminal), the default is taken at
// once, whatever the pipe holds, and the message is printed in full.
TEST_F(TerminalBackendTest, PipedInputTakesTheDefault) {
  Type("y\n");
  TerminalBackend backend = Backend(std::nullopt);
  EXPECT_EQ(backend.ShowMessage(Question()), kButtonCancel);
  EXPECT_EQ(Printed(),
            "\n== Save Record ==\n"
            "Warning: Do you want to save the changes to this record?\n"
            "         Second line\n"
            "[Y]es  [N]o  [C]ancel*\n"
            "-> Cancel (no one to ask)\n");
  char c;
  EXPECT_EQ(::read(in_[0], &c, 1), 1);  // the input was left alone
}

TEST_F(TerminalBackendTest, InteractiveAnswerIsReadAndRetried) {
  Type("maybe\n  n  \nyes\n");
  TerminalBackend backend = Backend(true);
  EXPECT_EQ(backend.ShowMessage(Question()), kButtonNo);
  std::string printed = Printed();
  EXPECT_NE(printed.find("Choose (Enter = Cancel): "), std::string::npos);
  EXPECT_NE(printed.find("Please answer with one of: [Y]es  [N]o  [C]ancel*"), std::string::npos);
  // The next message takes the next line only.
  EXPECT_EQ(backend.ShowMessage(Question()), kButtonYes);
  // At end of input the default is taken.
  EXPECT_EQ(backend.ShowMessage(Question()), kButtonCancel);
}

TEST_F(TerminalBackendTest, AnswersNameButtonsByLetterOrWord) {
  const int kYesNoCancel = kButtonYes | kButtonNo | kButtonCancel;
  struct Case {
    const char* reply;
    int buttons;
    int expected;
  } cases[] = {
      {"", kYesNoCancel, kButtonCancel},
      {"  \r", kYesNoCancel, kButtonCancel},
      {"y", kYesNoCancel, kButtonYes},
      {"Y", kYesNoCancel, kButtonYes},
      {"NO", kYesNoCancel, kButtonNo},
      {"cancel", kYesNoCancel, kButtonCancel},
      {"ok", kYesNoCancel, 0},
      {"x", kYesNoCancel, 0},
      {"yess", kYesNoCancel, 0},
      {"o", kButtonOk, kButtonOk},
      {"k", kButtonOk, kButtonOk},
      {"Ok", kButtonOk, kButtonOk},
      {"r", kButtonAbort | kButtonRetry | kButtonIgnore, kButtonRetry},
      {"ignore", kButtonAbort | kButtonRetry | kButtonIgnore, kButtonIgnore},
      {"h", kAllButtons, kButtonHelp},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalBackend::ParseAnswer(c.reply, c.buttons, kButtonCancel), c.expected)
        << "'" << c.reply << "'";
  }
}

TEST_F(TerminalBackendTest, BeepIsSilentWhenOutputIsNotATerminal) {
  TerminalBackend backend = Backend(false);
  backend.Beep(kBeepStandard);
  backend.SetCursor(kCursorWait);
  EXPECT_EQ(Printed(), "");
}

}  // namespace
}  // namespace qzr
