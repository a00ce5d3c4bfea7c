// Tests of the quick find's record filter over FUNC records in memory.

#include "app/quick_find.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/func_file.h"
#include "runtime/core/case_fold.h"

namespace qzr {
namespace {

FileDescriptor Record(const FuncEntry& e) {
  FileDescriptor f = FuncDeclaration();
  WriteFuncEntry(&f, e, true);
  return f;
}

TEST(QuickFindTest, InactiveFindLetsEveryRecordThrough) {
  QuickFindSettings off;
  EXPECT_TRUE(QuickFindPasses(Record({}), off));
}

TEST(QuickFindTest, FindsTextInFieldsAndCodeByCaseAndMemoSettings) {
  const FuncEntry entry{7,     "Parse the XyZ header", "reads a file", "int decode_abc(void);",
                        false, "http://forum/t=9",     "Ann"};
  const FileDescriptor rec = Record(entry);
  struct Case {
    const char* text;
    bool ignore_case, include_memo, passes;
  };
  const Case cases[] = {
      {"xyz", true, true, true},    // title, any case
      {"xyz", false, true, false},  // as typed: the title has "XyZ"
      {"XyZ", false, false, true},
      {"READS A", true, false, true},      // description
      {"forum/t", true, false, true},      // link
      {"ann", true, false, true},          // poster
      {"decode_abc", true, true, true},    // code
      {"decode_abc", true, false, false},  // code not searched
      {"DECODE_ABC", false, true, false},  // code, case kept
      {"header   ", true, false, true},    // trailing blanks do not count
      {"nowhere", true, true, false},
      {"header reads", true, true, false},  // never across a field's end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(QuickFindPasses(rec, MakeQuickFind(c.text, c.ignore_case, c.include_memo)), c.passes);
  }
}

TEST(QuickFindTest, NumbersTakePartOnlyAsDisplayedWhenTheTextHasADigit) {
  // Every number's stored bytes (0x78 is "x", 0x5A "Z", 0x5B "[") and the
  // flag's byte never match as text, in any case mode.
  for (int32_t id : {0x78, 0x5A, 0x5B, 0x7A, 0x5A5A, 1}) {
    SCOPED_TRACE(id);
    const FileDescriptor rec = Record({id, "item", "", "", true, "", ""});
    for (const char* text : {"x", "X", "z", "Z", "[", "\x01"}) {
      EXPECT_FALSE(QuickFindPasses(rec, MakeQuickFind(text, false, true))) << text;
      EXPECT_FALSE(QuickFindPasses(rec, MakeQuickFind(text, true, true))) << text;
    }
  }
  // With a digit in the text the numbers are compared as displayed.
  EXPECT_TRUE(QuickFindPasses(Record({1234, "zzz", "", "", false, "", ""}),
                              MakeQuickFind("123", true, false)));
  EXPECT_FALSE(QuickFindPasses(Record({1234, "zzz", "", "", false, "", ""}),
                               MakeQuickFind("124", true, false)));
  EXPECT_TRUE(
      QuickFindPasses(Record({2, "zzz", "", "", true, "", ""}), MakeQuickFind("1", true, false)));
  EXPECT_FALSE(
      QuickFindPasses(Record({2, "zzz", "", "", false, "", ""}), MakeQuickFind("1", true, false)));
}

TEST(QuickFindTest, IgnoringCaseFoldsEveryLetterNotOnlyAToZ) {
  const FileDescriptor rec =
      Record({3, "CAFÉ CRÈME", "Ελληνικά ΣΟΦΙΑ", "int größe;", false, "", "ÅSA"});
  struct Case {
    const char* text;
    bool ignore_case, passes;
  } cases[] = {
      {"café", true, true},    {"café", false, false}, {"CAFÉ", false, true},
      {"crème", true, true},   {"σοφια", true, true},  {"ΕΛΛΗΝΙΚΆ", true, true},
      {"GRÖSSE", true, false},  // simple folding: ß stays one letter
      {"GRÖßE", true, true},   {"åsa", true, true},    {"cafe", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(QuickFindPasses(rec, MakeQuickFind(c.text, c.ignore_case, true)), c.passes);
  }
}

TEST(QuickFindTest, IgnoringCaseFindsWhatTheFoldedTextHolds) {
  // Texts of ASCII around the letters' edges, letters past ASCII and bytes
  // that are no UTF-8, at every offset of an eight-byte word: a needle is
  // found exactly when the folded text holds it.
  const std::vector<std::string> pieces = {
      "A", "Z",        "a",        "z",        "@",        "[",    "`",        "{",   "0",
      " ", "\xC3\x89", "\xC3\x9F", "\xC4\xB0", "\xCE\xA3", "\xFF", "\xE2\x82", "QZR", "return"};
  std::mt19937 rng(3);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string hay;
    const size_t parts = rng() % 40;
    for (size_t k = 0; k < parts; ++k) hay += pieces[rng() % pieces.size()];
    const std::string folded = FoldCase(hay);
    std::string needle;
    if (!folded.empty() && trial % 2 == 0) {
      const size_t at = rng() % folded.size();
      needle = folded.substr(at, 1 + rng() % 6);
    } else {
      needle = FoldCase(pieces[rng() % pieces.size()] + pieces[rng() % pieces.size()]);
    }
    SCOPED_TRACE(hay + " / " + needle);
    EXPECT_EQ(QuickFindContains(hay, needle, true), folded.find(needle) != std::string::npos);
  }
}

TEST(QuickFindTest, IgnoringCaseFindsWhatTheFoldedTextHoldsInLongTexts) {
  // Long texts, mostly ASCII (searched sixteen bytes at a time), with now
  // and then a letter past ASCII, some folding to ASCII letters (KELVIN
  // SIGN to "k", LONG S to "s"), before, inside or after a match, and
  // needles of 1 to 20 bytes at every offset around the blocks' edges.
  const std::vector<std::string> ascii = {"Return", "RETURN", "x", "K", "s", " ",
                                          "\n",     "{",      "z", "@", "0", "ReTuRn x;"};
  const std::vector<std::string> other = {"\xE2\x84\xAA", "\xC5\xBF", "\xC3\x89", "\xFF",
                                          "\xE2\x82"};
  std::mt19937 rng(5);
  for (int trial = 0; trial < 3000; ++trial) {
    std::string hay;
    const size_t parts = rng() % 60;
    for (size_t k = 0; k < parts; ++k) {
      hay += rng() % 30 == 0 ? other[rng() % other.size()] : ascii[rng() % ascii.size()];
    }
    const std::string folded = FoldCase(hay);
    std::string needle;
    if (!folded.empty() && trial % 3 != 0) {
      const size_t at = rng() % folded.size();
      needle = folded.substr(at, 1 + rng() % 20);
    } else {
      needle = FoldCase(ascii[rng() % ascii.size()] + ascii[rng() % ascii.size()]);
      if (trial % 6 == 0) needle = "ks";  // found only through folding past ASCII
    }
    SCOPED_TRACE(hay + " / " + needle);
    EXPECT_EQ(QuickFindContains(hay, needle, true), folded.find(needle) != std::string::npos);
  }
}

TEST(QuickFindTest, ActiveFindWithBlankTextLetsNothingThrough) {
  EXPECT_FALSE(
      QuickFindPasses(Record({1, "abc", "", "", false, "", ""}), MakeQuickFind("   ", true, true)));
}

TEST(QuickFindTest, SettingsAreUpperCasedAndTheDigitFlagComputed) {
  QuickFindSettings s = MakeQuickFind("abc1 ", true, true);
  EXPECT_EQ(s.text, "ABC1 ");
  EXPECT_TRUE(s.has_digit);
  EXPECT_FALSE(MakeQuickFind("abc", false, true).has_digit);
  EXPECT_EQ(MakeQuickFind("abc", false, true).text, "abc");
  SetGlobalQuickFind(s);
  EXPECT_EQ(GlobalQuickFind().text, "ABC1 ");
  ClearGlobalQuickFind();
  EXPECT_FALSE(GlobalQuickFind().active);
  EXPECT_EQ(GlobalQuickFind().text, "");
}

}  // namespace
}  // namespace qzr
