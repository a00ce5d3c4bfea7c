// Tests of simple case folding over UTF-8 text.

#include "runtime/core/case_fold.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(CaseFoldTest, FoldsEveryLetterThatHasCaseToOneCodePoint) {
  struct Case {
    uint32_t cp, folded;
  } cases[] = {
      {'A', 'a'},       {'z', 'z'},       {'0', '0'},       {0xC9, 0xE9},   // É -> é
      {0xE9, 0xE9},     {0x100, 0x101},   {0x101, 0x101},   {0x178, 0xFF},  // Ÿ -> ÿ
      {0x3A3, 0x3C3},   {0x3C2, 0x3C3},   {0x410, 0x430},   {0x212A, 'k'},  // Kelvin
      {0x1E9E, 0xDF},   {0xDF, 0xDF},     {0x130, 0x130},   {0x10400, 0x10428},
      {0x13A0, 0x13A0}, {0xAB70, 0x13A0}, {0xFF21, 0xFF41}, {0x10FFFF, 0x10FFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SimpleCaseFold(c.cp), c.folded) << std::hex << c.cp;
  }
}

TEST(CaseFoldTest, FoldsUtf8TextAndKeepsBadBytes) {
  EXPECT_EQ(FoldCase("CAFÉ"), "café");
  EXPECT_EQ(FoldCase("ΣΊΣΥΦΟΣ"), "σίσυφοσ");
  EXPECT_EQ(FoldCase("Straße STRASSE"), "straße strasse");
  EXPECT_EQ(FoldCase("\xE2\x84\xAA"), "k");  // the Kelvin sign, 3 bytes to 1
  // Not UTF-8: kept byte for byte, the rest still folded.
  EXPECT_EQ(FoldCase("A\xFF"
                     "B\xC3"),
            "a\xFF"
            "b\xC3");
  EXPECT_EQ(FoldCase("\xC0\xC1Z"), "\xC0\xC1z");          // overlong lead bytes
  EXPECT_EQ(FoldCase("\xED\xA0\x80X"), "\xED\xA0\x80x");  // a surrogate
  EXPECT_TRUE(EqualsFoldedCase("café", "CAFÉ"));
  EXPECT_FALSE(EqualsFoldedCase("cafe", "CAFÉ"));
  std::string buffer = "kept:";
  AppendFoldedCase("ÀB", &buffer);
  EXPECT_EQ(buffer, "kept:àb");
}

}  // namespace
}  // namespace qzr
