// The window manager over a real catalogue file, driven by the scripted
// user: the requests with their confirmations, the close questions, history
// recall, the dispatch to components, nested procedures and the life cycle.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/error_window.h"
#include "framework/window_manager_test_support.h"

namespace qzr::testing {
namespace {

using WindowManagerTest = FormTest;

// ---------------------------------------------------------------------------
// Change.

TEST_F(WindowManagerTest, AnUnchangedChangeWritesNothingAndReportsCancelled) {
  int32_t id = AddRecord("kept", "code");
  ASSERT_TRUE(Read(id));
  TestForm form(kChangeRecord, &rm_, &errors_, &history_);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), "kept"); });
  ui_.Click(kOk);
  const int64_t puts = CallCountingDriver::Instance().puts;
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(CallCountingDriver::Instance().puts, puts);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Names(), std::vector<std::string>{"kept"});
}

TEST_F(WindowManagerTest, AChangedRecordIsSavedAndReportsCompleted) {
  int32_t id = AddRecord("old");
  ASSERT_TRUE(Read(id));
  TestForm form(kChangeRecord, &rm_, &errors_, &history_);
  ui_.Type(kName, "new");
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
  EXPECT_EQ(Names(), std::vector<std::string>{"new"});
}

TEST_F(WindowManagerTest, AnEditOnlyToTheCodeIsSavedAndAskedAboutOnClose) {
  int32_t id = AddRecord("f", "int f();");
  // Saved: typed into the code and OK pressed.
  {
    ASSERT_TRUE(Read(id));
    TestForm form(kChangeRecord, &rm_, &errors_, &history_);
    ui_.Type(kCode, "int f() { return 1; }");
    ui_.Click(kOk);
    EXPECT_EQ(form.Run(), kRequestCompleted);
    ASSERT_TRUE(Read(id));
    EXPECT_EQ(file_.memo_values[0], "int f() { return 1; }");
  }
  // Asked about: typed into the code, not even left, and the window closed.
  {
    ASSERT_TRUE(Read(id));
    TestForm form(kChangeRecord, &rm_, &errors_, &history_);
    form.configure = [](TestForm& f) { f.CANCELACTION = 2; };
    ui_.Type(kCode, "int f() { return 2; }", /*finish=*/false);
    ui_.Close();
    ui_.AnswerMessage(kButtonNo);  // "Changes will be lost!": no, stay
    ui_.ExpectWindow("Update Information");
    ui_.Close();
    ui_.AnswerMessage(kButtonYes);
    EXPECT_EQ(form.Run(), kRequestCancelled);
    EXPECT_EQ(MessageTitles(),
              (std::vector<std::string>{"Changes will be lost!", "Changes will be lost!"}));
    ASSERT_TRUE(Read(id));
    EXPECT_EQ(file_.memo_values[0], "int f() { return 1; }");
  }
}

// Error 37: the record's check refuses it; each answer as the user sees it.
class RefusingFileManager : public FileManager {
 public:
  Severity CheckField(int number) override {
    if (number == 1 && refusals > 0) {
      --refusals;
      return SeverityQuestion;
    }
    return SeverityNone;
  }
  int refusals = 0;
};

