#include "runtime/values/queue_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace qzr {
namespace {

// (key, original index): the index shows whether equal keys kept their order.
struct Item {
  int first;
  int second;
  bool operator==(const Item&) const = default;
  bool operator<(const Item& o) const {
    return std::tie(first, second) < std::tie(o.first, o.second);
  }
};

int CompareKeys(const Item& a, const Item& b) {
  return (a.first > b.first) - (a.first < b.first);
}

std::vector<Item> RandomItems(size_t n, int key_range, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, key_range - 1);
  std::vector<Item> v;
  for (size_t i = 0; i < n; ++i) v.push_back({dist(rng), static_cast<int>(i)});
  return v;
}

TEST(QueueSortTest, AgreesWithStableSortOnEveryLengthAndManyDuplicates) {
  for (size_t n = 0; n <= 70; ++n) {
    for (int key_range : {1, 3, 1000}) {
      std::vector<Item> v = RandomItems(n, key_range, static_cast<uint32_t>(n * 31 + key_range));
      std::vector<Item> expected = v;
      std::stable_sort(expected.begin(), expected.end(),
                       [](const Item& a, const Item& b) { return a.first < b.first; });
      std::vector<Item> temp(n);
      MergeInsertionSort(v.data(), v.size(), temp.data(), CompareKeys);
      ASSERT_EQ(v, expected) << "n=" << n << " range=" << key_range;
    }
  }
}

TEST(QueueSortTest, LargeArraysSortedReversedAndRandom) {
  std::vector<Item> inputs[3];
  for (int i = 0; i < 5000; ++i) inputs[0].push_back({i, i});
  for (int i = 0; i < 5000; ++i) inputs[1].push_back({5000 - i, i});
  inputs[2] = RandomItems(5000, 200, 7);
  for (std::vector<Item>& v : inputs) {
    std::vector<Item> expected = v;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Item& a, const Item& b) { return a.first < b.first; });
    std::vector<Item> temp(v.size());
    MergeInsertionSort(v.data(), v.size(), temp.data(), CompareKeys);
    EXPECT_EQ(v, expected);
  }
}

TEST(QueueSortTest, NineElementsUseInsertionOnlyTenUseTheMerge) {
  struct Case {
    size_t n;
    size_t insertion_runs;
    size_t merges;
  } cases[] = {
      {1, 0, 0},              // nothing to sort
      {2, 1, 0},  {9, 1, 0},  // last - first = 8: one insertion run
      {10, 2, 1},             // last - first = 9: halves of 5 and 5, then one merge
      {20, 4, 3},
  };
  for (const Case& c : cases) {
    std::vector<Item> v = RandomItems(c.n, 50, 3);
    std::vector<Item> temp(c.n);
    SortTrace trace;
    MergeInsertionSort(v.data(), v.size(), temp.data(), CompareKeys, &trace);
    EXPECT_EQ(trace.insertion_runs, c.insertion_runs) << c.n;
    EXPECT_EQ(trace.merges, c.merges) << c.n;
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << c.n;
  }
}

}  // namespace
}  // namespace qzr
