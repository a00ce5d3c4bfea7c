// Tests of the sorted row list: its order (ties by record position), finding
// a row and the place of a row it does not hold, the runs of records that
// followed each other, and when a built list may still be used.

#include "data/sorted_row_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qzr {
namespace {

SortedRow Row(int64_t value, uint32_t position, uint32_t scan) {
  SortedRow row;
  OrderValue v;
  v.cls = ValueClass::Integer;
  v.l = value;
  row.key.push_back(v);
  row.position = position;
  row.scan = scan;
  return row;
}

std::vector<OrderItem> Descending() {
  OrderItem item;
  item.descending = true;
  return {item};
}

// Records 10..14 read in that order with values 5, 7, 7, 6, 1: descending,
// the list is 11 (7), 12 (7), 13 (6), 10 (5), 14 (1).
SortedRowList Built() {
  SortedRowList list;
  list.Begin(std::nullopt);
  const int64_t values[] = {5, 7, 7, 6, 1};
  for (uint32_t i = 0; i < 5; ++i) list.Add(Row(values[i], 10 + i, i + 1));
  list.Finish(Descending());
  return list;
}

TEST(SortedRowListTest, SortsByTheOrderThenByPosition) {
  const SortedRowList list = Built();
  ASSERT_TRUE(list.valid());
  std::vector<uint32_t> positions;
  for (size_t i = 0; i < list.size(); ++i) positions.push_back(list.row(i).position);
  EXPECT_EQ(positions, (std::vector<uint32_t>{11, 12, 13, 10, 14}));
  EXPECT_EQ(list.Find(13), 2u);
  EXPECT_EQ(list.Find(99), std::nullopt);
  EXPECT_EQ(list.builds(), 1);
}

TEST(SortedRowListTest, BoundsPlaceARowTheListDoesNotHold) {
  const SortedRowList list = Built();
  struct Case {
    int64_t value;
    uint32_t position;
    size_t lo;
    long hi;
  } cases[] = {
      {9, 1, 0, -1},  // before every row
      {7, 11, 0, 0},  // equal to a listed row: its own place
      {7, 20, 2, 1},  // among equal values, by position
      {6, 1, 2, 1},   // before 13 (6)
      {0, 1, 5, 4},   // after every row
  };
  for (const Case& c : cases) {
    size_t lo = 0;
    long hi = 0;
    list.Bounds(Descending(), Row(c.value, c.position, 0), &lo, &hi);
    EXPECT_EQ(lo, c.lo) << c.value << " " << c.position;
    EXPECT_EQ(hi, c.hi) << c.value << " " << c.position;
  }
}

TEST(SortedRowListTest, LinksEntriesWhoseRecordsFollowedEachOther) {
  const SortedRowList list = Built();
  // Scans: 11 is 2, 12 is 3, 13 is 4, 10 is 1, 14 is 5.
  EXPECT_TRUE(list.Linked(0, 1));
  EXPECT_TRUE(list.Linked(1, 2));
  EXPECT_FALSE(list.Linked(2, 3));
  EXPECT_FALSE(list.Linked(3, 4));
  EXPECT_FALSE(list.Linked(0, 2));
  EXPECT_FALSE(list.Linked(-1, 0));
  EXPECT_FALSE(list.Linked(4, 5));
}

TEST(SortedRowListTest, ACountedListHoldsWhileTheCountsStand) {
  SortedRowList list;
  EXPECT_FALSE(list.Fresh(std::nullopt, std::chrono::hours(1)));
  list.Begin(std::vector<int64_t>{4, 9});
  list.Finish({});
  EXPECT_TRUE(list.counted());
  EXPECT_TRUE(list.Fresh(std::vector<int64_t>{4, 9}, std::chrono::seconds(0)));
  EXPECT_FALSE(list.Fresh(std::vector<int64_t>{5, 9}, std::chrono::hours(1)));
  EXPECT_FALSE(list.Fresh(std::nullopt, std::chrono::hours(1)));
  list.Invalidate();
  EXPECT_FALSE(list.Fresh(std::vector<int64_t>{4, 9}, std::chrono::hours(1)));

  // Without counts the list holds for the time-out only.
  list.Begin(std::nullopt);
  list.Finish({});
  EXPECT_FALSE(list.counted());
  EXPECT_TRUE(list.Fresh(std::nullopt, std::chrono::hours(1)));
  EXPECT_FALSE(list.Fresh(std::nullopt, std::chrono::seconds(0)));
  EXPECT_EQ(list.builds(), 2);
}

// Texts that share their first eight bytes or differ only past them or in
// trailing spaces, numbers either side of zero, each order direction:
// the sort puts the rows in the order the values and positions give.
TEST(SortedRowListTest, SortsTextsAndNumbersAsTheirValuesCompare) {
  const std::vector<std::string> texts = {"",          " ",        "B",         "ABCDEFGH",
                                          "ABCDEFGH ", "ABCDEFGHI", "ABCDEFGHA", "ABCDEFG",
                                          "ABCDEFGZ",  "A B",       "\xFF",      "ABCDEFGHIJKLMNOP"};
  const int64_t numbers[] = {-5, 0, 3, INT64_MIN, INT64_MAX};
  for (const bool text_first : {true, false}) {
    for (const bool first_descending : {false, true}) {
      for (const bool second_descending : {false, true}) {
        SCOPED_TRACE(::testing::Message() << text_first << first_descending << second_descending);
        std::vector<OrderItem> order(2);
        order[0].descending = first_descending;
        order[1].descending = second_descending;
        SortedRowList list;
        list.Begin(std::nullopt);
        std::vector<SortedRow> want;
        uint32_t position = 0;
        for (int round = 0; round < 2; ++round) {
          for (const std::string& t : texts) {
            for (const int64_t n : numbers) {
              OrderValue text;
              text.cls = ValueClass::String;
              text.s = t;
              OrderValue number;
              number.l = n;
              SortedRow row;
              row.key = text_first ? std::vector<OrderValue>{text, number}
                                   : std::vector<OrderValue>{number, text};
              // Positions out of record order, so that they decide ties.
              row.position = 1000 - ++position;
              row.scan = position;
              want.push_back(row);
              list.Add(row);
            }
          }
        }
        list.Finish(order);
        std::sort(want.begin(), want.end(), [&order](const SortedRow& a, const SortedRow& b) {
          const int c = CompareOrderKeys(order, a.key, b.key);
          return c != 0 ? c < 0 : a.position < b.position;
        });
        ASSERT_EQ(list.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
          ASSERT_EQ(list.row(i).position, want[i].position) << "entry " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qzr
