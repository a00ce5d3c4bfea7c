// Tests of the browse's paging over a real Palisade file of the catalogue's
// shape, made by each test with N entries numbered 10, 20, 30 ...: a table
// of paging steps over N in {0, 1, rows - 1, rows, 3 x rows}, the refill
// around the first row, the selected record and RETAINROW, deleted rows,
// a hidden or iconized list, the thumb drag, and the reads each step costs,
// counted by a driver in front of Palisade.

#include "framework/browse_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/browse_test_support.h"
#include "framework/counting_driver.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/event.h"
#include "ui/headless_backend.h"

namespace qzr {
namespace {

constexpr int32_t kRows = 5;  // rows the test list shows

// A list the test controls: its height in rows, whether it can be seen,
// and the row the user selected.
class FakeList : public BrowseListControl {
 public:
  int32_t Choice() override { return choice; }
  void SetChoice(int32_t row) override { choice = row; }
  int32_t Items() override { return items; }
  bool Visible() override { return visible; }
  void SetThumb(int percent) override { thumb = percent; }

  int32_t choice = 0;
  int32_t items = kRows;
  bool visible = true;
  int thumb = -1;
};

class BrowseTest : public ::testing::Test {
 protected:
  void TearDown() override { browse_.Kill(); }

  void Add(int32_t id) { fx_.Add(id); }
  void Fill(int32_t n) { fx_.Fill(n); }
  void Remove(int32_t id) { fx_.Remove(id); }

  // Opens the browse in FUN:ID order (by the key K_ID; the primary key is
  // OPT, which no view reads in key order) and fills it from the start.
  void Open(const char* order = nullptr) {
    browse_.Init(&list_, engine_.get(), rows_.get(), &rm_, &view_);
    if (order == nullptr) {
      browse_.AddSortOrder("K_ID");
    } else {
      browse_.AddSortOrder(-1);
      browse_.SelectOrderText(order);
    }
    ASSERT_EQ(browse_.Open(), SeverityNone);
    browse_.ResetBrowse(false);
  }

  std::vector<int32_t> Ids() {
    std::vector<int32_t> ids;
    for (int32_t r = 1; r <= RECORDS(&queue_); ++r) {
      GET(&queue_, r);
      ids.push_back(queue_.record.ID);
    }
    return ids;
  }
  static std::vector<int32_t> Range(int32_t from, int32_t to) {
    std::vector<int32_t> ids;
    for (int32_t i = from; i <= to; ++i) ids.push_back(10 * i);
    return ids;
  }
  // The record in the file's buffer (the selected record).
  int32_t Current() { return fx_.Current(); }
  int32_t Selected() {
    if (browse_.CURRENTCHOICE < 1) return 0;
    GET(&queue_, browse_.CURRENTCHOICE);
    return queue_.record.ID;
  }
  // Runs `step` and returns the records it read.
  template <typename F>
  int64_t Reads(F step) {
    counter_->Reset();
    step();
    return counter_->reads();
  }
  // Checks the invariants every step keeps.
  void CheckInvariants() {
    EXPECT_LE(RECORDS(&queue_), browse_.LASTITEMS);
    EXPECT_GE(browse_.LASTITEMS, 1);
    if (RECORDS(&queue_) == 0) {
      EXPECT_EQ(browse_.CURRENTCHOICE, 0);
    } else {
      EXPECT_GE(browse_.CURRENTCHOICE, 1);
      EXPECT_LE(browse_.CURRENTCHOICE, RECORDS(&queue_));
      EXPECT_EQ(list_.choice, browse_.CURRENTCHOICE);
      EXPECT_EQ(Current(), Selected()) << "the selected record is current";
      GET(&queue_, browse_.CURRENTCHOICE);
      EXPECT_EQ(file_.memo_values[0], "code of " + std::to_string(Selected()));
    }
  }

  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  BrowseFixture fx_;
  CountingDriver* counter_ = fx_.counter;
  FileDescriptor& file_ = fx_.file;
  RelationManager& rm_ = fx_.rm;
  View& view_ = fx_.view;
  std::unique_ptr<ViewEngine>& engine_ = fx_.engine;
  Queue<BrowseTestRow>& queue_ = fx_.queue;
  std::unique_ptr<BrowseListRows>& rows_ = fx_.rows;
  FakeList list_;
  BrowseManager browse_;
};

// ---------------------------------------------------------------------------
// The paging table.

class BrowsePagingTable : public BrowseTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(BrowsePagingTable, PagingOverEverySizeOfResult) {
  const int32_t n = GetParam();
  Fill(n);
  const int32_t shown = std::min(n, kRows);

