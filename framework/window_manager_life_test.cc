// A whole session over a real catalogue file: a calling window starts the
// update form as a nested procedure for every request, and the user goes
// through insert, change, view and delete with every confirmation, recalls
// fields with Ctrl+H, answers the close questions and meets the error
// window. Also the toolbar hooks and the reset owed after a lost focus.

#include <gtest/gtest.h>

#include "framework/error_window.h"
#include "framework/window_manager_test_support.h"

namespace qzr::testing {
namespace {

// The caller's controls.
constexpr int kInsertButton = 1;
constexpr int kChangeButton = 2;
constexpr int kDeleteButton = 3;
constexpr int kViewButton = 4;
constexpr int kCloseButton = 5;
constexpr int kProblemButton = 6;

WindowDef CallerDef() {
  WindowDef def;
  def.resource = "test$caller";
  def.name = "P1$WINDOW";
  def.caption = "QZR Functions Database";
  def.at = Rect{0, 0, 300, 120};
  const char* names[] = {"?INSERT", "?CHANGE", "?DELETE", "?VIEW", "?CLOSE", "?PROBLEM"};
  const char* texts[] = {"&Insert", "&Change", "&Delete", "&View", "Close", "Problem"};
  for (int i = 0; i < 6; ++i) {
    ControlDef c;
    c.number = i + 1;
    c.kind = ControlKind::kButton;
    c.name = names[i];
    c.text = texts[i];
    c.at = Rect{4 + 48 * i, 4, 44, 14};
    def.controls.push_back(c);
  }
  return def;
}

// The calling procedure: each action button runs the update form with its
// request through RunProcedure, as the browse does.
class Caller : public WindowManager {
 public:
  Caller(RelationManager* relate, ErrorManager* errors, HistoryCopy* history)
      : def_(CallerDef()), window_(def_), relate_(relate), errors_(errors), history_(history) {}

  Severity Init() override {
    if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
    ERRORS = errors_;
    RESETONGAINFOCUS = 1;
    AddButton(kCloseButton, kRequestCompleted);
    AddItem(&component);
    if (Severity s = Open(&window_); s != SeverityNone) return s;
    RegisterKeys();
    return SeverityNone;
  }

  int RunProcedure(int32_t number, int32_t request) override {
    TestForm form(static_cast<uint8_t>(request), relate_, errors_, history_);
    form.configure = [](TestForm& f) { f.CANCELACTION = cancel_action; };
    return form.Run();
  }

  Severity HandleAccepted() override {
    Severity s = WindowManager::HandleAccepted();
    if (s != SeverityNone) return s;
    switch (ThisEvent().control) {
      case kInsertButton:
        responses.push_back(RunProcedure(1, kInsertRecord));
        break;
      case kChangeButton:
        responses.push_back(RunProcedure(1, kChangeRecord));
        break;
      case kDeleteButton:
        responses.push_back(RunProcedure(1, kDeleteRecord));
        break;
      case kViewButton:
        responses.push_back(RunProcedure(1, kViewRecord));
        break;
      case kProblemButton:
        errors_->Throw(25);
        break;
    }
    return SeverityNone;
  }

  static inline uint8_t cancel_action = 3;
  std::vector<int> responses;
  CountingComponent component;

