#include "runtime/values/bfloat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace qzr {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

TEST(BFloat, KnownLayouts) {
  struct Case {
    double v;
    const char* b4;
    const char* b8;
  } cases[] = {
      {1.0, "00 00 00 81", "00 00 00 00 00 00 00 81"},
      {-1.0, "00 00 80 81", "00 00 00 00 00 00 80 81"},
      {0.5, "00 00 00 80", "00 00 00 00 00 00 00 80"},
      {10.0, "00 00 20 84", "00 00 00 00 00 00 20 84"},
      {-3.0, "00 00 C0 82", "00 00 00 00 00 00 C0 82"},
      {0.0, "00 00 00 00", "00 00 00 00 00 00 00 00"},
      {-0.0, "00 00 00 00", "00 00 00 00 00 00 00 00"},
      // Too small for the format: zero.
      {1e-300, "00 00 00 00", "00 00 00 00 00 00 00 00"},
      {-1e-300, "00 00 00 00", "00 00 00 00 00 00 00 00"},
  };
  for (const auto& c : cases) {
    uint8_t b4[4], b8[8];
    DoubleToBFloat4(c.v, b4);
    DoubleToBFloat8(c.v, b8);
    EXPECT_EQ(Hex(b4, 4), c.b4) << c.v;
    EXPECT_EQ(Hex(b8, 8), c.b8) << c.v;
    EXPECT_EQ(BFloat4ToDouble(b4), c.v == 0 || std::fabs(c.v) < 1e-200 ? 0.0 : c.v);
  }
}

TEST(BFloat, HugeExponentsSaturate) {
  uint8_t b4[4];
  DoubleToBFloat4(1e300, b4);
  EXPECT_EQ(b4[3], 255);
  DoubleToBFloat4(std::numeric_limits<double>::infinity(), b4);
  EXPECT_EQ(b4[3], 255);
}

TEST(BFloat, RoundTrips) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mag(-30, 30);
  for (int i = 0; i < 2000; ++i) {
    double v = std::pow(10.0, mag(rng)) * (i % 2 ? -1 : 1);
    uint8_t b8[8];
    DoubleToBFloat8(v, b8);
    EXPECT_EQ(BFloat8ToDouble(b8), v);  // 55 mantissa bits hold all 52
    uint8_t b4[4];
    DoubleToBFloat4(v, b4);
    const double back = BFloat4ToDouble(b4);
    // Truncated to 24 significant bits, toward zero.
    EXPECT_LE(std::fabs(back), std::fabs(v));
    EXPECT_LT(std::fabs(v - back), std::fabs(v) * std::ldexp(1.0, -23));
    EXPECT_EQ(static_cast<double>(static_cast<float>(back)), back);
  }
}

}  // namespace
}  // namespace qzr
