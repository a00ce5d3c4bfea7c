// Tests of the fuzzy matcher: its score table, options and scoring.

#include "app/fuzzy_matcher.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(FuzzyMatcherTest, BaseValueRowsHoldTheScoresAndZeroesAfter) {
  FuzzyMatcher m;
  const std::vector<std::vector<int>> rows = {
      {100},
      {65, 35},
      {50, 30, 20},
      {40, 30, 20, 10},
      {34, 27, 20, 13, 6},
      {29, 24, 19, 14, 9, 5},
      {25, 21, 17, 14, 11, 8, 4},
      {20, 18, 15, 14, 11, 10, 7, 5},
      {20, 17, 15, 13, 11, 9, 7, 5, 3},
      {19, 17, 15, 13, 11, 9, 7, 5, 3, 1},
  };
  for (size_t r = 0; r < 10; ++r) {
    for (size_t c = 0; c < 10; ++c) {
      int want = c < rows[r].size() ? rows[r][c] : 0;
      EXPECT_EQ(m.BASEVALUE[r][c], want) << "row " << r + 1 << " column " << c + 1;
    }
  }
}

TEST(FuzzyMatcherTest, InitClearsOptionsAndAnyNonZeroValueStoresOne) {
  FuzzyMatcher m;
  m.SetOption(kMatchOptionNoCase, 7);
  m.SetOption(kMatchOptionWordOnly, -1);
  EXPECT_EQ(m.NOCASE, 1);
  EXPECT_EQ(m.WORDONLY, 1);
  m.Init();
  EXPECT_EQ(m.NOCASE, 0);
  EXPECT_EQ(m.WORDONLY, 0);
  m.SetOption(kMatchOptionNoCase, 1);
  m.SetOption(kMatchOptionWordOnly, 0);
  EXPECT_EQ(m.GetOption(kMatchOptionNoCase), 1);
  EXPECT_EQ(m.GetOption(kMatchOptionWordOnly), 0);
}

TEST(FuzzyMatcherTest, ScoresFoundWordsByTheirPlaceInTheQuery) {
  FuzzyMatcher m;
  m.Init();
  m.SetOption(kMatchOptionNoCase, 1);
  EXPECT_EQ(m.Match("Open the File", "file"), 100);
  EXPECT_EQ(m.Match("Open the File", "open close"), 65);
  EXPECT_EQ(m.Match("Open the File", "close open"), 35);
  m.SetOption(kMatchOptionWordOnly, 1);
  EXPECT_EQ(m.Match("Opening", "open"), 0);
  m.SetOption(kMatchOptionNoCase, 0);
  m.SetOption(kMatchOptionWordOnly, 0);
  EXPECT_EQ(m.Match("Open", "open"), 0);
}

}  // namespace
}  // namespace qzr
