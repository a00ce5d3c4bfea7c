#include "ui/text_capacity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/values/ufo.h"
#include "runtime/values/ufo_memo.h"

namespace qzr {
namespace {

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
