// The error window: how the error manager shows messages while it keeps a
// history, driven by the scripted user.

#include "framework/error_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/error_manager.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/message.h"

namespace qzr {
namespace {

class ErrorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileStatus().Clear();
    errors_.SetHaltHook([this](int code) { halts_.push_back(code); });
    errors_.Init();
    errors_.HISTORYTHRESHOLD = -1;
    errors_.HISTORYVIEWLEVEL = SeverityInform;
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
  }
  void TearDown() override {
    errors_.Kill();
    FileStatus().Clear();
  }

  static int Button(int n) { return kErrorFirstButton + n - 1; }

  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  ErrorManager errors_;
  std::vector<int> halts_;
};

TEST_F(ErrorWindowTest, ButtonsRunFromBit128DownWithTheDefaultMarked) {
  ui_.ExpectWindow("Pick one");
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.name, kErrorWindowName);
    const char* texts[] = {"&Help", "&Cancel", "&Ignore", "&Retry", "&Abort", "&No", "&Yes", "O&k"};
    for (int i = 1; i <= kErrorButtons; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(w.Text(Button(i)), texts[i - 1]);
      EXPECT_FALSE(w.Hidden(Button(i)));
      const bool is_default = (w.Control(Button(i))->def.flags & kControlDefault) != 0;
      EXPECT_EQ(is_default, i == 4);  // Retry
    }
  });
  ui_.Click(Button(3));
  EXPECT_EQ(errors_.Message("Something happened.", "Pick one", kIconExclamation, kAllButtons,
                            kButtonRetry, 0),
            kButtonIgnore);
}

TEST_F(ErrorWindowTest, UnusedButtonsStayHiddenAndTheIconIsShown) {
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(Button(1)), "&Cancel");
    EXPECT_EQ(w.Text(Button(2)), "&No");
    EXPECT_EQ(w.Text(Button(3)), "&Yes");
    for (int i = 4; i <= kErrorButtons; ++i) EXPECT_TRUE(w.Hidden(Button(i)));
    EXPECT_EQ(w.Control(kErrorImage)->look.icon, "ICON:Exclamation");
  });
  ui_.Click(Button(3));
  EXPECT_EQ(errors_.Ask(38, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel), kButtonYes);
}

TEST_F(ErrorWindowTest, EscAndTheCloseBoxAnswerCancelWhenOfferedElseTheDefault) {
  struct Case {
    int buttons;
    int default_button;
    bool esc;  // else the close box
    int answer;
  };
  const Case cases[] = {
      {kButtonYes | kButtonNo | kButtonCancel, kButtonYes, true, kButtonCancel},
      {kButtonYes | kButtonNo | kButtonCancel, kButtonYes, false, kButtonCancel},
      {kButtonYes | kButtonNo, kButtonNo, true, kButtonNo},
      {kButtonYes | kButtonNo, kButtonYes, false, kButtonYes},
      {kButtonOk, kButtonOk, true, kButtonOk},
      {kButtonAbort | kButtonRetry | kButtonIgnore, kButtonRetry, false, kButtonRetry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buttons * 1000 + c.default_button * 10 + c.esc);
    if (c.esc) {
      ui_.Key(kKeyEsc);
    } else {
      ui_.Close();
    }
    EXPECT_EQ(errors_.Message("Well?", "Question", kIconQuestion, c.buttons, c.default_button, 0),
              c.answer);
  }
}

TEST_F(ErrorWindowTest, AThresholdOfThreeShowsThreeLinesAfterFiveMessages) {
  errors_.HISTORYTHRESHOLD = 3;
  for (int i = 1; i <= 5; ++i) {
    const size_t expected = static_cast<size_t>(std::min(i, 3));
    ui_.Then([expected, i](HeadlessWindow& w) {
      std::vector<std::vector<std::string>> rows = w.Rows(kErrorList);
      ASSERT_EQ(rows.size(), expected);
      // The newest message is the last line, and it is selected.
      EXPECT_EQ(rows.back()[0], "The Procedure p" + std::to_string(i) + " has not been defined.");
      EXPECT_EQ(rows.back()[1], "KFW");
      EXPECT_EQ(w.Choice(kErrorList), static_cast<int>(expected));
      if (i == 5) {
        EXPECT_EQ(rows[0][0], "The Procedure p3 has not been defined.");
      }
    });
    ui_.Click(Button(1));  // OK
    errors_.SetMessageText("p" + std::to_string(i));
    EXPECT_EQ(errors_.Throw(27), SeverityInform);
  }
  EXPECT_EQ(ui_.WindowsOpened().size(), 5u);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(ErrorWindowTest, MessagesBelowTheViewLevelAreOnlyKept) {
  errors_.HISTORYVIEWLEVEL = SeverityHalt;
  EXPECT_EQ(errors_.Throw(25), SeverityInform);
  EXPECT_TRUE(ui_.WindowsOpened().empty());
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 1);
}

TEST_F(ErrorWindowTest, AQuestionBelowTheViewLevelIsStillAsked) {
  errors_.HISTORYVIEWLEVEL = SeverityHalt;
  ui_.ExpectWindow("Confirm Delete");
  ui_.Click(Button(1));  // "&No" (Yes is the second)
  EXPECT_EQ(errors_.Throw(11), SeverityDeclined);
  ui_.ExpectWindow("Record Update Error");
  ui_.Click(Button(1));  // "&Cancel"
  EXPECT_EQ(errors_.Ask(37, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel), kButtonCancel);
}

TEST_F(ErrorWindowTest, ResetOnViewEmptiesTheHistoryAfterItWasShown) {
  errors_.HISTORYRESETONVIEW = 1;
  ui_.Click(Button(1));
  errors_.Throw(25);
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 0);
}

// Without a window system the message box stands in, the history appended.
class PlainBackend : public WindowBackend {
 public:
  int ShowMessage(const MessageRequest& request) override {
    shown.push_back(request);
    return request.default_button;
  }
  void SetCursor(int) override {}
  void Beep(int) override {}
  std::vector<MessageRequest> shown;
};

TEST_F(ErrorWindowTest, WithoutAWindowSystemAMessageBoxStandsIn) {
  PlainBackend plain;
  ScopedBackend use(&plain);
  errors_.HISTORYVIEWLEVEL = SeverityHalt;
  EXPECT_EQ(errors_.Throw(25), SeverityInform);  // only kept
  EXPECT_TRUE(plain.shown.empty());
  // A question is shown, whatever the view level.
  EXPECT_EQ(errors_.Throw(10),
            SeverityNone);  // this backend takes the default, Yes
  ASSERT_EQ(plain.shown.size(), 1u);
  EXPECT_EQ(plain.shown[0].caption, "Changes will be lost!");
  EXPECT_EQ(plain.shown[0].text,
            "Are you sure you want to cancel?||"
            "There are no records available to process.  [KFW]|"
            "Are you sure you want to cancel?  [KFW]");
}

}  // namespace
}  // namespace qzr
