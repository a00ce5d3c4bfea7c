// Tests of the view manager over a real Palisade file of the catalogue's
// shape: key order and a second order, reading at both ends, range limits of
// every kind (quoting included), named filters combined with a range, a
// record filter that skips rows, a filter the view refuses, and the life
// cycle (a view opened elsewhere, Kill, saved buffers).

#include "framework/view_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/func_test_declaration.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

// The catalogue's file with a second key on the title.
FileDescriptor Func(const std::string& path) {
  return FuncTestDeclaration(path, kPalisadeDriverName)
      .Key("K_NAME", {{"NAME"}}, kKeyDup | kKeyNocase)
      .Build();
}

struct Row {
  int32_t id;
  const char* name;
  const char* user;
  uint8_t fullcode;
  const char* code;
};

// Twelve rows; titles in an order that differs from the numbers, users
// shared, one with a quote.
const Row kRows[] = {
    {1, "Zeta sort", "ann", 1, "int main() {}"},
    {2, "alpha parse", "bob", 0, "skip me"},
    {3, "Mu hash", "O'Brien", 1, "hash(x)"},
    {4, "beta list", "ann", 0, "list()"},
    {5, "Kappa tree", "bob", 1, "tree"},
    {6, "delta map", "ann", 1, "skip this too"},
    {7, "Gamma set", "cy", 0, "set"},
    {8, "epsilon str", "bob", 1, "str"},
    {9, "Iota queue", "ann", 0, "queue"},
    {10, "eta heap", "cy", 1, "heap"},
    {11, "Theta graph", "ann", 1, "graph"},
    {12, "Lambda trie", "bob", 0, "trie"},
};

void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  const int i = f.FieldIndex(label);
  UfoCString(f.FieldData(i), f.fields[static_cast<size_t>(i)].size).SetText(v);
}

int32_t Id(FileDescriptor& f) {
  return UfoLong(f.FieldData(0)).GetLong();
}

class ViewManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    CreateEvaluator();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    file_ = Func(dir_.File("FUNC.PLX"));
    fm_.Init(&file_, &errors_);
    fm_.FILENAMEVALUE = "func";
    fm_.RegisterKey("P_ID", "FUN:P_ID", 1);
    fm_.RegisterKey("K_NAME", "");
    ASSERT_EQ(fm_.Open(), SeverityNone);
    for (const Row& r : kRows) {
      std::fill(file_.record.begin(), file_.record.end(), 0);
      UfoLong(file_.FieldData(0)).SetLong(r.id);
      SetText(file_, "NAME", r.name);
      SetText(file_, "DESCRIPTION", std::string("about ") + r.name);
      UfoByte(file_.FieldData(file_.FieldIndex("FULLCODE"))).SetLong(r.fullcode);
      SetText(file_, "FORUMLINK", "http://forum/" + std::to_string(r.id));
      SetText(file_, "USER", r.user);
      file_.memo_values[0] = r.code;
      ASSERT_EQ(DoFileOp(FileOp::ADD, file_), 0);
    }
    ASSERT_EQ(ViewBuilder(&file_).Build(&view_), 0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    backend_.Clear();
  }
  void TearDown() override {
    engine_.reset();
    fm_.Close();
    fm_.Kill();
    errors_.Kill();
    FileStatus().Clear();
  }

  // Reads forward from the start (or backward from the end) to the end.
  std::vector<int32_t> ReadAll(ViewManager& vm, bool forward = true) {
    std::vector<int32_t> ids;
    EXPECT_EQ(vm.PositionAtStart(), SeverityNone);
    for (;;) {
      Severity s = forward ? vm.Next() : vm.Previous();
      if (s != SeverityNone) {
        EXPECT_EQ(s, SeverityInform);
        break;
      }
      ids.push_back(Id(file_));
    }
    return ids;
  }

  std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (const auto& m : backend_.Messages()) out.push_back(m.request.caption);
    return out;
  }

  palisade::test::TempDir dir_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  FileDescriptor file_;
  FileManager fm_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
};

// ---------------------------------------------------------------------------
// Orders and reading.

