// Tests of the browse as a component of its window, through the scripted
// user: the keys, buttons, double click and popup that run the update
// procedure with their requests, the buttons that need a row, a row whose
// record is gone, the record an insert added shown selected, the refresh
// when the window regains the focus, and an iconized window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/browse_manager.h"
#include "framework/browse_test_support.h"
#include "framework/window_manager.h"
#include "ui/event.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/window.h"

namespace qzr {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

enum : int { kEntry = 1, kList = 2, kInsert = 3, kChange = 4, kDelete = 5, kClose = 6 };

WindowDef BrowseWindowDef() {
  WindowDef d;
  d.resource = "test$browse";
  d.name = "BROWSE";
  d.caption = "Browse";
  d.at = {0, 0, 200, 120};
  d.modal = false;
  d.controls = {
      {.kind = ControlKind::kEntry, .name = "?FIND", .picture = "@s20", .at = {4, 4, 80, 10}},
      {.kind = ControlKind::kList,
       .name = "?LIST",
       .format = "40R(2)|M~ID~@n6@80L(2)~Name~@s20@",
       .at = {4, 18, 190, 60},  // five rows under the headers
       .flags = kControlImmediate},
      {.kind = ControlKind::kButton, .name = "?INSERT", .text = "&Insert", .at = {4, 90, 40, 14}},
      {.kind = ControlKind::kButton, .name = "?CHANGE", .text = "&Change", .at = {50, 90, 40, 14}},
      {.kind = ControlKind::kButton, .name = "?DELETE", .text = "&Delete", .at = {96, 90, 40, 14}},
      {.kind = ControlKind::kButton, .name = "?CLOSE", .text = "Close", .at = {150, 90, 40, 14}},
  };
  return d;
}

// A browse procedure as a program builds one; the update procedure is the
// test's.
class BrowseProcedure : public WindowManager {
 public:
  BrowseProcedure(BrowseFixture* f) : f_(f), window_(def_) {}

  Severity Init() override {
    if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
    AddButton(kClose, kRequestCompleted);
    browse.Init(kList, f_->engine.get(), f_->rows.get(), &f_->rm, this, &f_->view);
    browse.INSERTCONTROL = kInsert;
    browse.CHANGECONTROL = kChange;
    browse.DELETECONTROL = kDelete;
    browse.ASKPROCEDURE = 1;
    AddItem(&browse);
    if (Severity s = Open(&window_); s != SeverityNone) return s;
    window_.From(kList, &f_->queue);
    browse.AddSortOrder("K_ID");
    browse.Open();
    RegisterKeys();
    return SeverityNone;
  }
  int RunProcedure(int32_t number, int32_t request) override {
    requests.push_back(request);
    // The record the procedure is handed.
    records.push_back(f_->Current());
    return form ? form(request) : kRequestCancelled;
  }

  BrowseManager browse;
  std::vector<int32_t> requests;
  std::vector<int32_t> records;
  std::function<int(int32_t)> form;

 private:
  BrowseFixture* f_;
  WindowDef def_ = BrowseWindowDef();
  Window window_;
};

class BrowseWindowTest : public ::testing::Test {
 protected:
  BrowseWindowTest() {
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
  }
  // The ID shown on `row` of the list.
  static std::string IdOn(const HeadlessWindow& w, int row) {
    const auto rows = w.Rows(kList);
    if (row < 1 || static_cast<size_t>(row) > rows.size()) return "";
    return rows[static_cast<size_t>(row - 1)][0];
  }

  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  BrowseFixture f_;
};

TEST_F(BrowseWindowTest, KeysButtonsDoubleClickAndPopupRunTheUpdateProcedure) {
  f_.Fill(8);
  BrowseProcedure p(&f_);
  ui_.SelectRow(kList, 2);
  ui_.Key(kKeyCtrlEnter, kList);
  ui_.Key(kKeyInsert, kList);
  ui_.Key(kKeyDelete, kList);
  ui_.Key(kKeyDelete, kEntry);  // in the entry the key keeps its meaning
  ui_.DoubleClick(kList, 3);
  ui_.RightClick(kList, 1);
  ui_.AnswerPopup("Delete");
  ui_.Click(kChange);
  ui_.Click(kClose);
  EXPECT_EQ(p.Run(), kRequestCompleted);
  EXPECT_THAT(p.requests, ElementsAre(kChangeRecord, kInsertRecord, kDeleteRecord, kChangeRecord,
                                      kDeleteRecord, kChangeRecord));
  // Each row action had its row's record, read afresh.
  EXPECT_EQ(p.records[0], 20);
  EXPECT_EQ(p.records[2], 20);
  EXPECT_EQ(p.records[3], 30);
  EXPECT_EQ(p.records[4], 10);
  // The popup: the actions set, in order, in the browse's notation.
  const auto popups = ui_.Popups();
  ASSERT_EQ(popups.size(), 1u);
  std::vector<std::string> shown;
  for (const PopupItem& item : popups[0].menu.items) shown.push_back(item.text);
  EXPECT_THAT(shown, ElementsAre("&Insert", "&Change", "&Delete"));
  std::vector<std::string> names;
  for (const BrowsePopupItem& item : p.browse.Popup().Items()) names.push_back(item.NAME);
  EXPECT_THAT(names, ElementsAre("!&Insert&Insert", "!&Change&Change", "!&Delete&Delete"));
  EXPECT_EQ(p.browse.Popup().NAME, "Browse Actions");
}

TEST_F(BrowseWindowTest, ChangeAndDeleteAreOffWhileTheListIsEmpty) {
  BrowseProcedure p(&f_);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_TRUE(w.Enabled(kInsert));
    EXPECT_FALSE(w.Enabled(kChange));
    EXPECT_FALSE(w.Enabled(kDelete));
  });
  ui_.Key(kKeyCtrlEnter, kList);
  ui_.Key(kKeyDelete, kList);
  // The popup would show them disabled (an empty list has no row to
  // right-click, but the menu is the same one).
  ui_.Then([&p](HeadlessWindow&) {
    p.browse.BuildPopup();
    EXPECT_EQ(p.browse.Popup().MenuText(Window::Active()), "&Insert|~&Change|~&Delete");
  });
  ui_.Key(kKeyInsert, kList);
  ui_.Close();
  p.form = [this](int32_t request) {
    f_.Add(40);  // the form adds an entry
    return kRequestCompleted;
  };
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_TRUE(w.Enabled(kChange));
    EXPECT_TRUE(w.Enabled(kDelete));
  });
  p.Run();
  EXPECT_THAT(p.requests, ElementsAre(kInsertRecord));
}

