#include "runtime/core/match.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qzr {
namespace {

struct Case {
  const char* text;
  const char* pattern;
  int mode;
  bool expected;
};

TEST(MatchTest, AllFourModes) {
  const Case cases[] = {
      // Simple: equal without trailing spaces.
      {"abc", "abc", kMatchSimple, true},
      {"abc   ", "abc", kMatchSimple, true},
      {"abc", "abc  ", kMatchSimple, true},
      {"abc", "ABC", kMatchSimple, false},
      {"abc", "ABC", kMatchSimple | kMatchNoCase, true},
      {"abc", "ab", kMatchSimple, false},
      {"", "", kMatchSimple, true},
      // Wildcard.
      {"abc", "A*", kMatchWild | kMatchNoCase, true},
      {"abc", "A*", kMatchWild, false},
      {"abc", "a?c", kMatchWild, true},
      {"abc", "a?", kMatchWild, false},
      {"abc", "*c", kMatchWild, true},
      {"abc   ", "*c", kMatchWild, true},
      {"abcabd", "*ab?", kMatchWild, true},
      {"abcabd", "a*b*d", kMatchWild, true},
      {"abcabd", "a*x*d", kMatchWild, false},
      {"", "*", kMatchWild, true},
      {"", "?", kMatchWild, false},
      // Regular expressions in the runtime's dialect.
      {"hello world", "wor", kMatchRegular, true},
      {"hello world", "^wor", kMatchRegular, false},
      {"hello world", "^hel+o", kMatchRegular, true},
      {"hello", "lo$", kMatchRegular, true},
      {"hello   ", "lo$", kMatchRegular, true},
      {"hello", "h.l", kMatchRegular, true},
      {"hello", "[a-h]e", kMatchRegular, true},
      {"hello", "^[~h]", kMatchRegular, false},
      {"hello", "^[^x]", kMatchRegular, true},
      {"abab", "^{ab}+$", kMatchRegular, true},
      {"abc", "x|b", kMatchRegular, true},
      {"a.c", "a\\.c", kMatchRegular, true},
      {"abc", "a\\.c", kMatchRegular, false},
      {"a(b)", "a(b)", kMatchRegular, true},
      {"a]b", "[]]", kMatchRegular, true},
      {"HELLO", "hel", kMatchRegular | kMatchNoCase, true},
      {"HELLO", "hel", kMatchRegular, false},
      {"abc", "[abc", kMatchRegular, false},  // unclosed class: no match
      {"abc", "{ab", kMatchRegular, false},   // unclosed group
      {"abc", "*a", kMatchRegular, false},    // nothing to repeat
      {"line1\nline2", "1.line", kMatchRegular, true},
      // Sound-alike.
      {"Smith", "Smyth", kMatchSoundex, true},
      {"Robert", "Rupert", kMatchSoundex, true},
      {"Smith", "Jones", kMatchSoundex, false},
      {"123", "!!", kMatchSoundex, true},
      // A kind above 3 compares as simple.
      {"abc", "abc", 7, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Match(c.text, c.pattern, c.mode), c.expected)
        << "'" << c.text << "' '" << c.pattern << "' " << c.mode;
  }
}

TEST(MatchTest, TranslatesTheDialectToPcre) {
  struct T {
    const char* dialect;
    const char* pcre;
  } cases[] = {
      {"a{bc}*", "a(?:bc)*"}, {"[~a-z]", "[^a-z]"}, {"(x)", "\\(x\\)"}, {"\\n", "n"},
      {"a\\", "a\\\\"},       {"[a-]", "[a\\-]"},   {"#", "\\#"},
  };
  for (const T& c : cases) {
    auto out = TranslateRegex(c.dialect);
    ASSERT_TRUE(out.has_value()) << c.dialect;
    EXPECT_EQ(*out, c.pcre) << c.dialect;
  }
  EXPECT_FALSE(TranslateRegex("[abc").has_value());
  EXPECT_FALSE(TranslateRegex("ab}").has_value());
}

TEST(MatchTest, RegexPositionIsOneBased) {
  EXPECT_EQ(RegexPosition("hello world", "o w", false), 5);
  EXPECT_EQ(RegexPosition("hello", "^h", false), 1);
  EXPECT_EQ(RegexPosition("hello", "z", false), 0);
  EXPECT_EQ(RegexPosition("hello", "[", false), 0);
}

TEST(MatchTest, PathologicalPatternsGiveUpInsteadOfHanging) {
  std::string text(5000, 'a');
  EXPECT_FALSE(Match(text, "{a*}*b", kMatchRegular));
  // Giving up is told apart from finding no match. (Above, the engine
  // sees at once that no "b" occurs; a class defeats that shortcut.)
  bool limit_hit = false;
  EXPECT_FALSE(Match(text, "{a*}*[bc]", kMatchRegular, &limit_hit));
  EXPECT_TRUE(limit_hit);
  EXPECT_EQ(RegexPosition(text, "{a*}*[bc]", false, &limit_hit), 0);
  EXPECT_TRUE(limit_hit);
  EXPECT_FALSE(Match(text, "{a*}*b", kMatchRegular, &limit_hit));
  EXPECT_FALSE(limit_hit);
  EXPECT_FALSE(Match(text, "a*b", kMatchRegular, &limit_hit));
  EXPECT_FALSE(limit_hit);
  EXPECT_TRUE(Match(text, "{a*}*", kMatchRegular, &limit_hit));
  EXPECT_FALSE(limit_hit);
}

TEST(MatchTest, ThreadsSharingTheCachedPatternAgree) {
  // Two patterns alternate so that the kept pattern is replaced all the time
  // while other threads match with it.
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        bool even = (i + t) % 2 == 0;
        bool got = Match("needle in haystack", even ? "need" : "xyz", kMatchRegular);
        if (got != even) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qzr