  // Opening fills from the top; fewer records than rows leave the rest
  // empty.
  Open();
  EXPECT_EQ(Ids(), Range(1, shown));
  EXPECT_EQ(Selected(), n > 0 ? 10 : 0);
  EXPECT_EQ(list_.thumb, 0);
  CheckInvariants();

  // One row down at a time to the end, and one more at the end.
  for (int32_t i = 1; i <= n; ++i) {
    browse_.HandleScroll(EVENT::ScrollDown, 0);
    CheckInvariants();
  }
  EXPECT_EQ(Selected(), n > 0 ? 10 * n : 0);
  EXPECT_EQ(Ids(), Range(n - shown + 1, n));

  // Top, then a page at a time: each page slides the list by a page; on
  // the last page the selection goes to the last record.
  browse_.HandleScroll(EVENT::ScrollTop, 0);
  EXPECT_EQ(Ids(), Range(1, shown));
  EXPECT_EQ(Selected(), n > 0 ? 10 : 0);
  browse_.HandleScroll(EVENT::PageDown, 0);
  CheckInvariants();
  if (n == 3 * kRows) {
    EXPECT_EQ(Ids(), Range(kRows + 1, 2 * kRows));
    EXPECT_EQ(Selected(), 10 * (kRows + 1));
    browse_.HandleScroll(EVENT::PageDown, 0);
    browse_.HandleScroll(EVENT::PageDown, 0);
  }
  EXPECT_EQ(Ids(), Range(n - shown + 1, n));
  EXPECT_EQ(Selected(), n > 0 ? 10 * n : 0);
  const std::vector<int32_t> last_page = Ids();
  browse_.HandleScroll(EVENT::PageDown, 0);  // on the last page
  EXPECT_EQ(Ids(), last_page);
  EXPECT_EQ(Selected(), n > 0 ? 10 * n : 0);
  CheckInvariants();

  // Back up a page at a time, then one row up past the top.
  for (int32_t i = 0; i < 4; ++i) browse_.HandleScroll(EVENT::PageUp, 0);
  EXPECT_EQ(Ids(), Range(1, shown));
  EXPECT_EQ(Selected(), n > 0 ? 10 : 0);
  browse_.HandleScroll(EVENT::ScrollUp, 0);
  EXPECT_EQ(Ids(), Range(1, shown));
  EXPECT_EQ(Selected(), n > 0 ? 10 : 0);

  // Bottom: the last rows, the last selected.
  browse_.HandleScroll(EVENT::ScrollBottom, 0);
  EXPECT_EQ(Ids(), Range(n - shown + 1, n));
  EXPECT_EQ(Selected(), n > 0 ? 10 * n : 0);
  if (n > kRows) {
    EXPECT_EQ(list_.thumb, 100);
  }
  CheckInvariants();
}

INSTANTIATE_TEST_SUITE_P(Sizes, BrowsePagingTable,
                         ::testing::Values(0, 1, kRows - 1, kRows, 3 * kRows),
                         [](const auto& info) { return "N" + std::to_string(info.param); });

TEST_F(BrowseTest, OneRowAtTheEdgesSlidesTheListByOne) {
  Fill(3 * kRows);
  Open();
  for (int i = 1; i < kRows; ++i) browse_.HandleScroll(EVENT::ScrollDown, 0);
  EXPECT_EQ(Selected(), 50);
  EXPECT_EQ(Ids(), Range(1, 5));
  browse_.HandleScroll(EVENT::ScrollDown, 0);
  EXPECT_EQ(Ids(), Range(2, 6));
  EXPECT_EQ(Selected(), 60);
  EXPECT_EQ(browse_.CURRENTCHOICE, kRows);
  for (int i = 1; i < kRows; ++i) browse_.HandleScroll(EVENT::ScrollUp, 0);
  EXPECT_EQ(browse_.CURRENTCHOICE, 1);
  browse_.HandleScroll(EVENT::ScrollUp, 0);
  EXPECT_EQ(Ids(), Range(1, 5));
  EXPECT_EQ(Selected(), 10);
  CheckInvariants();
}

// ---------------------------------------------------------------------------
// Refills.

TEST_F(BrowseTest, ARefillKeepsTheFirstRowAndTheSelectedRecord) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::PageDown, 0);  // rows 60..100
  list_.choice = 3;
  browse_.TakeNewSelection();
  EXPECT_EQ(Selected(), 80);
  EXPECT_EQ(Current(), 80);
  browse_.ResetBrowse(true);
  EXPECT_EQ(Ids(), Range(6, 10));
  EXPECT_EQ(Selected(), 80);
  // A record added above the selection: the first row stays, the selected
  // record moves down a row with it.
  Add(75);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{60, 70, 75, 80, 90}));
  EXPECT_EQ(Selected(), 80);
  EXPECT_EQ(browse_.CURRENTCHOICE, 4);
  CheckInvariants();
}

