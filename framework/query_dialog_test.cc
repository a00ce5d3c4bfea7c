// Tests of the query-by-example dialog through the scripted user: OK
// applies what was typed, Cancel and the close box leave the query alone,
// Clear empties it, a value the column cannot read is refused where it is
// typed, an over-long query is refused at OK, and saved queries are saved,
// restored and deleted from the "Saved Queries" tab.

#include "framework/query_dialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "drivers/palisade/test_support.h"
#include "framework/error_manager.h"
#include "framework/ini_manager.h"
#include "framework/query_manager.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

class QueryDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QZR_CONFIG_DIR", dir_.File("cfg").c_str(), 1);
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
    FileStatus().Clear();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    ini_.Init("qzrfunctions.INI");
    query_.Init(&ini_, "Main", &errors_);
    query_.AddQueryField("FUN:NAME", "Title", "@s99");
    query_.AddQueryField("FUN:ID", "Number", "@n-14");
    query_.AddQueryField("FUN:USER", "Posted by", "@s29");
    query_.AddQueryField("FUN:DESCRIPTION", "Description", "@s255");
  }
  void TearDown() override {
    ini_.Kill();
    errors_.Kill();
    FileStatus().Clear();
    ::unsetenv("QZR_CONFIG_DIR");
  }

  bool Ask() {
    QueryDialog dialog(&query_);
    return dialog.Ask();
  }
  std::string Middle(const char* field) { return query_.GetQuery(field, QueryEntry::kMiddle); }

  palisade::test::TempDir dir_;
  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  ErrorManager errors_;
  IniManager ini_;
  QueryManager query_;
};

TEST_F(QueryDialogTest, OkAppliesTheTypedEntries) {
  query_.SetQuery("FUN:USER", "ann");
  ui_.ExpectWindow("Query by Example Settings");
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Choice(kQbeSheet), 2);  // the settings tab first
    EXPECT_EQ(w.Text(kQbeFieldBase), "Title");
    EXPECT_EQ(w.Text(QbeMiddleControl(3)), "ann");  // the entries as they stand
    EXPECT_EQ(w.Text(kQbeOk), "&OK");
    EXPECT_EQ(w.Text(kQbeCancel), "&Cancel");
    EXPECT_EQ(w.Text(kQbeClear), "C&lear");
    EXPECT_EQ(w.Text(kQbeSavedTab), "Saved Queries");
    EXPECT_EQ(w.Text(kQbeSettingsTab), "Query Settings");
  });
  ui_.Type(QbeMiddleControl(1), "*sort");
  ui_.Type(QbeLowControl(2), "3");
  ui_.Type(QbeHighControl(2), "9");
  ui_.Click(kQbeOk);
  EXPECT_TRUE(Ask());
  EXPECT_EQ(query_.BuildFilter(),
            "INSTRING('sort',FUN:NAME,1,1) <> 0 AND (FUN:ID > 3) AND (FUN:ID < 9) AND "
            "(FUN:USER = 'ann')");
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(QueryDialogTest, CancelAndTheCloseBoxLeaveTheQueryAsItWas) {
  query_.SetQuery("FUN:NAME", "kept");
  ui_.Type(QbeMiddleControl(1), "changed");
  ui_.Click(kQbeCancel);
  EXPECT_FALSE(Ask());
  EXPECT_EQ(Middle("FUN:NAME"), "kept");

  ui_.Type(QbeMiddleControl(1), "changed");
  ui_.Close();
  EXPECT_FALSE(Ask());
  EXPECT_EQ(Middle("FUN:NAME"), "kept");
}

TEST_F(QueryDialogTest, ClearEmptiesEveryEntry) {
  query_.SetQuery("FUN:NAME", "a", "b", "c");
  query_.SetQuery("FUN:ID", "5");
  ui_.Click(kQbeClear);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(QbeMiddleControl(1)), "");
    EXPECT_EQ(w.Text(QbeLowControl(1)), "");
    EXPECT_EQ(w.Text(QbeMiddleControl(2)), "");
  });
  ui_.Click(kQbeOk);
  EXPECT_TRUE(Ask());
  EXPECT_TRUE(query_.IsEmpty());
  EXPECT_EQ(query_.BuildFilter(), "");
}

