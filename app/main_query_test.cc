// Tests of query by example on Main, run as the program runs it (module
// start-up, the main procedure, the windows through the scripted user) over
// a catalogue made by each test: the dialog opened from the "Browse
// Actions" popup and with Ctrl+Q, the list narrowed to what the query
// selects, "C&lear", the query together with the quick find, a value the
// dialog refuses, and a saved query offered in the popup after a restart.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/func_file.h"
#include "app/main_browse.h"
#include "app/main_test_support.h"
#include "app/main_window_def.h"
#include "app/program.h"
#include "framework/browse_query.h"
#include "framework/query_dialog.h"
#include "ui/headless_backend.h"
#include "ui/message.h"
#include "ui/popup_menu.h"

namespace qzr {
namespace {

using ::testing::ElementsAre;

// Query field numbers in Main's dialog.
constexpr int kTitle = 1;
constexpr int kPoster = 4;
constexpr int kNumber = 5;
constexpr int kComplete = 6;

FuncEntry Entry(std::string title, std::string user, bool complete = false) {
  FuncEntry e;
  e.title = std::move(title);
  e.posted_by = std::move(user);
  e.complete = complete;
  e.code = "code of " + e.title;
  return e;
}

void NoForm() {
  PendingRequest = 0;
  LastResponse = kRequestCancelled;
}

class MainQueryTest : public MainWindowTest {
 protected:
  void SetUp() override { SetUpMain(&NoForm); }

  // The texts of the last popup shown, without their "&".
  std::vector<std::string> LastPopup() const {
    std::vector<std::string> out;
    const auto popups = ui_.Popups();
    if (popups.empty()) return out;
    for (const PopupItem& item : popups.back().menu.items) {
      out.push_back(item.separator ? "-"
                                   : (item.disabled ? "~" : "") + StripAccelerator(item.text));
    }
    return out;
  }

  std::vector<FuncEntry> Fixture() {
    return {Entry("alpha", "ann", true), Entry("beta", "bob"), Entry("gamma", "ann"),
            Entry("delta", "cy", true), Entry("Alphabet", "O'Brien")};
  }
};

TEST_F(MainQueryTest, TheDialogFromThePopupNarrowsTheListAndClearShowsAllAgain) {
  std::vector<std::string> queried, cleared, menu;
  ui_.RightClick(kMainList, 1);
  ui_.AnswerPopup("Query");
  ui_.ExpectWindow("Query by Example Settings");
  ui_.Type(QbeMiddleControl(kPoster), "ann");
  ui_.Click(kQbeOk);
  ui_.ExpectWindow("QZR Functions Database");
  ui_.Then([&](HeadlessWindow& w) { queried = Titles(w); });
  ui_.RightClick(kMainList, 1);
  ui_.AnswerPopup("Clear");
  ui_.Then([&](HeadlessWindow& w) {
    cleared = Titles(w);
    menu = LastPopup();
  });
  ui_.Click(kMainClose);
  RunMain(Fixture());
  EXPECT_THAT(queried, ElementsAre("alpha", "gamma"));
  EXPECT_THAT(cleared, ElementsAre("alpha", "beta", "gamma", "delta", "Alphabet"));
  EXPECT_THAT(menu, ElementsAre("Insert", "Change", "Delete", "-", "Query", "~(No Saved Queries)",
                                "-", "Clear"));
}

TEST_F(MainQueryTest, CtrlQOpensTheDialogAndTheQueryHoldsWithTheQuickFind) {
  std::vector<std::string> complete, both, find_off;
  ui_.Key(kQueryDialogKey, kMainFindEntry);  // anywhere in the window
  ui_.ExpectWindow("Query by Example Settings");
  ui_.Type(QbeMiddleControl(kComplete), "1");
  ui_.Click(kQbeOk);
  ui_.Then([&](HeadlessWindow& w) { complete = Titles(w); });
  ui_.Type(kMainFindEntry, "alpha");
  ui_.Click(kMainFindButton);
  ui_.Then([&](HeadlessWindow& w) { both = Titles(w); });
  ui_.Click(kMainFindButton);  // the find off: the query alone again
  ui_.Then([&](HeadlessWindow& w) { find_off = Titles(w); });
  ui_.Click(kMainClose);
  RunMain(Fixture());
  EXPECT_THAT(complete, ElementsAre("alpha", "delta"));
  EXPECT_THAT(both, ElementsAre("alpha"));  // "Alphabet" is not complete
  EXPECT_THAT(find_off, ElementsAre("alpha", "delta"));
}

TEST_F(MainQueryTest, AValueThatIsNoNumberIsRefusedInTheDialog) {
  std::vector<std::string> listed;
  ui_.Key(kQueryDialogKey, kMainList);
  ui_.Type(QbeMiddleControl(kNumber), "1) OR (1");
  ui_.AnswerMessage(kButtonOk);
  ui_.Type(QbeMiddleControl(kNumber), ">3");
  ui_.Click(kQbeOk);
  ui_.Then([&](HeadlessWindow& w) { listed = Titles(w); });
  ui_.Click(kMainClose);
  RunMain(Fixture());
  EXPECT_THAT(listed, ElementsAre("gamma", "delta", "Alphabet"));  // ">3" is ">="
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].request.text, "Number: \"1) OR (1\" is not a valid number.");
}

TEST_F(MainQueryTest, ASavedQueryIsOfferedInThePopupAfterARestart) {
  // Save a query from the dialog, without applying it.
  ui_.Key(kQueryDialogKey, kMainList);
  ui_.Type(QbeMiddleControl(kTitle), "^alpha*");
  ui_.SelectTab(kQbeSheet, 1);
  ui_.Type(kQbeName, "Alphas & co");
  ui_.Click(kQbeSave);
  ui_.Click(kQbeCancel);
  ui_.Click(kMainClose);
  RunMain(Fixture());

  // The next run: the popup lists it; choosing it applies it.
  std::vector<std::string> menu, listed;
  ui_.RightClick(kMainList, 1);
  ui_.AnswerPopup("1 Alphas & co");
  ui_.Then([&](HeadlessWindow& w) {
    menu = LastPopup();
    listed = Titles(w);
  });
  ui_.Click(kMainClose);
  RunMain();
  EXPECT_THAT(
      menu, ElementsAre("Insert", "Change", "Delete", "-", "Query", "1 Alphas & co", "-", "Clear"));
  EXPECT_THAT(listed, ElementsAre("alpha", "Alphabet"));
}

}  // namespace
}  // namespace qzr