TEST_F(BrowseTest, RetainRowKeepsTheSelectedRecordOnItsRow) {
  Fill(3 * kRows);
  Open();
  browse_.RETAINROW = 1;
  browse_.HandleScroll(EVENT::PageDown, 0);  // rows 60..100
  list_.choice = 3;
  browse_.TakeNewSelection();
  Add(75);
  Add(65);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{70, 75, 80, 90, 100}));
  EXPECT_EQ(browse_.CURRENTCHOICE, 3);
  EXPECT_EQ(Selected(), 80);
  CheckInvariants();
  // Near the start the rows above run out: the record stays as low as it
  // can and the list is full.
  browse_.HandleScroll(EVENT::ScrollTop, 0);
  list_.choice = 2;
  browse_.TakeNewSelection();
  list_.choice = 4;
  browse_.CURRENTCHOICE = 4;  // as if the user had picked row 4 before
  browse_.RefillList(kRefillKeepSelected);
  EXPECT_EQ(Ids(), Range(1, 5));
  CheckInvariants();
}

TEST_F(BrowseTest, AShortLastPageIsToppedUpFromAbove) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::ScrollBottom, 0);  // rows 110..150
  Remove(150);
  Remove(140);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), Range(9, 13));
  EXPECT_EQ(Selected(), 130);  // the last record: the selection's neighbour
  CheckInvariants();

  browse_.ALLOWUNFILLED = 1;
  browse_.HandleScroll(EVENT::PageUp, 0);
  browse_.HandleScroll(EVENT::PageDown, 0);  // rows 90..130 again
  Remove(130);
  Remove(120);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), Range(9, 11));  // not topped up
  CheckInvariants();
}

TEST_F(BrowseTest, DeletedSelectedAndEdgeRowsFallBackToTheirNeighbours) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::PageDown, 0);  // rows 60..100
  list_.choice = 2;
  browse_.TakeNewSelection();  // 70
  // The first row (the refill's anchor) and the selected record go.
  Remove(60);
  Remove(70);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), Range(8, 12));
  EXPECT_EQ(browse_.CURRENTCHOICE, 2);
  EXPECT_EQ(Selected(), 90);
  CheckInvariants();

  // The edge row goes: a step past it reads its neighbour.
  for (int i = 0; i < 4; ++i) browse_.HandleScroll(EVENT::ScrollDown, 0);
  EXPECT_EQ(Ids(), Range(9, 13));
  Remove(130);
  browse_.HandleScroll(EVENT::ScrollDown, 0);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{100, 110, 120, 130, 140}));
  CheckInvariants();
  // The row stays in the list until a refill, but nothing acts on it.
  list_.choice = 4;
  browse_.TakeNewSelection();
  EXPECT_EQ(Selected(), 130);
  EXPECT_FALSE(browse_.RefreshSelectedRecord());
  EXPECT_EQ(Ids(), (std::vector<int32_t>{100, 110, 120, 140, 150}));
  EXPECT_EQ(Selected(), 140);
  EXPECT_TRUE(browse_.RefreshSelectedRecord());
  EXPECT_EQ(Current(), 140);
  CheckInvariants();
}

TEST_F(BrowseTest, EveryRowGoneFallsBackToTheStart) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::ScrollBottom, 0);
  for (int32_t i = 11; i <= 15; ++i) Remove(10 * i);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), Range(6, 10));  // the last rows that are left
  for (int32_t i = 1; i <= 10; ++i) Remove(10 * i);
  browse_.ResetBrowse(false);
  EXPECT_TRUE(Ids().empty());
  EXPECT_EQ(browse_.CURRENTCHOICE, 0);
  Add(500);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{500}));
  CheckInvariants();
}