TEST_F(ViewManagerTest, InitSetsTheBufferingAndMakesItsOwnOrderQueue) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  EXPECT_EQ(vm.INITED, 1);
  EXPECT_EQ(vm.KILLED, 0);
  EXPECT_EQ(vm.DISPOSEORDER, 1);
  ASSERT_NE(vm.ORDER, nullptr);
  EXPECT_EQ(vm.PAGESIZE, 20);
  EXPECT_EQ(vm.PAGESBEHIND, 2);
  EXPECT_EQ(vm.PAGESAHEAD, 0);
  EXPECT_EQ(vm.TIMEOUT, 60);
  ASSERT_EQ(vm.Open(), SeverityNone);
  EXPECT_EQ(engine_->Buffering().page_size, 20);
  EXPECT_EQ(engine_->Buffering().pages_behind, 2);
  EXPECT_EQ(engine_->Buffering().timeout, 60);

  SortOrderQueue mine;
  ViewManager other;
  other.Init(engine_.get(), &fm_, &mine);
  EXPECT_EQ(other.DISPOSEORDER, 0);
  other.AddSortOrder("P_ID");
  other.Kill();
  EXPECT_EQ(mine.entries.size(), 1u);  // the caller's queue outlives the manager
}

TEST_F(ViewManagerTest, KeyOrderReadsForwardAndBackwardAndStopsAtBothEnds) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  EXPECT_EQ(vm.AddSortOrder("P_ID"), 1);
  // The key is NOCASE but its component is a number: folding is left out.
  EXPECT_EQ(vm.CurrentOrder()->ORDER, "+FUN:ID");
  ASSERT_EQ(vm.Open(), SeverityNone);

  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(ReadAll(vm, false), std::vector<int32_t>({12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));

  // Past the end Next stays at the end; Previous then reads back.
  ASSERT_EQ(vm.PositionAtStart(), SeverityNone);
  ASSERT_EQ(vm.Previous(), SeverityNone);
  EXPECT_EQ(Id(file_), 12);
  EXPECT_EQ(vm.Next(), SeverityInform);
  EXPECT_EQ(vm.Previous(), SeverityNone);
  EXPECT_EQ(vm.USED, 1);
}

TEST_F(ViewManagerTest, ASecondOrderAndSwitchingBetweenOrders) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  EXPECT_EQ(vm.AddSortOrder("K_NAME"), 2);
  EXPECT_EQ(vm.CurrentOrder()->ORDER, "+UPPER(FUN:NAME)");
  ASSERT_EQ(vm.Open(), SeverityNone);
  // alpha beta delta epsilon eta Gamma Iota Kappa Lambda Mu Theta Zeta
  const std::vector<int32_t> by_name = {2, 4, 6, 8, 10, 7, 9, 5, 12, 3, 11, 1};
  EXPECT_EQ(ReadAll(vm), by_name);

  EXPECT_TRUE(vm.SetSortOrder(1));
  EXPECT_EQ(engine_->OrderText(), "+FUN:ID");
  EXPECT_EQ(ReadAll(vm).front(), 1);
  EXPECT_FALSE(vm.SetSortOrder(3));
  EXPECT_EQ(vm.ORDER->current, 1);

  // An outside order text replaces the current one; an empty text brings
  // the key's order back.
  vm.SelectOrderText("-FUN:FULLCODE");
  vm.AppendOrder("+FUN:ID");
  EXPECT_EQ(vm.CurrentOrder()->ORDER, "-FUN:FULLCODE,+FUN:ID");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 3, 5, 6, 8, 10, 11, 2, 4, 7, 9, 12}));
  vm.SetOrder("");
  EXPECT_EQ(vm.CurrentOrder()->ORDER, "+FUN:ID");
  EXPECT_EQ(ReadAll(vm).back(), 12);
  // An order without a key reads in the file's record order until given a
  // text; an empty text brings that natural order back.
  EXPECT_EQ(vm.AddSortOrder(), 3);
  EXPECT_EQ(engine_->OrderText(), "");
  vm.SetOrder("-FUN:ID");
  EXPECT_EQ(ReadAll(vm).front(), 12);
  vm.SetOrder("");
  EXPECT_EQ(engine_->OrderText(), "");
  EXPECT_EQ(ReadAll(vm).size(), 12u);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(ViewManagerTest, ABadOrderTextIsReportedAndTheViewKeepsItsOrder) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("K_NAME");
  ASSERT_EQ(vm.Open(), SeverityNone);
  vm.SelectOrderText("+FUN:NOSUCH");
  EXPECT_EQ(Captions(), std::vector<std::string>({"View Open Error"}));
  EXPECT_EQ(fm_.LASTERROR, kErrViewOpen);
  EXPECT_EQ(engine_->OrderText(), "+UPPER(FUN:NAME)");
  EXPECT_EQ(ReadAll(vm).front(), 2);
}

