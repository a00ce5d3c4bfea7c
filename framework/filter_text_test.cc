// Tests of the range-and-filter text: literals and their quoting, the terms
// of each range kind, filters joined onto them, and filters that would
// escape their parentheses.

#include "framework/filter_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/values/ufo.h"

namespace qzr {
namespace {

FilterLiteral Str(std::string text) { return {true, std::move(text)}; }
FilterLiteral Num(std::string text) { return {false, std::move(text)}; }

TEST(FilterTextTest, LiteralsAreQuotedOrPlainAndFoldedLikeTheirName) {
  struct Case {
    std::string name;
    FilterLiteral value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"FUN:NAME", Str("abc"), "'abc'"},
      {"FUN:NAME", Str("O'Brien"), "'O''Brien'"},
      {"FUN:NAME", Str("''"), "''''''"},
      {"FUN:NAME", Str(""), "''"},
      {"FUN:ID", Num("42"), "42"},
      {"FUN:ID", Num("-7"), "-7"},
      {"FUN:ID", Num(""), "0"},
      {"UPPER(FUN:NAME)", Str("it's"), "UPPER('it''s')"},
      {"lower(FUN:NAME)", Str("X"), "LOWER('X')"},
      {"UPPERCASE", Str("X"), "'X'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteLiteral(c.name, c.value), c.expected) << c.name << " " << c.value.text;
  }
}

TEST(FilterTextTest, LiteralOfAFieldObjectFollowsItsValueClass) {
  uint8_t text[10] = {'a', 'b', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  UfoString s(text, sizeof text);
  FilterLiteral l = LiteralOf(s);
  EXPECT_TRUE(l.is_string);
  EXPECT_EQ(l.text, "ab");  // trailing blanks never matter to a comparison

  UfoTempLong n(-12);
  l = LiteralOf(n);
  EXPECT_FALSE(l.is_string);
  EXPECT_EQ(l.text, "-12");
}

TEST(FilterTextTest, RangeTermsOfEachKind) {
  const std::vector<RangeTerm> one = {{"FUN:USER", Str("ann")}};
  const std::vector<RangeTerm> two = {{"FUN:USER", Str("ann")}, {"FUN:FULLCODE", Num("1")}};
  const std::vector<RangeTerm> bounds = {{"FUN:ID", Num("5")}, {"FUN:ID", Num("9")}};
  const std::vector<RangeTerm> fixed_and_bounds = {
      {"FUN:USER", Str("ann")}, {"UPPER(FUN:NAME)", Str("a")}, {"UPPER(FUN:NAME)", Str("m")}};
  struct Case {
    uint8_t kind;
    const std::vector<RangeTerm>* pairs;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {kRangeNone, &two, ""},
      {kRangeCurrent, &one, "FUN:USER = 'ann'"},
      {kRangeSingle, &two, "FUN:USER = 'ann' AND FUN:FULLCODE = 1"},
      {kRangeFile, &two, "FUN:USER = 'ann' AND FUN:FULLCODE = 1"},
      {kRangePair, &bounds, "FUN:ID >= 5 AND FUN:ID <= 9"},
      {kRangePair, &fixed_and_bounds,
       "FUN:USER = 'ann' AND UPPER(FUN:NAME) >= UPPER('a') AND UPPER(FUN:NAME) <= UPPER('m')"},
      {kRangePair, &one, "FUN:USER = 'ann'"},
      {7, &two, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RangeText(c.kind, *c.pairs), c.expected) << int{c.kind};
  }
  EXPECT_EQ(RangeText(kRangeSingle, {}), "");
}

TEST(FilterTextTest, FiltersAreParenthesisedAndJoinedWithAnd) {
  std::string text;
  AppendFilterText(&text, "  A = 1 OR B = 2 ");
  EXPECT_EQ(text, "(A = 1 OR B = 2)");
  AppendFilterText(&text, "   ");
  EXPECT_EQ(text, "(A = 1 OR B = 2)");
  AppendFilterText(&text, "C");
  EXPECT_EQ(text, "(A = 1 OR B = 2) AND (C)");

  text = "FUN:ID = 3";
  AppendFilterText(&text, "D");
  EXPECT_EQ(text, "FUN:ID = 3 AND (D)");
}

TEST(FilterTextTest, AFilterMustStayInsideItsParentheses) {
  struct Case {
    const char* filter;
    bool ok;
  };
  const Case cases[] = {
      {"A = 1", true},
      {"(A = 1) OR (B = 2)", true},
      {"INSTRING(')', FUN:NAME, 1, 1)", true},
      {"FUN:NAME = 'it''s (not'", true},
      {"FORMAT(FUN:ID, @N(9)) = '1'", true},
      {"FORMAT(FUN:ID, @N~(~12) = '1'", true},
      {"FORMAT(FUN:ID, @N~(~12)) = '1'", false},
      {"A = 1) OR (B = 2", false},
      {"A = 1)", false},
      {"(A = 1", false},
      {"FUN:NAME = 'open", false},
      {"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSelfContainedFilter(c.filter), c.ok) << c.filter;
}

}  // namespace
}  // namespace qzr