TEST_F(QueryDialogTest, AValueTheColumnCannotReadIsRefusedWhereItIsTyped) {
  ui_.Type(QbeMiddleControl(2), "1) OR (1");
  ui_.AnswerMessage(kButtonOk);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.focus, QbeMiddleControl(2)); });
  // OK with the bad value still there: refused again, the dialog stays.
  ui_.Click(kQbeOk);
  ui_.AnswerMessage(kButtonOk);
  ui_.ExpectWindow("Query by Example Settings");
  ui_.Type(QbeMiddleControl(2), "<12");
  ui_.Click(kQbeOk);
  EXPECT_TRUE(Ask());
  ASSERT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(ui_.Messages()[0].request.caption, "Query by Example");
  EXPECT_EQ(ui_.Messages()[0].request.text, "Number: \"1) OR (1\" is not a valid number.");
  EXPECT_EQ(query_.BuildFilter(), "(FUN:ID <= 12)");
}

TEST_F(QueryDialogTest, AnOverLongQueryIsRefusedAtOk) {
  const std::string v = "*" + std::string(400, 'x');
  for (int f = 1; f <= 4; ++f) {
    for (int c : {QbeLowControl(f), QbeMiddleControl(f), QbeHighControl(f)}) ui_.Type(c, v);
  }
  ui_.Click(kQbeOk);
  ui_.AnswerMessage(kButtonOk);
  ui_.Click(kQbeCancel);
  EXPECT_FALSE(Ask());
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].request.text.find("too long"), std::string::npos);
  EXPECT_TRUE(query_.IsEmpty());
}

TEST_F(QueryDialogTest, AnEntryCannotBeTypedBeyondWhatTheQueryKeeps) {
  ui_.Type(QbeMiddleControl(1), std::string(498, 'x') + "\xC3\xA9");  // 500 bytes
  ui_.Then(
      [](HeadlessWindow& w) { EXPECT_EQ(w.Text(QbeMiddleControl(1)), std::string(498, 'x')); });
  ui_.Click(kQbeOk);
  EXPECT_TRUE(Ask());
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(ui_.Beeps(), std::vector<int>{kBeepStandard});
  EXPECT_EQ(query_.Fields()[0].MIDDLE, std::string(498, 'x'));
}

TEST_F(QueryDialogTest, SavedQueriesAreSavedRestoredAndDeleted) {
  // Save what is typed, without applying it.
  ui_.Type(QbeMiddleControl(1), "^abc");
  ui_.Type(QbeMiddleControl(3), "O'Brien");
  ui_.SelectTab(kQbeSheet, 1);
  ui_.Type(kQbeName, "Mine ] = $");
  ui_.Click(kQbeSave);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Rows(kQbeSavedList), std::vector<std::vector<std::string>>({{"Mine ] = $"}}));
    EXPECT_TRUE(w.Enabled(kQbeRestore));
  });
  ui_.Click(kQbeCancel);
  EXPECT_FALSE(Ask());
  EXPECT_TRUE(query_.IsEmpty());
  EXPECT_EQ(query_.SavedQueries(), std::vector<std::string>({"Mine ] = $"}));

  // Restore it into the entries, then apply.
  ui_.SelectTab(kQbeSheet, 1);
  ui_.SelectRow(kQbeSavedList, 1);
  ui_.Click(kQbeRestore);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Choice(kQbeSheet), 2);
    EXPECT_EQ(w.Text(QbeMiddleControl(1)), "^abc");
    EXPECT_EQ(w.Text(QbeMiddleControl(3)), "O'Brien");
  });
  ui_.Click(kQbeOk);
  EXPECT_TRUE(Ask());
  EXPECT_EQ(query_.BuildFilter(), "(UPPER(FUN:NAME) = 'ABC') AND (FUN:USER = 'O''Brien')");

  // Delete it, after a question.
  ui_.SelectTab(kQbeSheet, 1);
  ui_.SelectRow(kQbeSavedList, 1);
  ui_.Click(kQbeDelete);
  ui_.AnswerMessage(kButtonYes);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_TRUE(w.Rows(kQbeSavedList).empty());
    EXPECT_FALSE(w.Enabled(kQbeDelete));
  });
  ui_.Click(kQbeCancel);
  EXPECT_FALSE(Ask());
  EXPECT_TRUE(query_.SavedQueries().empty());
}

TEST_F(QueryDialogTest, SavingWithoutANameAsksForOne) {
  ui_.Type(QbeMiddleControl(1), "x");
  ui_.Click(kQbeSave);
  ui_.AnswerMessage(kButtonOk);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.focus, kQbeName); });
  ui_.Click(kQbeCancel);
  EXPECT_FALSE(Ask());
  EXPECT_TRUE(query_.SavedQueries().empty());
}

}  // namespace
}  // namespace qzr