 private:
  WindowDef def_;
  Window window_;
  RelationManager* relate_;
  ErrorManager* errors_;
  HistoryCopy* history_;
};

using WindowManagerLifeTest = FormTest;

TEST_F(WindowManagerLifeTest, AWholeSessionOverTheCatalogue) {
  Caller caller(&rm_, &errors_, &history_);
  // Insert: typed, the close box asks "Save Record", Cancel stays, OK saves.
  ui_.Click(kInsertButton);
  ui_.ExpectWindow("Update Information");
  ui_.Type(kName, "alpha");
  ui_.Type(kCode, "alpha();");
  ui_.Close();
  ui_.AnswerMessage(kButtonCancel);
  ui_.Click(kOk);
  // A second insert recalls the first one's title and code with Ctrl+H.
  ui_.Click(kInsertButton);
  ui_.Key(kKeyCtrlH, kName);
  ui_.Focus(kCode);
  ui_.Key(kKeyCtrlH, kCode);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kName), "alpha");
    EXPECT_EQ(w.Text(kCode), "alpha();");
  });
  ui_.Type(kName, "beta");
  ui_.Click(kOk);
  // Change record 1: first abandoned (No to "Save Record"), then saved.
  ui_.Then([this](HeadlessWindow&) { ASSERT_TRUE(Read(1)); });
  ui_.Click(kChangeButton);
  ui_.Type(kName, "alpha, changed");
  ui_.Click(kCancel);
  ui_.AnswerMessage(kButtonNo);
  ui_.Then([this](HeadlessWindow&) { ASSERT_TRUE(Read(1)); });
  ui_.Click(kChangeButton);
  ui_.Type(kName, "alpha, changed");
  ui_.Click(kOk);
  // View it: read-only, Save only closes.
  ui_.Click(kViewButton);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kName), "alpha, changed");
    EXPECT_TRUE(w.ReadOnly(kName));
  });
  ui_.Click(kOk);
  // Delete record 2: declined, then confirmed.
  ui_.Then([this](HeadlessWindow&) { ASSERT_TRUE(Read(2)); });
  ui_.Click(kDeleteButton);
  ui_.AnswerMessage(kButtonNo);
  ui_.Click(kDeleteButton);
  ui_.AnswerMessage(kButtonYes);
  // From now on messages go to the error window with their history.
  ui_.Then([this](HeadlessWindow&) {
    errors_.HISTORYTHRESHOLD = -1;
    errors_.HISTORYVIEWLEVEL = SeverityInform;
    ASSERT_TRUE(Read(1));
  });
  ui_.Click(kDeleteButton);
  ui_.ExpectWindow("Confirm Delete");
  ui_.Click(kErrorFirstButton);  // "&No"
  ui_.Click(kProblemButton);
  ui_.ExpectWindow("No Records");
  ui_.Then([](HeadlessWindow& w) {
    ASSERT_EQ(w.Rows(kErrorList).size(), 2u);
    EXPECT_EQ(w.Rows(kErrorList)[0][0], "Are you sure you want to delete the highlighted record?");
    EXPECT_EQ(w.Text(kErrorFirstButton), "O&k");
  });
  ui_.Key(kKeyEsc);
  ui_.ExpectWindow("QZR Functions Database");
  ui_.Click(kCloseButton);

  EXPECT_EQ(caller.Run(), kRequestCompleted);
  EXPECT_TRUE(ui_.Failures().empty());
  EXPECT_EQ(caller.responses,
            (std::vector<int>{kRequestCompleted, kRequestCompleted, kRequestCancelled,
                              kRequestCompleted, kRequestCancelled, kRequestCancelled,
                              kRequestCompleted, kRequestCancelled}));
  EXPECT_EQ(MessageTitles(), (std::vector<std::string>{"Save Record", "Save Record",
                                                       "Confirm Delete", "Confirm Delete"}));
  EXPECT_EQ(Names(), std::vector<std::string>{"alpha, changed"});
  ASSERT_TRUE(Read(1));
  EXPECT_EQ(file_.memo_values[0], "alpha();");
  // Every form the caller ran made it reset when it came back to the front,
  // forced (it had lost the focus with RESETONGAINFOCUS set).
  EXPECT_GE(caller.component.forced_resets, 6);
  EXPECT_EQ(caller.component.kills, 1);
}

// The toolbar's hooks.
class RecordingToolbar : public WindowToolbar {
 public:
  void Init(WindowManager* w) override { window = w; }
  void TakeEvent(int32_t* vcr, WindowManager*) override {
    ++events;
    seen_vcr = vcr;
  }
  void DisplayButtons() override { ++displays; }
  void Kill() override { ++kills; }
  WindowManager* window = nullptr;
  int events = 0, displays = 0, kills = 0;
  int32_t* seen_vcr = nullptr;
};

