#include "runtime/values/value_stack.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "testing/fatal_guard.h"

namespace qzr {
namespace {

TEST(ValueStack, TextsComeBackLastInFirstOut) {
  ValueStack st;
  st.PushText("one");
  st.PushText("");
  st.PushText("three");
  EXPECT_EQ(st.TextDepth(), 3u);
  EXPECT_EQ(st.TopText(), "three");
  EXPECT_EQ(st.PopText(), "three");
  EXPECT_EQ(st.PopTextView(), "");
  std::string_view one = st.PopTextView();
  EXPECT_EQ(one, "one");  // valid until the next push
  EXPECT_EQ(st.TextDepth(), 0u);
  EXPECT_FATAL(st.PopTextView(), 501);
  EXPECT_FATAL(st.TopText(), 501);
}

TEST(ValueStack, GrowsPastItsInitialArena) {
  ValueStack st;
  std::string big(10000, 'x');
  st.PushText("below");
  st.PushText(big);
  st.PushText("top");
  EXPECT_EQ(st.PopText(), "top");
  EXPECT_EQ(st.PopText(), big);
  EXPECT_EQ(st.PopText(), "below");
}

TEST(ValueStack, PushesATextFromItsOwnArena) {
  ValueStack st;
  std::string big(3000, 'y');
  st.PushText(big);
  st.PushText(st.TopText());  // the arena grows while the text lies in it
  st.PushText(st.PopTextView());
  EXPECT_EQ(st.TextDepth(), 2u);
  EXPECT_EQ(st.PopText(), big);
  EXPECT_EQ(st.PopText(), big);
}

TEST(ValueStack, DecimalsAndConveniences) {
  ValueStack st;
  Decimal d;
  ASSERT_TRUE(Decimal::FromText("-1.25", &d));
  st.PushDecimal(d);
  st.PushLong(-7);
  st.PushReal(0.1);
  EXPECT_EQ(st.DecimalDepth(), 3u);
  EXPECT_EQ(st.TopDecimal().ToText(), "0.1");
  EXPECT_EQ(st.PopReal(), 0.1);
  EXPECT_EQ(st.PopLong(), -7);
  EXPECT_EQ(st.PopDecimal(), d);
  EXPECT_FATAL(st.PopDecimal(), 501);
  st.PushLong(1);
  st.PushText("x");
  st.Reset();
  EXPECT_EQ(st.DecimalDepth(), 0u);
  EXPECT_EQ(st.TextDepth(), 0u);
}

TEST(ValueStack, EachThreadHasItsOwn) {
  ValueStack& mine = ThreadValueStack();
  mine.Reset();
  mine.PushText("main");
  size_t other_depth = 99;
  std::thread t([&] {
    other_depth = ThreadValueStack().TextDepth();
    ThreadValueStack().PushText("other");
  });
  t.join();
  EXPECT_EQ(other_depth, 0u);
  EXPECT_EQ(mine.TextDepth(), 1u);
  EXPECT_EQ(mine.PopText(), "main");
}

}  // namespace
}  // namespace qzr
