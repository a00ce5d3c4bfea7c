// Tests of a query put in force on a browse over 10,000 catalogue entries:
// the list shows exactly what a model of the query selects, the query holds
// together with the browse's record filter (the quick find), a refused query
// leaves the list alone, and a query refill reads each record at most once,
// counted by a driver in front of Palisade.

#include "framework/browse_query.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/browse_manager.h"
#include "framework/browse_popup.h"
#include "framework/browse_test_support.h"
#include "framework/counting_driver.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/ini_manager.h"
#include "framework/query_manager.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/headless_backend.h"
#include "ui/popup_menu.h"

namespace qzr {
namespace {

constexpr int32_t kEntries = 10000;
constexpr int32_t kRows = 8;

class FakeList : public BrowseListControl {
 public:
  int32_t Choice() override { return choice; }
  void SetChoice(int32_t row) override { choice = row; }
  int32_t Items() override { return kRows; }
  bool Visible() override { return true; }
  void SetThumb(int) override {}
  int32_t choice = 0;
};

struct ListRow {
  int32_t ID;
  char NAME[100];
  char POSITION[1024];
};

// The entries: number i, title "Entry 00000i", complete when i is odd, and
// a poster among four.
std::string NameOf(int32_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "Entry %06d", i);
  return name;
}
const char* UserOf(int32_t i) {
  static const char* const kUsers[] = {"ann", "bob", "cy", "O'Brien"};
  return kUsers[i % 4];
}

// A browse whose record filter stands for the quick find: rows whose number
// is divisible by `divisor` (0: every row).
class FindBrowse : public BrowseManager {
 public:
  RecordStatus ValidateRecord() override {
    const RecordStatus s = BrowseManager::ValidateRecord();
    if (s != RecordStatus::kOk || divisor == 0) return s;
    const int32_t id = UfoLong(PrimaryDescriptor()->FieldData(0)).GetLong();
    return id % divisor == 0 ? RecordStatus::kOk : RecordStatus::kFiltered;
  }
  int32_t divisor = 0;
};

class BrowseQueryTest : public ::testing::Test {
 protected:
  // The file is made once for the suite; each test opens it afresh.
  static FileDescriptor Declaration() { return BrowseTestFile(suite_dir_->File("FUNC.PLX")); }
  static void SetUpTestSuite() {
    RegisterPalisadeDriver();
    counter_ = CountingDriver::Install(kPalisadeDriverName);
    suite_dir_ = new palisade::test::TempDir();
    ErrorManager errors;
    errors.SetHaltHook([](int) {});
    errors.Init();
    FileDescriptor f = Declaration();
    FileManager fm;
    fm.Init(&f, &errors);
    if (fm.Open() != SeverityNone) return;
    DoFileOp(FileOp::STREAM, f);
    for (int32_t i = 1; i <= kEntries; ++i) {
      std::fill(f.record.begin(), f.record.end(), 0);
      UfoLong(f.FieldData(0)).SetLong(i);
      UfoCString(f.FieldData(1), 100).SetText(NameOf(i));
      UfoByte(f.FieldData(3)).SetLong(i % 2);
      UfoCString(f.FieldData(5), 30).SetText(UserOf(i));
      f.memo_values[0] = "code";
      if (DoFileOp(FileOp::ADD, f) != 0) {
        fm.Close();
        return;
      }
    }
    built_ = DoFileOp(FileOp::FLUSH, f) == 0;
    fm.Close();
    fm.Kill();
    errors.Kill();
    FileStatus().Clear();
  }
  static void TearDownTestSuite() {
    delete suite_dir_;
    suite_dir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(counter_, nullptr);
    ASSERT_TRUE(built_);
    CreateEvaluator();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    file_ = Declaration();
    fm_.Init(&file_, &errors_);
    fm_.RegisterKey("P_ID", "FUN:P_ID", 1);
    rm_.Init(&fm_);
    ASSERT_EQ(fm_.Open(), SeverityNone);
    ASSERT_EQ(ViewBuilder(&file_).Build(&view_), 0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    queue_.Field("ID", &ListRow::ID);
    queue_.Field("NAME", &ListRow::NAME, TypeCode::CSTRING);
    const int position = queue_.Field("POSITION", &ListRow::POSITION);
    rows_ =
        std::make_unique<BrowseListRows>(&queue_, position, std::vector<FileDescriptor*>{&file_});
    rows_->AddField(&file_, 0, 1);
    rows_->AddField(&file_, 1, 2);
    browse_.Init(&list_, engine_.get(), rows_.get(), &rm_, &view_);
    browse_.AddSortOrder("K_ID");
    ASSERT_EQ(browse_.Open(), SeverityNone);
    browse_.ResetBrowse(false);

    query_.Init(nullptr, "Main", &errors_);
    query_.AddQueryField("FUN:NAME", "Title", "@s99");
    query_.AddQueryField("FUN:USER", "Posted by", "@s29");
    query_.AddQueryField("FUN:ID", "Number", "@n-14");
    query_.AddQueryField("FUN:FULLCODE", "Complete", "@n3");
  }
  void TearDown() override {
    browse_.Kill();
    engine_.reset();
    rm_.Kill();
    fm_.Close();
    fm_.Kill();
    errors_.Kill();
    FileStatus().Clear();
  }

  std::vector<int32_t> Ids() {
    std::vector<int32_t> ids;
    for (int32_t r = 1; r <= RECORDS(&queue_); ++r) {
      GET(&queue_, r);
      ids.push_back(queue_.record.ID);
    }
    return ids;
  }
  // The first rows the model selects, in number order.
  std::vector<int32_t> Model(const std::function<bool(int32_t)>& pick) {
    std::vector<int32_t> ids;
    for (int32_t i = 1; i <= kEntries && static_cast<int32_t>(ids.size()) < kRows; ++i) {
      if (pick(i) && (browse_.divisor == 0 || i % browse_.divisor == 0)) ids.push_back(i);
    }
    return ids;
  }

  static CountingDriver* counter_;
  static palisade::test::TempDir* suite_dir_;
  static bool built_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  FileDescriptor file_;
  FileManager fm_;
  RelationManager rm_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
  Queue<ListRow> queue_;
  std::unique_ptr<BrowseListRows> rows_;
  FakeList list_;
  FindBrowse browse_;
  QueryManager query_;
};

CountingDriver* BrowseQueryTest::counter_ = nullptr;
palisade::test::TempDir* BrowseQueryTest::suite_dir_ = nullptr;
bool BrowseQueryTest::built_ = false;

TEST_F(BrowseQueryTest, AQueryRefillListsWhatTheModelPicksReadingEachRecordAtMostOnce) {
  struct Case {
    const char* field;
    const char* middle;
    const char* low;
    const char* high;
    std::function<bool(int32_t)> pick;
  };
  const Case cases[] = {
      // One match near the end: a single pass over the whole file.
      {"FUN:NAME", "*9999", "", "", [](int32_t i) { return i == 9999; }},
      // No match at all.
      {"FUN:NAME", "*zzz", "", "", [](int32_t) { return false; }},
      {"FUN:USER", "O'Brien", "", "", [](int32_t i) { return i % 4 == 3; }},
      {"FUN:ID", "", "5000", "5004", [](int32_t i) { return i > 5000 && i < 5004; }},
      {"FUN:FULLCODE", "1", "", "", [](int32_t i) { return i % 2 == 1; }},
      {"FUN:NAME", "^entry 0099*", "", "", [](int32_t i) { return i >= 9900 && i <= 9999; }},
  };
  for (const Case& c : cases) {
    // The user had scrolled into the middle before applying the query.
    for (int k = 0; k < 3; ++k) browse_.HandleScroll(6 /* EVENT:PageDown */, 0);
    query_.ClearQuery();
    ASSERT_TRUE(query_.SetQuery(c.field, c.middle, c.low, c.high));
    counter_->Reset();
    ASSERT_TRUE(ApplyQuery(&browse_, query_));
    const int64_t reads = counter_->reads();
    EXPECT_EQ(Ids(), Model(c.pick)) << c.field << " " << c.middle;
    EXPECT_LE(reads, kEntries) << c.field << " " << c.middle;
    std::printf("query %s %s%s..%s: %lld reads\n", c.field, c.middle, c.low, c.high,
                static_cast<long long>(reads));
  }
  // An empty query lists everything again, reading one screenful.
  query_.ClearQuery();
  counter_->Reset();
  ASSERT_TRUE(ApplyQuery(&browse_, query_));
  EXPECT_EQ(Ids(), Model([](int32_t) { return true; }));
  EXPECT_LE(counter_->reads(), kRows + 1);
  EXPECT_EQ(browse_.GetFilter(kQueryFilterId), "");
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(BrowseQueryTest, TheQueryAndTheRecordFilterBothHold) {
  browse_.divisor = 3;  // the quick find lets multiples of 3 through
  query_.SetQuery("FUN:FULLCODE", "1");
  ASSERT_TRUE(ApplyQuery(&browse_, query_));
  EXPECT_EQ(Ids(), Model([](int32_t i) { return i % 2 == 1; }));
  EXPECT_EQ(Ids().front(), 3);
  browse_.divisor = 0;
  browse_.RefillList(kRefillFromStart);
  EXPECT_EQ(Ids().front(), 1);
}

TEST_F(BrowseQueryTest, ARefusedQueryLeavesTheFilterInForce) {
  query_.SetQuery("FUN:USER", "bob");
  ASSERT_TRUE(ApplyQuery(&browse_, query_));
  const std::vector<int32_t> before = Ids();
  query_.SetQuery("FUN:ID", "1) OR (1");
  counter_->Reset();
  EXPECT_FALSE(ApplyQuery(&browse_, query_));
  EXPECT_EQ(counter_->reads(), 0);
  EXPECT_EQ(Ids(), before);
  EXPECT_EQ(browse_.GetFilter(kQueryFilterId), "(FUN:USER = 'bob')");
  ASSERT_EQ(backend_.Messages().size(), 1u);
  EXPECT_EQ(backend_.Messages()[0].request.caption, "Query by Example");
  EXPECT_EQ(backend_.Messages()[0].request.text, "Number: \"1) OR (1\" is not a valid number.");
}

TEST_F(BrowseQueryTest, SavedQueriesAndClearAreItemsOfTheBrowsePopup) {
  ::setenv("QZR_CONFIG_DIR", suite_dir_->File("cfg").c_str(), 1);
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  QueryManager saved;
  saved.Init(&ini, "Main", &errors_);
  saved.AddQueryField("FUN:USER", "Posted by", "@s29");
  saved.AddQueryField("FUN:ID", "Number", "@n-14");
  auto menu = [&] {
    BrowsePopup popup;
    popup.AddMimic("!&Query", "&Query", "&Query", 0);
    AddQueryItems(&popup, saved);
    return popup;
  };
  EXPECT_EQ(menu().MenuText(nullptr), "&Query|~(No Saved Queries)|-|C&lear");

  saved.SetQuery("FUN:USER", "cy");
  ASSERT_EQ(saved.SaveQuery("by cy"), SeverityNone);
  saved.ClearQuery();
  saved.SetQuery("FUN:ID", "", "", "4");
  ASSERT_EQ(saved.SaveQuery("R&D | first {4}"), SeverityNone);
  saved.ClearQuery();
  const BrowsePopup popup = menu();
  const std::string text = popup.MenuText(nullptr);
  EXPECT_EQ(text, "&Query|&1 R&&D  first 4|&2 by cy|-|C&lear");
  PopupMenu parsed;
  std::string error;
  ASSERT_TRUE(ParsePopupMenu(text, &parsed, &error)) << error;
  EXPECT_EQ(StripAccelerator(FindPopupItem(parsed, 2)->text), "1 R&D  first 4");

  // Choosing the second saved query restores and applies it.
  const BrowsePopupItem* second = nullptr;
  for (const BrowsePopupItem& item : popup.Items()) {
    if (item.NAME == "tsQBEItem2") second = &item;
  }
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(TakeQueryItem(&browse_, &saved, *second));
  EXPECT_EQ(saved.GetQuery("FUN:USER", QueryEntry::kMiddle), "cy");
  EXPECT_EQ(Ids(), Model([](int32_t i) { return i % 4 == 2; }));

  // "C&lear" empties the query and lists everything again.
  const BrowsePopupItem& clear = popup.Items().back();
  EXPECT_EQ(clear.NAME, "tsQBEClear");
  EXPECT_TRUE(TakeQueryItem(&browse_, &saved, clear));
  EXPECT_TRUE(saved.IsEmpty());
  EXPECT_EQ(Ids(), Model([](int32_t) { return true; }));

  // Items of the browse's own are not the query's.
  EXPECT_FALSE(TakeQueryItem(&browse_, &saved, popup.Items().front()));
  ini.Kill();
  ::unsetenv("QZR_CONFIG_DIR");
}

}  // namespace
}  // namespace qzr
