#include "runtime/values/text_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace qzr {
namespace {

constexpr int32_t kIndefinite = std::numeric_limits<int32_t>::min();

TEST(TextNumber, ParsesTheNumberInFront) {
  struct Case {
    const char* text;
    double value;
    bool ok;
  } cases[] = {
      {"12", 12, true},
      {"  -1.5", -1.5, true},
      {"+2e3", 2000, true},
      {"3.25abc", 3.25, true},
      {".5", 0.5, true},
      {"5.", 5, true},
      {"1e", 1, true},
      {"1e+", 1, true},
      {"abc", 0, false},
      {"", 0, false},
      {"-", 0, false},
      {".", 0, false},
      {"0x10", 0, true},
      {"inf", 0, false},
      {"nan", 0, false},
      {"1e999", std::numeric_limits<double>::infinity(), true},
      {"-1e999", -std::numeric_limits<double>::infinity(), true},
      {"1e-999", 0, true},
  };
  for (const auto& c : cases) {
    bool ok = !c.ok;
    EXPECT_EQ(TextToReal(c.text, &ok), c.value) << c.text;
    EXPECT_EQ(ok, c.ok) << c.text;
  }
}

TEST(TextNumber, ReadsAtMostFortyCharacters) {
  // 41 digits: only the first 40 count.
  std::string digits = "1" + std::string(40, '0');
  EXPECT_EQ(TextToReal(digits), 1e39);
  // A number that starts after 40 characters is not seen.
  EXPECT_EQ(TextToReal(std::string(40, ' ') + "5"), 0.0);
}

TEST(TextNumber, NearIntegerCorrection) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"2.9999999999999999", 3},
      {"2.9999999999999996", 3},
      {"2.99999999999999", 2},
      {"2.9", 2},
      {"-2.9999999999999996", -3},
      {"-2.9", -2},
      {"0.99999999999999994", 1},
      {"0.5", 0},
      {"-0.5", 0},
      {"2147483647", 2147483647},
      {"-2147483648", kIndefinite},
      {"2147483648", kIndefinite},
      {"1e10", kIndefinite},
      {"abc", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TextToLong(c.text), c.value) << c.text;
  EXPECT_EQ(RealToLongNearInteger(std::nan("")), kIndefinite);
  EXPECT_EQ(RealToLong(-2147483648.0), kIndefinite);
  EXPECT_EQ(RealToLong(-2147483647.5), -2147483647);
}

TEST(TextNumber, IsNumericText) {
  for (const char* yes : {"1", " 2.5 ", "-3e2", "+.5"}) EXPECT_TRUE(IsNumericText(yes)) << yes;
  for (const char* no : {"", " ", "1x", "1 2", "e5", "--1"}) EXPECT_FALSE(IsNumericText(no)) << no;
}

TEST(TextNumber, RealToTextUsesFifteenSignificantDigits) {
  struct Case {
    double v;
    const char* text;
  } cases[] = {
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {-2.5, "-2.5"},
      {0.0, "0"},
      {-0.0, "0"},
      {1234567.0, "1234567"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1e+15"},
      {1e20, "1e+20"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {1.0 / 3, "0.333333333333333"},
      {-1.7976931348623157e308, "-1.79769313486232e+308"},
  };
  char buf[32];
  for (const auto& c : cases) {
    size_t n = RealToText(c.v, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), c.text) << c.v;
  }
  EXPECT_EQ(RealToText(-2.5, buf, 2), 4u);
  EXPECT_EQ(std::string(buf, 2), "-2");
  EXPECT_EQ(LongToText(-2147483648LL, buf, sizeof buf), 11u);
  EXPECT_EQ(std::string(buf, 11), "-2147483648");
}

}  // namespace
}  // namespace qzr