TEST_F(BrowseWindowTest, ARowWhoseRecordIsGoneIsNotActedOn) {
  f_.Fill(8);
  BrowseProcedure p(&f_);
  ui_.SelectRow(kList, 2);
  ui_.Then([this](HeadlessWindow&) { f_.Remove(20); });
  ui_.Key(kKeyCtrlEnter, kList);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(IdOn(w, 1), "10");
    EXPECT_EQ(IdOn(w, 2), "30");  // refilled: the neighbour on the row
    EXPECT_EQ(w.Choice(kList), 2);
  });
  ui_.Key(kKeyCtrlEnter, kList);
  ui_.Close();
  p.Run();
  EXPECT_THAT(p.requests, ElementsAre(kChangeRecord));
  EXPECT_THAT(p.records, ElementsAre(30));
}

TEST_F(BrowseWindowTest, TheRecordAnInsertAddedIsShownSelectedOnTheRow) {
  f_.Fill(20);
  BrowseProcedure p(&f_);
  p.form = [this](int32_t request) {
    f_.Add(155);  // far below the rows shown
    return kRequestCompleted;
  };
  ui_.SelectRow(kList, 3);
  ui_.Click(kInsert);
  ui_.Then([&](HeadlessWindow& w) {
    EXPECT_EQ(w.Choice(kList), 3);
    EXPECT_EQ(IdOn(w, 3), "155");
    EXPECT_EQ(IdOn(w, 2), "150");
    EXPECT_EQ(f_.Current(), 155);
  });
  ui_.Close();
  p.Run();
}

TEST_F(BrowseWindowTest, RegainingTheFocusRereadsOnlyWhatAnotherOpenerChanged) {
  f_.Fill(3);
  BrowseProcedure p(&f_);
  int64_t reads = -1;
  ui_.Then([&](HeadlessWindow&) {
    f_.counter->Reset();
    Window::Active()->Post(EVENT::GainFocus);
  });
  ui_.Then([&](HeadlessWindow&) { reads = f_.counter->reads(); });
  // Another opener of the file adds an entry.
  ui_.Then([&](HeadlessWindow&) {
    f_.AddThroughAnotherOpener(25);
    Window::Active()->Post(EVENT::GainFocus);
  });
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(IdOn(w, 3), "25");
    EXPECT_EQ(IdOn(w, 4), "30");
  });
  ui_.Close();
  p.Run();
  EXPECT_EQ(reads, 0);
}

TEST_F(BrowseWindowTest, AnIconizedWindowFillsWhenItIsRestored) {
  f_.Fill(3);
  BrowseProcedure p(&f_);
  ui_.Iconize();
  ui_.Then([&](HeadlessWindow&) {
    f_.Add(15);
    f_.counter->Reset();
    Window::Active()->Post(EVENT::GainFocus);
  });
  ui_.Then([&](HeadlessWindow& w) {
    EXPECT_EQ(f_.counter->reads(), 0);
    EXPECT_EQ(IdOn(w, 2), "20");
  });
  ui_.Restore();
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(IdOn(w, 2), "15"); });
  ui_.Close();
  p.Run();
}

}  // namespace
}  // namespace qzr