TEST_F(BrowseTest, AHiddenOrIconizedListDefersItsFill) {
  Fill(kRows);
  list_.visible = false;
  Open();
  EXPECT_EQ(browse_.LOADPENDING, 1);
  EXPECT_TRUE(Ids().empty());
  EXPECT_FALSE(browse_.RefillOwed());
  list_.visible = true;
  EXPECT_TRUE(browse_.RefillOwed());
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), Range(1, kRows));
  EXPECT_EQ(browse_.LOADPENDING, 0);

  browse_.SetIconized(true);
  Add(55);
  EXPECT_EQ(Reads([&] { browse_.ResetBrowse(true); }), 0);
  EXPECT_EQ(browse_.LOADPENDING, 1);
  browse_.SetIconized(false);
  browse_.ResetBrowse(false);
  EXPECT_EQ(Ids(), (std::vector<int32_t>{10, 20, 30, 40, 50}));
  browse_.HandleScroll(EVENT::ScrollDown, 0);
  CheckInvariants();

  // Filling anyway when asked to.
  list_.visible = false;
  browse_.ACTIVEINVISIBLE = 1;
  browse_.ResetBrowse(true);
  EXPECT_EQ(browse_.LOADPENDING, 0);
}

TEST_F(BrowseTest, AListOfNoRowsStillShowsOne) {
  Fill(3);
  list_.items = 0;
  Open();
  EXPECT_GE(browse_.LASTITEMS, 1);
  EXPECT_EQ(Ids(), Range(1, 3));
  list_.items = 1;
  browse_.ResetBrowse(true);
  EXPECT_EQ(browse_.LASTITEMS, 1);
  EXPECT_EQ(Ids(), Range(1, 1));
  browse_.HandleScroll(EVENT::PageDown, 0);
  EXPECT_EQ(Ids(), Range(2, 2));
  CheckInvariants();
}

TEST_F(BrowseTest, ATallerListShowsMoreRows) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::PageDown, 0);
  list_.items = 8;
  browse_.ResetBrowse(true);
  EXPECT_EQ(Ids(), Range(6, 13));
  list_.items = 3;
  browse_.ResetBrowse(true);
  EXPECT_EQ(Ids(), Range(6, 8));
  CheckInvariants();
}

TEST_F(BrowseTest, AThumbDragWithoutAThumbObjectGoesToTheEndsOrPagesTowardsIt) {
  Fill(3 * kRows);
  Open();
  browse_.HandleScroll(EVENT::ScrollDrag, 100);
  EXPECT_EQ(Ids(), Range(11, 15));
  EXPECT_EQ(list_.thumb, 100);
  browse_.HandleScroll(EVENT::ScrollDrag, 40);  // up, towards the drag
  EXPECT_EQ(Ids(), Range(6, 10));
  EXPECT_EQ(list_.thumb, 50);
  browse_.HandleScroll(EVENT::ScrollDrag, 70);  // down
  EXPECT_EQ(Ids(), Range(11, 15));
  browse_.HandleScroll(EVENT::ScrollDrag, 0);
  EXPECT_EQ(Ids(), Range(1, 5));
  EXPECT_EQ(list_.thumb, 0);
  browse_.HandleScroll(EVENT::ScrollDrag, 30);
  EXPECT_EQ(Ids(), Range(6, 10));
  CheckInvariants();
}

// A thumb object positions the view by percentage (here by FUN:ID).
class IdThumb : public BrowseThumb {
 public:
  explicit IdThumb(FileDescriptor* file) : file_(file) {}
  bool PositionView(BrowseManager* browse, int percent) override {
    browse->PositionAtStart();
    for (;;) {
      if (browse->Next() != SeverityNone) return false;
      if (UfoLong(file_->FieldData(0)).GetLong() >= percent + percent / 2) break;
    }
    return browse->PositionAt(browse->Position()) == SeverityNone;
  }

 private:
  FileDescriptor* file_;
};