// ---------------------------------------------------------------------------
// Ranges and filters.

TEST_F(ViewManagerTest, RangeLimitsOfEveryKind) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  ASSERT_EQ(vm.Open(), SeverityNone);

  // A related file's buffer supplies the value of a file-relationship range.
  FileDescriptor users = FileDeclaration("USERS", "USR")
                             .String("NAME", TypeCode::CSTRING, 30)
                             .Field("LEVEL", TypeCode::BYTE)
                             .Build();
  SetText(users, "NAME", "cy");
  UfoByte(users.FieldData(1)).SetLong(0);

  // Single value, with a quote doubled in the literal.
  ASSERT_TRUE(vm.AddRange("FUN:USER", RangeValue::String("O'Brien")));
  EXPECT_EQ(vm.RangeFilterText(), "FUN:USER = 'O''Brien'");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({3}));

  // Low and high bounds on the NOCASE key's number compare as numbers
  // (as texts, "10" would sort before "5").
  vm.AddRange(vm.FieldOf("FUN:ID"), RangeValue::Long(5), RangeValue::Long(10));
  EXPECT_EQ(vm.RangeFilterText(), "FUN:ID >= 5 AND FUN:ID <= 10");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({5, 6, 7, 8, 9, 10}));

  // An equality pair goes in front of the bounds.
  vm.AppendRangeLimit(vm.FieldOf("USER"), RangeValue::String("bob"));
  EXPECT_EQ(vm.RangeFilterText(), "FUN:USER = 'bob' AND FUN:ID >= 5 AND FUN:ID <= 10");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({5, 8}));

  // Current value: the value the buffer holds when the text is built.
  SetText(file_, "USER", "ann");
  ASSERT_TRUE(vm.AddRange("FUN:USER"));
  EXPECT_EQ(vm.CurrentOrder()->LIMITTYPE, kRangeCurrent);
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 4, 6, 9, 11}));

  // File relationship: fields of another file's buffer.
  vm.AddRange({{vm.FieldOf("FUN:USER"), ViewField{&users, 0, {}}},
               {vm.FieldOf("FUN:FULLCODE"), ViewField{&users, 1, {}}}});
  EXPECT_EQ(vm.RangeFilterText(), "FUN:USER = 'cy' AND FUN:FULLCODE = 0");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({7}));

  // A variable is read when the text is built.
  int32_t limit = 3;
  UfoLong variable(&limit);
  vm.AddRange(vm.FieldOf("FUN:ID"), RangeValue::Long(1), RangeValue::Variable(variable));
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 2, 3}));
  limit = 4;
  vm.ApplyRange();
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 2, 3, 4}));

  vm.ClearRange();
  EXPECT_EQ(vm.RangeFilterText(), "");
  EXPECT_EQ(ReadAll(vm).size(), 12u);
  EXPECT_FALSE(vm.AddRange("FUN:NOSUCH", RangeValue::Long(1)));
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(ViewManagerTest, AStringRangeOnTheTitleKeyIsFoldedOnBothSides) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("K_NAME");
  ASSERT_EQ(vm.Open(), SeverityNone);
  vm.AddRange(vm.FieldOf("FUN:NAME"), RangeValue::String("b"), RangeValue::String("f"));
  EXPECT_EQ(vm.RangeFilterText(),
            "UPPER(FUN:NAME) >= UPPER('b') AND UPPER(FUN:NAME) <= UPPER('f')");
  // beta delta epsilon eta
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({4, 6, 8, 10}));
}

