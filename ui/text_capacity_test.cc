#include "ui/text_capacity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/ufo.h"
#include "runtime/ufo_memo.h"

namespace qzr {
namespace {

TEST(TextCapacityTest, FitUtf8CutsOnlyAtACharacterBoundary) {
  struct Case {
    std::string text;
    size_t bytes;
    size_t fits;
  };
  const Case cases[] = {
      {"abc", 5, 3},
      {"abcdef", 4, 4},
      {"abc", 0, 0},
      {"ab\xC3\xA9", 3, 2},                // "é" needs two bytes, one is left
      {"ab\xC3\xA9", 4, 4},                // it fits exactly
      {"\xE6\x9D\xB1\xE4\xBA\xAC", 5, 3},  // two three-byte characters
      {"a\xF0\x9F\x98\x80", 4, 1},         // a four-byte character is kept whole
      {"a\xF0\x9F\x98\x80", 5, 5},
      {"a\xC3\xA9\xC3", 4, 4},  // a lone lead byte counts as one
      {"\x80\x80\x80", 2, 2},   // stray continuation bytes, one each
      {"\xC3(\xA9", 2, 2},      // a broken sequence is taken byte by byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitUtf8(c.text, c.bytes), c.fits) << c.text << " in " << c.bytes;
  }
}

TEST(TextCapacityTest, TheFieldGivesTheCapacityElseAStringPicture) {
  char string20[20];
  char cstring100[100] = {};
  char pstring10[10] = {};
  int32_t number = 0;
  std::string memo;
  const UfoString s(string20, sizeof string20);
  const UfoCString cs(cstring100, sizeof cstring100);
  const UfoPString ps(pstring10, sizeof pstring10);
  const UfoLong n(&number);
  const UfoMemo m(&memo, 64000);
  EXPECT_EQ(FieldCapacity(s), 20u);
  EXPECT_EQ(FieldCapacity(cs), 99u);
  EXPECT_EQ(FieldCapacity(ps), 9u);
  EXPECT_EQ(FieldCapacity(m), 64000u);
  EXPECT_EQ(FieldCapacity(n), 0u);

  EXPECT_EQ(PictureCapacity("@s99"), 99u);
  EXPECT_EQ(PictureCapacity("S254"), 254u);
  EXPECT_EQ(PictureCapacity("@n3"), 0u);  // the picture itself rejects what is too wide
  EXPECT_EQ(PictureCapacity(""), 0u);

  EXPECT_EQ(ControlCapacity("@s99", &cs), 99u);  // the title: CSTRING(100)
  EXPECT_EQ(ControlCapacity("@s10", &s), 20u);   // @s10 counts characters; the field bytes
  EXPECT_EQ(ControlCapacity("", &m), 64000u);    // the code memo
  EXPECT_EQ(ControlCapacity("@s20", nullptr), 20u);
  EXPECT_EQ(ControlCapacity("@s20", &n), 20u);
  EXPECT_EQ(ControlCapacity("@n-14", &n), 0u);
  EXPECT_EQ(ControlCapacity("", nullptr), 0u);
}

}  // namespace
}  // namespace qzr