TEST_F(WindowManagerTest, ARefusedUpdateOffersToSaveAgain) {
  struct Case {
    int answer;
    int refusals;
    int response;
    const char* stored;
    bool stays;  // the form was still open after the answer
  };
  const Case cases[] = {
      {kButtonYes, 1, kRequestCompleted, "new", false},    // saves again, and it goes through
      {kButtonNo, 5, kRequestCancelled, "old", false},     // the form ends cancelled
      {kButtonCancel, 5, kRequestCancelled, "old", true},  // back to the form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ui_.Clear();
    RefusingFileManager fm;
    FileDescriptor file = FuncAt(dir_.File("REFUSE" + std::to_string(c.answer) + ".PLX"));
    fm.Init(&file, &errors_);
    fm.RegisterKey("P_ID", "FUN:P_ID", 1);
    RelationManager rm;
    rm.Init(&fm);
    ASSERT_EQ(rm.Open(), SeverityNone);
    internal::ClearRecord(&file);
    SetText(file, "NAME", "old");
    ASSERT_EQ(fm.Insert(), SeverityNone);
    fm.refusals = c.refusals;

    TestForm form(kChangeRecord, &rm, &errors_, nullptr);
    form.configure = [](TestForm& f) { f.CANCELACTION = 2; };
    ui_.Type(kName, "new");
    ui_.Click(kOk);
    ui_.AnswerMessage(c.answer);
    if (c.stays) {
      ui_.ExpectWindow("Update Information");
      ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.focus, kName); });
      ui_.Click(kCancel);
      ui_.AnswerMessage(kButtonYes);  // "Changes will be lost!"
    }
    EXPECT_EQ(form.Run(), c.response);
    std::vector<std::string> titles = MessageTitles();
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles[0], "Record Update Error");
    EXPECT_EQ(ui_.Messages()[0].request.buttons, kButtonYes | kButtonNo | kButtonCancel);
    EXPECT_EQ(ui_.Messages()[0].request.default_button, kButtonCancel);
    SetId(file, 1);
    fm.refusals = 0;
    ASSERT_EQ(fm.Fetch(0), SeverityNone);
    EXPECT_EQ(GetText(file, "NAME"), c.stored);
    rm.Close();
    rm.Kill();
    fm.Kill();
  }
}

TEST_F(WindowManagerTest, ARecordChangedByAnotherProcessShowsTheirsAndCtrlHRecallsOurs) {
  int32_t id = AddRecord("mine");
  ASSERT_EQ(DoFileOp(FileOp::WATCH, file_), 0);
  ASSERT_TRUE(Read(id));

  TestForm form(kChangeRecord, &rm_, &errors_, &history_);
  ui_.Type(kName, "ours");
  ui_.Then([this, id](HeadlessWindow&) {
    // Another station changes the record meanwhile.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileDescriptor other = FuncAt(dir_.File("FUNC.PLX"));
      other.open_mode = kOpenReadWriteDenyNone;
      int rc = DoFileOp(FileOp::OPEN, other);
      if (rc == 0) {
        SetId(other, id);
        FileArgs g;
        g.key = 0;
        rc = DoFileOp(FileOp::GETfilekey, other, g);
      }
      if (rc == 0) {
        SetText(other, "NAME", "theirs");
        rc = DoFileOp(FileOp::PUT, other);
      }
      if (rc == 0) rc = DoFileOp(FileOp::CLOSE, other);
      ::_exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  });
  ui_.Click(kOk);
  ui_.AnswerMessage(kButtonOk);  // error 8
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), "theirs"); });
  ui_.Key(kKeyCtrlH, kName);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), "ours"); });
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].request.text,
            "This record was changed by another station. Those changes will "
            "now be displayed. "
            "Use the Ditto Button or Ctrl+H to recall your changes.");
  EXPECT_EQ(Names(), std::vector<std::string>{"ours"});
}

// ---------------------------------------------------------------------------
// Insert.

TEST_F(WindowManagerTest, AnInsertStartsBlankAndACancelledOneLeavesNoRecord) {
  int32_t id = AddRecord("selected in the browse", "its code");
  ASSERT_TRUE(Read(id));
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kName), "");
    EXPECT_EQ(w.Text(kCode), "");
  });
  ui_.Click(kCancel);  // nothing typed: nothing asked
  const int64_t adds = CallCountingDriver::Instance().adds;
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(CallCountingDriver::Instance().adds, adds);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Names(), std::vector<std::string>{"selected in the browse"});
}

TEST_F(WindowManagerTest, AnInsertIsNumberedWhenSaved) {
  AddRecord("one");
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  ui_.Type(kName, "two");
  ui_.Type(kCode, "void two();");
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
  EXPECT_EQ(GetId(file_), 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"one", "two"}));
  ASSERT_TRUE(Read(2));
  EXPECT_EQ(file_.memo_values[0], "void two();");
}