TEST_F(ViewManagerTest, NamedFiltersCombineWithTheRangeAndEachOther) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  // Set before Open: applied when the view opens.
  vm.SetFilter("FUN:FULLCODE = 1", "complete");
  vm.SetNamedFilter("FUN:ID > 4 OR FUN:ID = 1", "big");
  ASSERT_EQ(vm.Open(), SeverityNone);
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 5, 6, 8, 10, 11}));

  vm.AddRange("FUN:USER", RangeValue::String("ann"));
  EXPECT_EQ(vm.RangeFilterText(),
            "FUN:USER = 'ann' AND (FUN:FULLCODE = 1) AND (FUN:ID > 4 OR FUN:ID = 1)");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 6, 11}));

  // Replacing a filter keeps its place; a blank text removes it.
  vm.SetFilter("FUN:ID < 7", "big");
  EXPECT_EQ(vm.RangeFilterText(), "FUN:USER = 'ann' AND (FUN:FULLCODE = 1) AND (FUN:ID < 7)");
  EXPECT_EQ(vm.GetFilter("big"), "FUN:ID < 7");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 6}));
  vm.SetFilter("  ", "complete");
  EXPECT_EQ(vm.GetFilter("complete"), "");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 4, 6}));

  // Filters belong to their sort order.
  vm.AddSortOrder("K_NAME");
  EXPECT_EQ(vm.RangeFilterText(), "");
  EXPECT_EQ(ReadAll(vm).size(), 12u);
  vm.SetSortOrder(1);
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 4, 6}));
  vm.ClearFilters();
  vm.ClearRange();
  EXPECT_EQ(ReadAll(vm).size(), 12u);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(ViewManagerTest, AFilterTheViewRefusesIsReportedOnceAndTheViewGoesOnUnfiltered) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  ASSERT_EQ(vm.Open(), SeverityNone);
  vm.SetFilter("FUN:ID >= 10");
  EXPECT_EQ(ReadAll(vm).size(), 3u);

  struct Case {
    const char* filter;
  };
  const Case cases[] = {
      {"FUN:NOSUCH = 1"},              // the view cannot parse it
      {"FUN:ID = 1) OR (FUN:ID = 2"},  // would escape its parentheses
  };
  for (const Case& c : cases) {
    backend_.Clear();
    vm.SetFilter(c.filter);
    EXPECT_EQ(Captions(), std::vector<std::string>({"View Open Error"})) << c.filter;
    EXPECT_EQ(engine_->FilterText(), "") << c.filter;
    // Building the same text again (a reset) does not report it again.
    EXPECT_EQ(vm.ApplyRange(), SeverityInform);
    EXPECT_EQ(backend_.Messages().size(), 1u) << c.filter;
    EXPECT_EQ(ReadAll(vm).size(), 12u) << c.filter;
    vm.SetFilter("FUN:ID >= 10");
    EXPECT_EQ(ReadAll(vm).size(), 3u);
  }
  ASSERT_FALSE(backend_.Messages().empty());
  EXPECT_NE(backend_.Messages().back().request.text.find("Filter and Range Limits ignored"),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// The record filter.

// Skips rows whose code contains "skip"; ends the read at a row numbered
// above `stop_after` (0: never).
class SkippingView : public ViewManager {
 public:
  RecordStatus ValidateRecord() override {
    ++calls;
    RecordStatus s = ViewManager::ValidateRecord();
    if (s != RecordStatus::kOk) return s;
    FileDescriptor* f = PrimaryDescriptor();
    if (stop_after > 0 && UfoLong(f->FieldData(0)).GetLong() > stop_after) {
      return RecordStatus::kOutOfRange;
    }
    return f->memo_values[0].find("skip") == std::string::npos ? RecordStatus::kOk
                                                               : RecordStatus::kFiltered;
  }
  int calls = 0;
  int32_t stop_after = 0;
};

TEST_F(ViewManagerTest, ARecordFilterOverrideSkipsRowsBothWays) {
  SkippingView vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  ASSERT_EQ(vm.Open(), SeverityNone);
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 3, 4, 5, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(vm.calls, 12);
  EXPECT_EQ(ReadAll(vm, false), std::vector<int32_t>({12, 11, 10, 9, 8, 7, 5, 4, 3, 1}));

  // With the view's own filter the hook sees only the rows that pass it.
  vm.calls = 0;
  vm.SetFilter("FUN:USER = 'ann'");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 4, 9, 11}));
  EXPECT_EQ(vm.calls, 5);

  // Out of range ends the read as the end of the data does.
  vm.SetFilter("");
  vm.stop_after = 4;
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 3, 4}));
}

