#include "runtime/core/string_compare.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace qzr