TEST_F(WindowManagerTest, ClosingAChangedInsertWithCancelAction3AsksSaveRecord) {
  struct Case {
    int answer;
    int response;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {kButtonYes, kRequestCompleted, {"typed"}},
      {kButtonNo, kRequestCancelled, {}},
      {kButtonCancel, kRequestCancelled, {}},  // stays; then closed with No
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ui_.Clear();
    TestForm form(kInsertRecord, &rm_, &errors_, &history_);
    ui_.Type(kName, "typed");
    ui_.Close();
    ui_.AnswerMessage(c.answer);
    if (c.answer == kButtonCancel) {
      ui_.ExpectWindow("Update Information");
      ui_.Close();
      ui_.AnswerMessage(kButtonNo);
    }
    EXPECT_EQ(form.Run(), c.response);
    ASSERT_FALSE(ui_.Messages().empty());
    EXPECT_EQ(ui_.Messages()[0].request.caption, "Save Record");
    EXPECT_EQ(ui_.Messages()[0].request.buttons, kButtonYes | kButtonNo | kButtonCancel);
    EXPECT_EQ(Names(), c.names);
    // Leave the file empty for the next case.
    if (!c.names.empty()) {
      ASSERT_TRUE(Read(GetId(file_)));
      ASSERT_EQ(fm_.Delete(false), SeverityNone);
    }
  }
}

TEST_F(WindowManagerTest, CancelAction2AsksChangesWillBeLostAndNoStays) {
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  form.configure = [](TestForm& f) { f.CANCELACTION = 2; };
  ui_.Type(kName, "typed");
  ui_.Click(kCancel);
  ui_.AnswerMessage(kButtonNo);
  ui_.ExpectWindow("Update Information");
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), "typed"); });
  ui_.Click(kCancel);
  ui_.AnswerMessage(kButtonYes);
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(MessageTitles(),
            (std::vector<std::string>{"Changes will be lost!", "Changes will be lost!"}));
  EXPECT_TRUE(Names().empty());
}

TEST_F(WindowManagerTest, InsertAction4PrimesAnotherAndClosingReportsTheLastAdded) {
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  form.configure = [](TestForm& f) { f.INSERTACTION = 4; };
  ui_.Type(kName, "first");
  ui_.Click(kOk);
  ui_.AnswerMessage(kButtonYes);  // "Record Added": add another
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), ""); });
  ui_.Type(kName, "second");
  ui_.Click(kOk);
  ui_.AnswerMessage(kButtonYes);
  ui_.Close();  // the third record is untouched: nothing asked
  EXPECT_EQ(form.Run(), kRequestCompleted);
  EXPECT_EQ(MessageTitles(), (std::vector<std::string>{"Record Added", "Record Added"}));
  EXPECT_EQ(GetText(file_, "NAME"), "second");
  EXPECT_EQ(GetId(file_), 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"first", "second"}));
}

// ---------------------------------------------------------------------------
// Delete and view.

TEST_F(WindowManagerTest, ADeleteIsConfirmedBeforeAnyWindowOpens) {
  int32_t keep = AddRecord("keep");
  int32_t gone = AddRecord("gone");
  // Declined: nothing deleted, and the caller is told cancelled.
  ASSERT_TRUE(Read(keep));
  {
    TestForm form(kDeleteRecord, &rm_, &errors_, &history_);
    ui_.AnswerMessage(kButtonNo);
    EXPECT_EQ(form.Run(), kRequestCancelled);
  }
  ASSERT_TRUE(Read(gone));
  {
    TestForm form(kDeleteRecord, &rm_, &errors_, &history_);
    ui_.AnswerMessage(kButtonYes);
    EXPECT_EQ(form.Run(), kRequestCompleted);
  }
  EXPECT_EQ(MessageTitles(), (std::vector<std::string>{"Confirm Delete", "Confirm Delete"}));
  EXPECT_TRUE(ui_.WindowsOpened().empty());
  EXPECT_EQ(Names(), std::vector<std::string>{"keep"});
}

// A delete completed on the form (DELETEACTION 1 prepares nothing; the form
// confirms when it completes).
TEST_F(WindowManagerTest, ADeclinedDeleteOnTheFormReportsCancelled) {
  int32_t id = AddRecord("keep");
  ASSERT_TRUE(Read(id));
  TestForm form(kDeleteRecord, &rm_, &errors_, &history_);
  form.configure = [](TestForm& f) { f.DELETEACTION = 1; };
  ui_.Then([&form](HeadlessWindow&) {
    form.DELETEACTION = 2;
    form.window().Post(EVENT::Completed);
  });
  ui_.AnswerMessage(kButtonNo);
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(MessageTitles(), std::vector<std::string>{"Confirm Delete"});
  EXPECT_EQ(Names(), std::vector<std::string>{"keep"});
}