// Keeps the odd numbers by the record alone, and says it reads no memos;
// ends the read at a row numbered above `stop_after` (0: never). Notes the
// rows it drops whose own code was in the buffer when it ran.
class OddView : public ViewManager {
 public:
  OddView() { SetRecordFilterReadsMemos(false); }
  RecordStatus ValidateRecord() override {
    const FileDescriptor* f = PrimaryDescriptor();
    const int32_t id = UfoLong(const_cast<uint8_t*>(f->FieldData(0))).GetLong();
    ++calls;
    if (id % 2 == 0 && f->memo_values[0] == kRows[id - 1].code) code_seen.push_back(id);
    if (stop_after > 0 && id > stop_after) return RecordStatus::kOutOfRange;
    return id % 2 == 1 ? RecordStatus::kOk : RecordStatus::kFiltered;
  }
  int calls = 0;
  int32_t stop_after = 0;
  std::vector<int32_t> code_seen;
};

// A record filter that reads no memos runs before a row's memos are read:
// the rows it drops have none read, it runs once per row, and every row
// handed out carries its own.
TEST_F(ViewManagerTest, ARecordFilterThatReadsNoMemosRunsBeforeTheMemosAreRead) {
  OddView vm;
  vm.Init(engine_.get(), &fm_);
  vm.AddSortOrder("P_ID");
  ASSERT_EQ(vm.Open(), SeverityNone);
  for (bool forward : {true, false}) {
    vm.calls = 0;
    vm.code_seen.clear();
    std::vector<int32_t> want = {1, 3, 5, 7, 9, 11};
    if (!forward) std::reverse(want.begin(), want.end());
    std::vector<int32_t> got;
    EXPECT_EQ(vm.PositionAtStart(), SeverityNone);
    while ((forward ? vm.Next() : vm.Previous()) == SeverityNone) {
      const int32_t id = Id(file_);
      got.push_back(id);
      EXPECT_EQ(file_.memo_values[0], kRows[id - 1].code) << id;
    }
    EXPECT_EQ(got, want) << forward;
    EXPECT_EQ(vm.calls, 12) << forward;
    for (int32_t id : vm.code_seen) ADD_FAILURE() << "row " << id << " dropped, but read whole";
    // At the end the buffer holds the last row handed out.
    EXPECT_EQ(Id(file_), want.back());
    EXPECT_EQ(file_.memo_values[0], kRows[want.back() - 1].code);
  }
  // Out of range ends the read as the end of the data does; the view's own
  // filter still comes first.
  vm.stop_after = 6;
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 3, 5}));
  vm.stop_after = 0;
  vm.SetFilter("FUN:USER = 'ann'");
  EXPECT_EQ(ReadAll(vm), std::vector<int32_t>({1, 9, 11}));
  vm.SetFilter("");
  // Another manager over the same view, whose filter reads memos, is not
  // given this one's check.
  SkippingView other;
  other.Init(engine_.get(), &fm_);
  other.AddSortOrder("P_ID");
  ASSERT_EQ(other.Open(), SeverityNone);
  EXPECT_EQ(ReadAll(other), std::vector<int32_t>({1, 3, 4, 5, 7, 8, 9, 10, 11, 12}));
}

// ---------------------------------------------------------------------------
// Life cycle and failures.

