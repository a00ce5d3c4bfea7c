// Tests of FORMAT and DEFORMAT over the value stack.

#include "runtime/pictures/picture_stack.h"

#include <gtest/gtest.h>

#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

class PictureStack : public ::testing::Test {
 protected:
  void SetUp() override { InitLocaleForTesting(IntlSettings{}, "/nonexistent/x.ENV"); }
  ValueStack stack_;
};

TEST_F(PictureStack, FormatTakesTextOrDecimal) {
  const CompiledPicture pic = CompilePicture("@N9.2");
  stack_.PushText("1234.5");
  FormatOnStack(&stack_, pic, StackSide::kText);
  ASSERT_EQ(stack_.TextDepth(), 1u);
  EXPECT_EQ(stack_.PopText(), "  1234.50");

  Decimal d;
  ASSERT_TRUE(Decimal::FromText("-2.345", &d));
  stack_.PushDecimal(d);
  FormatOnStack(&stack_, pic, StackSide::kDecimal);
  EXPECT_EQ(stack_.DecimalDepth(), 0u);
  EXPECT_EQ(stack_.PopText(), "    -2.35");

  stack_.PushLong(DateFromParts(7, 4, 2026));
  FormatOnStack(&stack_, CompilePicture("@D10-"), StackSide::kDecimal);
  EXPECT_EQ(stack_.PopText(), "2026-07-04");
}

TEST_F(PictureStack, DeformatPushesNumbersAsDecimalsAndTextsAsText) {
  stack_.PushText("1,234.50");
  EXPECT_EQ(DeformatOnStack(&stack_, CompilePicture("@N12`.2")), StackSide::kDecimal);
  EXPECT_EQ(stack_.PopDecimal().ToText(), "1234.5");

  stack_.PushText("2026/07/04");
  EXPECT_EQ(DeformatOnStack(&stack_, CompilePicture("@D10")), StackSide::kDecimal);
  EXPECT_EQ(stack_.PopLong(), DateFromParts(7, 4, 2026));

  stack_.PushText("abcdef");
  EXPECT_EQ(DeformatOnStack(&stack_, CompilePicture("@S3")), StackSide::kText);
  EXPECT_EQ(stack_.PopText(), "abc");

  // Beyond the accumulator's 32 integer digits the exact text is kept.
  const std::string big(40, '9');
  stack_.PushText(big);
  EXPECT_EQ(DeformatOnStack(&stack_, CompilePicture("@N60")), StackSide::kText);
  EXPECT_EQ(stack_.PopText(), big);
}

}  // namespace
}  // namespace qzr