TEST_F(WindowManagerTest, ConfirmDeleteIsAskedWhateverTheHistorySettings) {
  int32_t id = AddRecord("keep");
  ASSERT_TRUE(Read(id));
  errors_.HISTORYTHRESHOLD = -1;
  errors_.HISTORYVIEWLEVEL = SeverityInform;  // questions are below the view level
  TestForm form(kDeleteRecord, &rm_, &errors_, &history_);
  ui_.ExpectWindow("Confirm Delete");  // the error window
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kErrorFirstButton), "&No");
    EXPECT_EQ(w.Text(kErrorFirstButton + 1), "&Yes");
  });
  ui_.Click(kErrorFirstButton);
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(Names(), std::vector<std::string>{"keep"});
}

TEST_F(WindowManagerTest, AViewClosesOnSaveAndReportsCancelled) {
  int32_t id = AddRecord("seen");
  ASSERT_TRUE(Read(id));
  TestForm form(kViewRecord, &rm_, &errors_, &history_);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kName), "seen");
    EXPECT_TRUE(w.ReadOnly(kName));
  });
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_TRUE(ui_.Messages().empty());
}

// ---------------------------------------------------------------------------
// History.

TEST_F(WindowManagerTest, CtrlHRecallsTheLastCompletedFormsFieldsMemoIncluded) {
  {
    TestForm form(kInsertRecord, &rm_, &errors_, &history_);
    ui_.Type(kName, "first title");
    ui_.Type(kCode, "first code");
    ui_.Click(kOk);
    ASSERT_EQ(form.Run(), kRequestCompleted);
  }
  ASSERT_EQ(history_.RECORD.size(), file_.record.size());
  ASSERT_EQ(history_.MEMOS.size(), 1u);
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  ui_.Key(kKeyCtrlH, kName);
  ui_.Focus(kCode);
  ui_.Key(kKeyCtrlH, kCode);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kName), "first title");
    EXPECT_EQ(w.Text(kCode), "first code");
  });
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
  EXPECT_EQ(Names(), (std::vector<std::string>{"first title", "first title"}));
  ASSERT_TRUE(Read(2));
  EXPECT_EQ(file_.memo_values[0], "first code");
}

TEST_F(WindowManagerTest, CtrlHBeforeAnyCompletedFormRecallsNothing) {
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  ui_.Type(kName, "typed");
  ui_.Key(kKeyCtrlH, kName);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kName), "typed"); });
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
}

// ---------------------------------------------------------------------------
// Events and components.

TEST_F(WindowManagerTest, TheFirstSizedEventCausesNoResetLaterOnesDo) {
  CountingComponent c;
  TestForm form(kViewRecord, &rm_, &errors_, nullptr);
  form.components.push_back(&c);
  int after_open = -1;
  ui_.Then([&](HeadlessWindow&) { after_open = c.resets; });
  ui_.Resize(320, 220);
  ui_.Then([&](HeadlessWindow&) { EXPECT_EQ(c.resets, after_open + 1); });
  ui_.Resize(340, 240);
  ui_.Then([&](HeadlessWindow&) { EXPECT_EQ(c.resets, after_open + 2); });
  ui_.Close();
  form.Run();
  EXPECT_EQ(after_open,
            1);  // the first activation only, not the first size event
  EXPECT_EQ(c.kills, 1);
  EXPECT_EQ(c.keys_registered, 1);
  // The resizer's event follows every size event.
  int resizes = 0;
  for (const auto& e : ui_.Events()) resizes += e.event.code == kResizeEvent;
  EXPECT_EQ(resizes, 3);
}

TEST_F(WindowManagerTest, AComponentThatConsumesAnEventStopsTheDispatch) {
  CountingComponent first, second;
  first.answer = SeverityInform;
  TestForm form(kViewRecord, &rm_, &errors_, nullptr);
  form.components = {&first, &second};
  ui_.Close();  // the window events before it are consumed too
  ui_.Then([&](HeadlessWindow&) {
    // The close was consumed by the first component: the window is open.
    first.answer = SeverityNone;
  });
  ui_.Close();
  form.Run();
  EXPECT_FALSE(first.events.empty());
  EXPECT_TRUE(second.events.size() < first.events.size());
}