TEST_F(ViewManagerTest, AViewThatCannotOpenIsReportedAndReadsNothing) {
  FileDescriptor closed = Func(dir_.File("OTHER.PLX"));
  FileManager other;
  other.Init(&closed, &errors_);
  View view;
  ASSERT_EQ(ViewBuilder(&closed).Build(&view), 0);
  ViewEngine engine(&view);

  ViewManager vm;
  vm.Init(&engine, &other);
  vm.AddSortOrder(0);
  EXPECT_EQ(vm.Open(), SeverityInform);
  EXPECT_EQ(vm.OPENED, 0);
  EXPECT_EQ(Captions(), std::vector<std::string>({"View Open Error"}));
  EXPECT_NE(backend_.Messages()[0].request.text.find("File Not Open"), std::string::npos);
  EXPECT_EQ(vm.Next(), SeverityHalt);
  EXPECT_EQ(ERRORCODE(), kFileNotOpen);
  other.Kill();

  ViewManager uninitialised;
  EXPECT_EQ(uninitialised.Open(), SeverityHalt);
}

TEST_F(ViewManagerTest, AViewOpenedElsewhereIsUsedAndLeftOpen) {
  ASSERT_EQ(engine_->Open(), 0);
  {
    ViewManager vm;
    vm.Init(engine_.get(), &fm_);
    vm.AddSortOrder("P_ID");
    ASSERT_EQ(vm.Open(), SeverityNone);
    EXPECT_EQ(vm.OPENED, 1);
    EXPECT_EQ(ReadAll(vm).size(), 12u);
  }  // the destructor kills the manager
  EXPECT_TRUE(engine_->IsOpen());
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(ViewManagerTest, KillClosesTheViewItOpenedOnce) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  ASSERT_EQ(vm.Open(), SeverityNone);
  EXPECT_TRUE(engine_->IsOpen());
  vm.Kill();
  EXPECT_FALSE(engine_->IsOpen());
  EXPECT_EQ(vm.KILLED, 1);
  EXPECT_EQ(vm.INITED, 0);
  EXPECT_EQ(vm.ORDER, nullptr);
  vm.Kill();
  EXPECT_EQ(vm.Next(), SeverityHalt);

  // Init again makes it usable.
  vm.Init(engine_.get(), &fm_);
  ASSERT_EQ(vm.Open(), SeverityNone);
  EXPECT_EQ(ReadAll(vm).size(), 12u);
}

TEST_F(ViewManagerTest, SavedBuffersComeBackInOrder) {
  ViewManager vm;
  vm.Init(engine_.get(), &fm_);
  ASSERT_EQ(vm.Open(), SeverityNone);
  ASSERT_EQ(vm.Next(), SeverityNone);
  const int32_t first = Id(file_);
  vm.SaveBuffers();
  ASSERT_EQ(vm.SAVEDBUFFERS.size(), 1u);
  EXPECT_EQ(vm.SAVEDBUFFERS[0].FM, &fm_);
  ASSERT_EQ(vm.Next(), SeverityNone);
  vm.SaveBuffers();
  ASSERT_EQ(vm.Next(), SeverityNone);
  const int32_t third = Id(file_);
  vm.RestoreBuffers();
  EXPECT_NE(Id(file_), third);
  vm.RestoreBuffers();
  EXPECT_EQ(Id(file_), first);
  EXPECT_TRUE(vm.SAVEDBUFFERS.empty());
  vm.RestoreBuffers();  // nothing saved: nothing happens
  EXPECT_EQ(Id(file_), first);
}

TEST_F(ViewManagerTest, InitWithARelationManagerReportsThroughItsFile) {
  RelationManager rm;
  rm.Init(&fm_);
  ViewManager vm;
  vm.Init(engine_.get(), &rm, nullptr, &view_);
  EXPECT_EQ(vm.PRIMARY, &rm);
  EXPECT_EQ(vm.PrimaryFile(), &fm_);
  ASSERT_EQ(vm.ViewFiles().size(), 1u);
  ASSERT_EQ(vm.Open(), SeverityNone);
  vm.SetFilter("FUN:NOSUCH = 1");
  EXPECT_EQ(fm_.LASTERROR, kErrViewOpen);
  vm.Kill();
  rm.Kill();
}

}  // namespace
}  // namespace qzr
