// Tests of the shared text helpers: trimming, ASCII case, UTF-8 counting
// and cutting, and "%XX" escaping.

#include "runtime/core/text.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(TextTest, TrimStripsOnlyTheGivenCharactersAtEachEnd) {
  const struct {
    std::string_view text, strip, left, right, both;
  } cases[] = {
      {"", kBlanks, "", "", ""},
      {" \t ", kBlanks, "", "", ""},
      {" \ta b\t ", kBlanks, "a b\t ", " \ta b", "a b"},
      {" \ta b\t ", kSpaces, "\ta b\t ", " \ta b\t", "\ta b\t"},
      {"\r\n x \n", kWhiteSpace, "x \n", "\r\n x", "x"},
      {"x", kBlanks, "x", "x", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(TrimLeft(c.text, c.strip), c.left);
    EXPECT_EQ(TrimRight(c.text, c.strip), c.right);
    EXPECT_EQ(Trim(c.text, c.strip), c.both);
  }
}

TEST(TextTest, CaseIsAsciiOnlyWhateverTheBytesAbove127) {
  EXPECT_EQ(Upper("abc xyz 09 \xC3\xA9 \xE9"), "ABC XYZ 09 \xC3\xA9 \xE9");
  EXPECT_EQ(Lower("ABC xyz 09 \xC3\x89 \xC9"), "abc xyz 09 \xC3\x89 \xC9");
  EXPECT_TRUE(EqualNoCase("Func.Plx", "FUNC.PLX"));
  EXPECT_FALSE(EqualNoCase("\xE9", "\xC9"));
  EXPECT_FALSE(EqualNoCase("abc", "abcd"));
  EXPECT_TRUE(EqualNoCase("", ""));
  EXPECT_TRUE(StartsWith("palisade", "pal"));
  EXPECT_FALSE(StartsWith("pa", "pal"));
  EXPECT_TRUE(StartsWithNoCase("HTTP://x", "http://"));
  EXPECT_FALSE(StartsWithNoCase("htt", "http"));
  EXPECT_EQ(FindNoCase("see MAILTO:x", "mailto:"), 4u);
  EXPECT_EQ(FindNoCase("abc", ""), 0u);
  EXPECT_EQ(FindNoCase("ab", "abc"), std::string_view::npos);
  EXPECT_TRUE(ContainsNoCase("Quick Find", "k f"));
}

TEST(TextTest, Utf8CountsAndCutsAtCharacterBoundaries) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  EXPECT_EQ(Utf8Length(text), 5u);
  const size_t prefix[] = {0, 1, 3, 6, 10, 11, 11};
  for (size_t chars = 0; chars < std::size(prefix); ++chars) {
    EXPECT_EQ(Utf8Prefix(text, chars), prefix[chars]) << chars;
  }
  // Every cut length ends on a boundary at or before it.
  const size_t cut[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 11, 11};
  for (size_t max = 0; max < std::size(cut); ++max) {
    EXPECT_EQ(Utf8Cut(text, max).size(), cut[max]) << max;
  }
  // Malformed text: a stray continuation byte is one character, and a long
  // run of them is not cut back past three.
  EXPECT_EQ(Utf8Length("\x80\x80"), 2u);
  EXPECT_EQ(Utf8Cut("a\x80\x80\x80\x80\x80", 5).size(), 2u);
}

TEST(TextTest, DecodingRefusesWhatIsNotWellFormed) {
  const struct {
    std::string_view text;
    size_t invalid_at;
  } cases[] = {
      {"", std::string_view::npos},
      {"plain", std::string_view::npos},
      {"\xC3\xA9\xF0\x9F\x98\x80", std::string_view::npos},
      {"a\xC0\x80", 1},         // overlong
      {"ab\xED\xA0\x80", 2},    // surrogate
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"x\xE2\x82", 1},         // cut short
      {"\xFF", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InvalidUtf8At(c.text), c.invalid_at) << c.text;
  }
  for (uint32_t cp : {0x41u, 0xE9u, 0x20ACu, 0x1F600u, 0x10FFFFu}) {
    std::string s;
    AppendUtf8(cp, &s);
    uint32_t back = 0;
    EXPECT_EQ(DecodeUtf8(s, &back), s.size());
    EXPECT_EQ(back, cp);
  }
}

TEST(TextTest, PercentEscapesRoundTripAndStrayPercentsAreNotEscapes) {
  const std::string escaped = PercentEscape(
      "a=b%\n\xFF", [](uint8_t c) { return c == '=' || c == '%' || c >= 0x80 || c < 0x20; });
  EXPECT_EQ(escaped, "a%3Db%25%0A%FF");
  EXPECT_EQ(PercentEscapeAt(escaped, 1), '=');
  EXPECT_EQ(PercentEscapeAt("%ff", 0), 0xFF);
  EXPECT_EQ(PercentEscapeAt("%4", 0), -1);
  EXPECT_EQ(PercentEscapeAt("%4G", 0), -1);
  EXPECT_EQ(PercentEscapeAt("x41", 0), -1);
  EXPECT_EQ(PercentEscapeAt("%41", 3), -1);
  EXPECT_EQ(HexDigitValue('b'), 11);
  EXPECT_EQ(HexDigitValue('g'), -1);
}

}  // namespace
}  // namespace qzr