TEST_F(WindowManagerTest, NeedsResetAskedOnEveryEventMakesNoDriverCall) {
  CountingComponent c;
  int32_t id = AddRecord("one");
  ASSERT_TRUE(Read(id));
  TestForm form(kChangeRecord, &rm_, &errors_, nullptr);
  form.components.push_back(&c);
  int64_t before = 0, after = 0;
  int asked_before = 0, asked_after = 0;
  ui_.Hover(kName);  // the pointer enters: later hovers over it are mouse moves
  ui_.Then([&](HeadlessWindow&) {
    before = CallCountingDriver::Instance().calls;
    asked_before = c.needs_reset_asked;
  });
  for (int i = 0; i < 1000; ++i) ui_.Hover(kName);
  ui_.Then([&](HeadlessWindow&) {
    after = CallCountingDriver::Instance().calls;
    asked_after = c.needs_reset_asked;
  });
  ui_.Click(kCancel);
  form.Run();
  int moves = 0;
  for (const auto& e : ui_.Events()) moves += e.event.code == EVENT::MouseMove;
  EXPECT_EQ(moves, 1000);
  EXPECT_EQ(asked_after - asked_before, 1000);
  EXPECT_EQ(after - before, 0);
  RecordProperty("driver_calls_over_1000_mouse_moves", static_cast<int>(after - before));
}

// ---------------------------------------------------------------------------
// Nested procedures.

TEST_F(WindowManagerTest, ANestedProcedureRunsAboveTheFormWhichWaits) {
  int32_t id = AddRecord("outer");
  ASSERT_TRUE(Read(id));
  TestForm outer(kChangeRecord, &rm_, &errors_, nullptr);
  CountingComponent outer_component;
  outer.components.push_back(&outer_component);
  int nested_response = 0;
  outer.nested = [&](TestForm& f) {
    // Posted to the outer form while the inner one runs: it waits.
    f.window().Post(EVENT::Accepted, kNested + 100);
    const size_t seen = outer_component.events.size();
    TestForm inner(kViewRecord, &rm_, &errors_, nullptr);
    nested_response = inner.Run();
    EXPECT_EQ(outer_component.events.size(), seen);
  };
  ui_.Click(kNested);
  ui_.ExpectWindow("Update Information");
  ui_.Then([](HeadlessWindow& w) { EXPECT_TRUE(w.ReadOnly(kName)); });   // the inner view
  ui_.Click(kOk);                                                        // closes the view
  ui_.Then([](HeadlessWindow& w) { EXPECT_FALSE(w.ReadOnly(kName)); });  // the outer form
  ui_.Click(kOk);
  EXPECT_EQ(outer.Run(), kRequestCancelled);  // nothing changed
  EXPECT_EQ(nested_response, kRequestCancelled);
  EXPECT_EQ(ui_.WindowsOpened().size(), 2u);
  // The event posted while the inner form ran arrived afterwards.
  bool posted_seen = false;
  for (int32_t code : outer_component.events) posted_seen |= code == EVENT::Accepted;
  EXPECT_TRUE(posted_seen);
}

TEST_F(WindowManagerTest, AFailedInitStillKillsAndReportsCancelled) {
  // A window definition with a duplicated control name cannot open.
  class BadForm : public WindowManager {
   public:
    Severity Init() override {
      if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
      AddItem(&component);
      def_ = FormDef();
      def_.controls[3].name = "?FUN:NAME";
      window_ = std::make_unique<Window>(def_);
      return Open(window_.get());
    }
    CountingComponent component;
    WindowDef def_;
    std::unique_ptr<Window> window_;
  };
  BadForm form;
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(form.DEAD, 1);
  EXPECT_EQ(form.component.kills, 1);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].request.text.find("P1$QUICKWINDOW"), std::string::npos);
  EXPECT_NE(ui_.Messages()[0].request.text.find("?FUN:NAME"), std::string::npos);
}

}  // namespace
}  // namespace qzr::testing