TEST_F(BrowseTest, AThumbObjectPositionsTheViewAndTheListIsRefilledFromThere) {
  Fill(3 * kRows);
  Open();
  IdThumb thumb(&file_);
  browse_.CurrentBrowseOrder()->THUMB = &thumb;
  browse_.HandleScroll(EVENT::ScrollDrag, 40);  // FUN:ID >= 60
  EXPECT_EQ(Ids(), Range(6, 10));
  EXPECT_EQ(Selected(), 60);
  browse_.HandleScroll(EVENT::ScrollDrag, 94);  // FUN:ID >= 141: topped up
  EXPECT_EQ(Ids(), Range(11, 15));
  CheckInvariants();
}

// ---------------------------------------------------------------------------
// What each step reads.

class BrowseReads : public BrowseTest, public ::testing::WithParamInterface<const char*> {};

// Over record order (no order text), a key, and a sorted list of rows.
TEST_P(BrowseReads, EachStepReadsAtMostAScreenful) {
  Fill(6 * kRows);
  Open(GetParam());
  const std::string order = GetParam();
  EXPECT_EQ(engine_->access(), order.empty()        ? ViewEngine::Access::kRecordOrder
                               : order == "+FUN:ID" ? ViewEngine::Access::kKey
                                                    : ViewEngine::Access::kSortedList);
  const int64_t page = kRows;
  // A refill from the first row.
  EXPECT_LE(Reads([&] { browse_.ResetBrowse(true); }), page + 1);
  // Steps inside the list read nothing.
  EXPECT_EQ(Reads([&] { browse_.HandleScroll(EVENT::ScrollDown, 0); }), 0);
  list_.choice = 4;
  EXPECT_EQ(Reads([&] { browse_.TakeNewSelection(); }), 0);
  // A step at an edge: the edge row again and the new one.
  browse_.HandleScroll(EVENT::ScrollDown, 0);
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::ScrollDown, 0); }), 2);
  list_.choice = 1;
  browse_.TakeNewSelection();
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::ScrollUp, 0); }), 2);
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::PageDown, 0); }), page + 1);
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::PageUp, 0); }), page + 1);
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::ScrollBottom, 0); }), page);
  // The file changes: a sorted list of rows is made again (one pass over
  // the file) at the refill that follows.
  Remove(300);
  Remove(290);
  const int64_t rebuild = engine_->access() == ViewEngine::Access::kSortedList ? 28 : 0;
  EXPECT_LE(Reads([&] { browse_.ResetBrowse(false); }), page + 1 + rebuild);
  EXPECT_EQ(Ids(), Range(24, 28));
  // A refill at the end, topped up from above.
  EXPECT_LE(Reads([&] { browse_.ResetBrowse(true); }), page + 1);
  EXPECT_EQ(Ids(), Range(24, 28));
  // Nothing changed: nothing read.
  EXPECT_EQ(Reads([&] { browse_.ResetBrowse(false); }), 0);
  EXPECT_LE(Reads([&] { browse_.HandleScroll(EVENT::ScrollTop, 0); }), page);
  EXPECT_EQ(Reads([&] { browse_.ResetBrowse(false); }), 0);
  // Acting on the selected row reads it again, once.
  EXPECT_EQ(Reads([&] { EXPECT_TRUE(browse_.RefreshSelectedRecord()); }), 1);
}

INSTANTIATE_TEST_SUITE_P(Orders, BrowseReads, ::testing::Values("", "+FUN:ID", "+UPPER(FUN:NAME)"),
                         [](const auto& info) {
                           return std::string(info.index == 0   ? "RecordOrder"
                                              : info.index == 1 ? "Key"
                                                                : "SortedList");
                         });

TEST_F(BrowseTest, AHardReadErrorKeepsTheRowsFetchedSoFar) {
  Fill(3 * kRows);
  Open();
  backend_.Clear();
  // The page reads the edge row and one new row, then the disk fails.
  counter_->Reset();
  counter_->FailReadsAfter(2, kFileSystemError);
  browse_.HandleScroll(EVENT::PageDown, 0);
  counter_->Reset();
  EXPECT_EQ(Ids(), Range(2, 6));
  ASSERT_EQ(backend_.Messages().size(), 1u);
  EXPECT_EQ(backend_.Messages()[0].request.caption, "Record Retrieval Error");
  CheckInvariants();
  // The next page goes on from there.
  browse_.HandleScroll(EVENT::PageDown, 0);
  EXPECT_EQ(Ids(), Range(7, 11));
  CheckInvariants();
}

}  // namespace
}  // namespace qzr
