#include "runtime/core/string_compare.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace qzr {
namespace {

TEST(StringCompare, TrailingSpacesNeverMatter) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {
      {"12", "12   ", 0}, {"12", "12A", -1},  {"12A", "12", 1},   {"", "   ", 0},
      {"", "", 0},        {"a", "b", -1},     {"ab", "a\x01", 1}, {"\xFF", "\x01", 1},
      {"abc", "abd", -1}, {"12  x", "12", 1},
  };
  Collation identity;
  for (const auto& c : cases) {
    EXPECT_EQ(CompareText(c.a, c.b), c.result) << c.a << " vs " << c.b;
    EXPECT_EQ(identity.Compare(c.a, c.b), c.result) << c.a << " vs " << c.b;
  }
  EXPECT_EQ(CompareLongs(-5, 3), -1);
  EXPECT_EQ(CompareLongs(3, -5), 1);
  EXPECT_EQ(CompareLongs(7, 7), 0);
}

std::array<uint8_t, 256> CaseFoldingWeights() {
  std::array<uint8_t, 256> w;
  for (int i = 0; i < 256; ++i) w[i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) w[c] = static_cast<uint8_t>(c - 'a' + 'A');
  return w;
}

TEST(StringCompare, EqualWeightsDoNotDecide) {
  std::array<std::array<uint8_t, 3>, 16> none{};
  Collation fold(CaseFoldingWeights(), false, none, 0);
  EXPECT_FALSE(fold.identity());
  EXPECT_EQ(fold.Compare("abc", "ABC"), 0);
  // 'a' and 'A' weigh the same; the comparison goes on to X against b.
  EXPECT_GT(fold.Compare("aX", "Ab"), 0);
  EXPECT_LT(fold.Compare("Ab", "aX"), 0);
  EXPECT_EQ(fold.Compare("abc", "ABC  "), 0);
}

TEST(StringCompare, WeightsDecideTheOrder) {
  std::array<uint8_t, 256> w;
  for (int i = 0; i < 256; ++i) w[i] = static_cast<uint8_t>(i);
  // Swap the weights of 'a' and 'b'.
  w['a'] = 'b';
  w['b'] = 'a';
  std::array<std::array<uint8_t, 3>, 16> none{};
  Collation swapped(w, false, none, 0);
  EXPECT_GT(swapped.Compare("a", "b"), 0);
  EXPECT_LT(swapped.Compare("b", "a"), 0);
  // A space that weighs more than 'a' makes "x" sort after "xa".
  w[' '] = 200;
  Collation heavy_space(w, false, none, 0);
  EXPECT_GT(heavy_space.Compare("x", "xa"), 0);
  EXPECT_LT(heavy_space.Compare("xa", "x"), 0);
}

TEST(StringCompare, DigraphsExpandBeforeComparing) {
  std::array<std::array<uint8_t, 3>, 16> digraphs{};
  digraphs[0] = {0xC6, 'A', 'E'};  // AE ligature sorts as "AE"
  digraphs[1] = {0xDF, 's', 's'};  // sharp s sorts as "ss"
  std::array<uint8_t, 256> w;
  for (int i = 0; i < 256; ++i) w[i] = static_cast<uint8_t>(i);
  Collation c(w, true, digraphs, 2);
  EXPECT_EQ(c.Compare("\xC6", "AE"), 0);
  EXPECT_LT(c.Compare("\xC6Z", "AF"), 0);
  EXPECT_GT(c.Compare("\xC6Z", "AEA"), 0);
  EXPECT_EQ(c.Compare("Stra\xDF"
                      "e",
                      "Strasse"),
            0);
  EXPECT_EQ(c.Compare("\xC6  ", "AE"), 0);
  // Off: the byte is just a byte.
  Collation off(w, false, digraphs, 2);
  EXPECT_GT(off.Compare("\xC6", "AE"), 0);
}

// Over every pair of a set of texts (spaces inside and at the end, equal
// weights, a heavy space, digraphs, texts shorter and longer than eight),
// the sort prefix orders them as Compare does whenever it differs, and
// equal whole prefixes mean equal texts.
TEST(StringCompare, SortPrefixAgreesWithCompare) {
  std::array<uint8_t, 256> identity;
  for (int i = 0; i < 256; ++i) identity[i] = static_cast<uint8_t>(i);
  std::array<uint8_t, 256> folded = identity;
  for (int c = 'a'; c <= 'z'; ++c) folded[c] = static_cast<uint8_t>(c - 'a' + 'A');
  std::array<uint8_t, 256> heavy = identity;
  heavy[' '] = 200;
  std::array<std::array<uint8_t, 3>, 16> digraphs{};
  digraphs[0] = {0xC6, 'A', 'E'};
  const std::array<std::array<uint8_t, 3>, 16> none{};
  const struct {
    const char* name;
    Collation collation;
  } collations[] = {
      {"identity", Collation()},
      {"folded", Collation(folded, false, none, 0)},
      {"heavy space", Collation(heavy, false, none, 0)},
      {"digraphs", Collation(identity, true, digraphs, 1)},
  };
  const std::vector<std::string> texts = {
      "",
      " ",
      "A",
      "a",
      "AE",
      "\xC6",
      "\xC6Z",
      "AEZ",
      "ABCDEFGH",
      "ABCDEFGH ",
      "ABCDEFGHI",
      "ABCDEFGH!",
      "abcdefgh",
      "ABCDEFG",
      "ABCDEFG ",
      "ABC DEFGH",
      "\xC6\xC6\xC6\xC6",
      "AEAEAEAE",
      "AEAEAEAEA",
      "AEAEAEA\xC6",
      "ZZZZZZZZZZZZ",
      "A        B",
      "A         ",
      "\x01",
      "\xFF",
  };
  for (const auto& c : collations) {
    SCOPED_TRACE(c.name);
    for (const std::string& a : texts) {
      for (const std::string& b : texts) {
        bool whole_a = false, whole_b = false;
        const uint64_t pa = c.collation.SortPrefix(a, &whole_a);
        const uint64_t pb = c.collation.SortPrefix(b, &whole_b);
        const int want = c.collation.Compare(a, b);
        if (pa != pb) {
          EXPECT_EQ(pa < pb ? -1 : 1, want < 0 ? -1 : want > 0 ? 1 : 0) << a << " | " << b;
        } else if (whole_a && whole_b) {
          EXPECT_EQ(want, 0) << a << " | " << b;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qzr