TEST_F(WindowManagerLifeTest, TheToolbarSeesAcceptedControlsAndIsKilled) {
  int32_t id = AddRecord("one");
  ASSERT_TRUE(Read(id));
  RecordingToolbar toolbar;
  int32_t nav_request = 5;
  TestForm form(kChangeRecord, &rm_, &errors_, &history_);
  form.configure = [&](TestForm& f) {
    f.SetToolbar(&toolbar);
    f.VCRREQUEST = &nav_request;
  };
  ui_.Click(kNested);
  ui_.Click(kCancel);  // cancelled: the caller's navigation request is cleared
  EXPECT_EQ(form.Run(), kRequestCancelled);
  EXPECT_EQ(toolbar.window, &form);
  EXPECT_EQ(toolbar.events, 2);
  EXPECT_EQ(toolbar.seen_vcr, &nav_request);
  EXPECT_EQ(toolbar.kills, 1);
  EXPECT_EQ(nav_request, 0);
}

TEST_F(WindowManagerLifeTest, SaveAndStayAddsTheRecordThenChangesIt) {
  TestForm form(kInsertRecord, &rm_, &errors_, &history_);
  form.configure = [](TestForm& f) { f.SAVECONTROL = kNested; };
  ui_.Type(kName, "draft");
  ui_.Click(kNested);  // saved, the form stays and now edits the new record
  ui_.ExpectWindow("Update Information");
  ui_.Then([&form](HeadlessWindow&) { EXPECT_EQ(form.REQUEST, kChangeRecord); });
  ui_.Type(kName, "final");
  ui_.Click(kNested);  // saved again as a change
  ui_.Type(kName, "final, completed");
  ui_.Click(kOk);
  EXPECT_EQ(form.Run(), kRequestCompleted);
  EXPECT_EQ(Names(), std::vector<std::string>{"final, completed"});
}

// A window of one numeric entry and a button, bound to a LONG.
class NumberWindow : public WindowManager {
 public:
  NumberWindow() {
    ControlDef entry;
    entry.number = 1;
    entry.kind = ControlKind::kEntry;
    entry.name = "?COUNT";
    entry.picture = "@n3";
    entry.at = Rect{4, 4, 40, 12};
    ControlDef ok;
    ok.number = 2;
    ok.kind = ControlKind::kButton;
    ok.name = "?OK";
    ok.text = "OK";
    ok.at = Rect{4, 20, 40, 14};
    def_.name = "NUMBERS";
    def_.caption = "Numbers";
    def_.at = Rect{0, 0, 100, 40};
    def_.controls = {entry, ok};
  }
  Severity Init() override {
    if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
    AddButton(2, kRequestCompleted);
    window_ = std::make_unique<Window>(def_);
    if (Severity s = Open(window_.get()); s != SeverityNone) return s;
    UfoSlot slot;
    window_->Use(1, *slot.Make(TypeCode::LONG, &count));
    window_->Display();
    return SeverityNone;
  }
  int32_t count = 7;

 private:
  WindowDef def_;
  std::unique_ptr<Window> window_;
};

TEST_F(WindowManagerLifeTest, RejectedInputBeepsAndLeavesTheVariableAlone) {
  NumberWindow w;
  ui_.Type(1, "abc");
  ui_.Then([&w](HeadlessWindow& m) {
    EXPECT_EQ(w.count, 7);
    EXPECT_EQ(m.focus, 1);  // back on the control
  });
  ui_.Type(1, "12");
  ui_.Then([&w](HeadlessWindow&) { EXPECT_EQ(w.count, 12); });
  ui_.Click(2);
  EXPECT_EQ(w.Run(), kRequestCompleted);
  EXPECT_EQ(ui_.Beeps(), std::vector<int>{kBeepStandard});
  int rejected = 0;
  for (const auto& e : ui_.Events()) rejected += e.event.code == EVENT::Rejected;
  EXPECT_EQ(rejected, 1);
}

}  // namespace
}  // namespace qzr::testing
