#include "runtime/values/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace qzr {
namespace {

Decimal D(std::string_view text) {
  Decimal d;
  EXPECT_TRUE(Decimal::FromText(text, &d)) << text;
  return d;
}

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

TEST(Decimal, TextRoundTripIsCanonical) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"-123.45", "-123.45"},
      {"0.5", "0.5"},
      {"7", "7"},
      {"0", "0"},
      {"-0", "0"},
      {"-0.000", "0"},
      {"00012.3400", "12.34"},
      {"+5", "5"},
      {"  42", "42"},
      {"1e3", "1000"},
      {"1.5E-2", "0.015"},
      {".5", "0.5"},
      {"5.", "5"},
      {"12abc", "12"},
      {"-.25", "-0.25"},
      {"99999999999999999999999999999999", "99999999999999999999999999999999"},
      {"0.00000000000000000000000000000001", "0.00000000000000000000000000000001"},
      // The 33rd fractional digit rounds the 32nd, halves away from zero.
      {"0.000000000000000000000000000000015", "0.00000000000000000000000000000002"},
      {"-0.000000000000000000000000000000004", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(D(c.in).ToText(), c.out) << c.in;
}

TEST(Decimal, FromTextRejectsNonNumbersAndOverflow) {
  for (const char* bad :
       {"", "abc", "-", ".", " e5", "100000000000000000000000000000000", "1e32"}) {
    Decimal d = Decimal::FromLong(9);
    EXPECT_FALSE(Decimal::FromText(bad, &d)) << bad;
    EXPECT_TRUE(d.IsZero()) << bad;
  }
}

TEST(Decimal, FromAndToIntegers) {
  EXPECT_EQ(Decimal::FromLong(0).ToText(), "0");
  EXPECT_EQ(Decimal::FromLong(-2147483648LL).ToText(), "-2147483648");
  EXPECT_EQ(Decimal::FromLong(std::numeric_limits<int64_t>::min()).ToText(),
            "-9223372036854775808");
  EXPECT_EQ(Decimal::FromULong(18446744073709551615ull).ToText(), "18446744073709551615");

  int64_t v;
  EXPECT_TRUE(D("-9223372036854775808").ToInt64(&v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_FALSE(D("9223372036854775808").ToInt64(&v));
  EXPECT_TRUE(D("-2.9").ToInt64(&v));
  EXPECT_EQ(v, -2);

  EXPECT_EQ(D("2147483647.9").ToLong(), 2147483647);
  EXPECT_EQ(D("2147483648").ToLong(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(D("-2147483648.5").ToLong(), std::numeric_limits<int32_t>::min());
}

TEST(Decimal, DoubleConversionsUseShortestText) {
  EXPECT_EQ(Decimal::FromDouble(0.1).ToText(), "0.1");
  EXPECT_EQ(Decimal::FromDouble(-2.5).ToText(), "-2.5");
  EXPECT_EQ(Decimal::FromDouble(9007199254740992.0).ToText(), "9007199254740992");
  EXPECT_EQ(Decimal::FromDouble(1e-40).ToText(), "0");
  Decimal d;
  EXPECT_FALSE(Decimal::FromDouble(1e32, &d));
  EXPECT_FALSE(Decimal::FromDouble(std::nan(""), &d));
  EXPECT_FALSE(Decimal::FromDouble(-std::numeric_limits<double>::infinity(), &d));
  EXPECT_EQ(D("0.1").ToDouble(), 0.1);
  EXPECT_EQ(D("-123.45").ToDouble(), -123.45);
  EXPECT_EQ(Decimal().ToDouble(), 0.0);
}

TEST(Decimal, RoundsHalvesAwayFromZero) {
  struct Case {
    const char* in;
    int places;
    const char* out;
  } cases[] = {
      {"2.345", 2, "2.35"}, {"-2.345", 2, "-2.35"}, {"2.344", 2, "2.34"}, {"9.995", 2, "10"},
      {"-9.995", 2, "-10"}, {"0.004", 2, "0"},      {"0.005", 2, "0.01"}, {"-0.004", 2, "0"},
      {"123.5", 0, "124"},  {"123.4999", 0, "123"}, {"1.23", 5, "1.23"},  {"1.25", -1, "1"},
      {"0.5", 40, "0.5"},
  };
  for (const auto& c : cases) {
    Decimal d = D(c.in);
    d.Round(c.places);
    EXPECT_EQ(d.ToText(), c.out) << c.in << " to " << c.places;
  }
  Decimal t = D("-2.349");
  t.Truncate(2);
  EXPECT_EQ(t.ToText(), "-2.34");
}

TEST(Decimal, FixedText) {
  char buf[80];
  auto fixed = [&](const char* in, int places) {
    return std::string(buf, D(in).ToFixedText(places, buf, sizeof buf));
  };
  EXPECT_EQ(fixed("12.3", 2), "12.30");
  EXPECT_EQ(fixed("-0.001", 2), "0.00");
  EXPECT_EQ(fixed("-2.345", 2), "-2.35");
  EXPECT_EQ(fixed("7", 0), "7");
  // A short buffer gets a prefix; the full length is still returned.
  EXPECT_EQ(D("-123.45").ToText(buf, 3), 7u);
  EXPECT_EQ(std::string(buf, 3), "-12");
}

TEST(Decimal, CompareOrdersBySignAndMagnitude) {
  std::vector<const char*> ascending = {"-100",  "-2.5", "-2.49", "-0.001", "0",
                                        "0.001", "2.49", "2.5",   "100"};
  for (size_t i = 0; i < ascending.size(); ++i) {
    for (size_t j = 0; j < ascending.size(); ++j) {
      int expected = (i > j) - (i < j);
      EXPECT_EQ(Decimal::Compare(D(ascending[i]), D(ascending[j])), expected)
          << ascending[i] << " vs " << ascending[j];
    }
  }
}

TEST(Decimal, Arithmetic) {
  enum Op { kAdd, kSub, kMul, kDiv };
  struct Case {
    Op op;
    const char* a;
    const char* b;
    const char* out;
  } cases[] = {
      {kAdd, "1.5", "2.25", "3.75"},
      {kAdd, "-1.5", "2.25", "0.75"},
      {kAdd, "1.5", "-2.25", "-0.75"},
      {kAdd, "-1.5", "-2.25", "-3.75"},
      {kAdd, "0.1", "0.2", "0.3"},
      {kAdd, "5", "-5", "0"},
      {kSub, "10", "0.01", "9.99"},
      {kSub, "-10", "-10", "0"},
      {kSub, "1", "3", "-2"},
      {kMul, "1.5", "-2", "-3"},
      {kMul, "-0.1", "-0.1", "0.01"},
      {kMul, "123456789", "987654321", "121932631112635269"},
      {kMul, "0.0000000000000001", "0.0000000000000001", "0.00000000000000000000000000000001"},
      // 10^-33 rounds up to 10^-32 only from 5 * 10^-33.
      {kMul, "0.0000000000000001", "0.00000000000000005", "0.00000000000000000000000000000001"},
      {kMul, "0.0000000000000001", "0.00000000000000004", "0"},
      {kDiv, "1", "4", "0.25"},
      {kDiv, "1", "3", "0.33333333333333333333333333333333"},
      {kDiv, "2", "3", "0.66666666666666666666666666666667"},
      {kDiv, "-7", "2", "-3.5"},
      {kDiv, "7.5", "-0.25", "-30"},
      {kDiv, "0", "3", "0"},
      {kDiv, "99999999999999999999999999999999", "99999999999999999999999999999999", "1"},
  };
  for (const auto& c : cases) {
    Decimal r;
    bool ok = false;
    switch (c.op) {
      case kAdd:
        ok = Decimal::Add(D(c.a), D(c.b), &r);
        break;
      case kSub:
        ok = Decimal::Subtract(D(c.a), D(c.b), &r);
        break;
      case kMul:
        ok = Decimal::Multiply(D(c.a), D(c.b), &r);
        break;
      case kDiv:
        ok = Decimal::Divide(D(c.a), D(c.b), &r);
        break;
    }
    EXPECT_TRUE(ok) << c.a << " op" << c.op << " " << c.b;
    EXPECT_EQ(r.ToText(), c.out) << c.a << " op" << c.op << " " << c.b;
  }
}

TEST(Decimal, ArithmeticReportsOverflowAndDivisionByZero) {
  const Decimal max = D("99999999999999999999999999999999");
  Decimal r = Decimal::FromLong(5);
  EXPECT_FALSE(Decimal::Add(max, Decimal::FromLong(1), &r));
  EXPECT_TRUE(r.IsZero());
  Decimal neg = max;
  neg.Negate();
  EXPECT_FALSE(Decimal::Subtract(neg, Decimal::FromLong(1), &r));
  EXPECT_FALSE(Decimal::Multiply(max, Decimal::FromLong(10), &r));
  EXPECT_FALSE(Decimal::Divide(Decimal::FromLong(1), Decimal(), &r));
  EXPECT_FALSE(Decimal::Divide(max, D("0.1"), &r));
  EXPECT_TRUE(Decimal::Divide(max, Decimal::FromLong(1), &r));
  EXPECT_EQ(r, max);
}

TEST(Decimal, NegateNeverMakesNegativeZero) {
  Decimal z;
  z.Negate();
  EXPECT_FALSE(z.IsNegative());
  Decimal d = D("1.5");
  d.Negate();
  EXPECT_TRUE(d.IsNegative());
  EXPECT_EQ(d.Abs().ToText(), "1.5");
  EXPECT_EQ(d.Digit(0), 1);
  EXPECT_EQ(d.Digit(-1), 5);
  EXPECT_EQ(d.Digit(40), 0);
  EXPECT_EQ(D("123.45").IntegerDigits(), 3);
  EXPECT_EQ(D("123.45").FractionDigits(), 2);
}

// ---- Storage layouts, byte for byte.

TEST(DecimalStorage, DecimalAndPDecimalBytes) {
  struct Case {
    const char* value;
    int bytes;
    int places;
    const char* decimal;
    const char* pdecimal;
  } cases[] = {
      {"-12.34", 3, 2, "F0 12 34", "01 23 4D"},
      {"12.34", 3, 2, "00 12 34", "01 23 4F"},
      {"0", 3, 2, "00 00 00", "00 00 0F"},
      // Overflow keeps the low-order integer digits.
      {"123456", 3, 2, "04 56 00", "45 60 0F"},
      {"1000", 3, 2, "00 00 00", "00 00 0F"},
      {"-1000", 3, 2, "00 00 00", "00 00 0F"},
      {"2.345", 3, 2, "00 02 35", "00 23 5F"},
      {"-2.345", 3, 2, "F0 02 35", "00 23 5D"},
      {"7", 1, 0, "07", "7F"},
      {"-7", 1, 0, "F7", "7D"},
      {"0.5", 1, 0, "01", "1F"},
      {"12.5", 2, 3, "05 00", "50 0F"},
      // More places than digits: the field stays zero.
      {"1", 2, 4, "00 00", "00 0F"},
      {"-123456789.123", 6, 2, "F1 23 45 67 89 12", "12 34 56 78 91 2D"},
  };
  for (const auto& c : cases) {
    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    D(c.value).StoreDecimal(buf, c.bytes, c.places);
    EXPECT_EQ(Hex(buf, c.bytes), c.decimal) << c.value;
    EXPECT_EQ(buf[c.bytes], 0xAA) << "wrote past the field: " << c.value;
    std::memset(buf, 0xAA, sizeof buf);
    D(c.value).StorePDecimal(buf, c.bytes, c.places);
    EXPECT_EQ(Hex(buf, c.bytes), c.pdecimal) << c.value;
    EXPECT_EQ(buf[c.bytes], 0xAA) << "wrote past the field: " << c.value;
  }
}

TEST(DecimalStorage, LoadReadsWhatStoreWrote) {
  for (const char* v : {"-12.34", "12.34", "0", "999.99", "-999.99", "0.01", "-0.01"}) {
    uint8_t buf[3];
    D(v).StoreDecimal(buf, 3, 2);
    EXPECT_EQ(Decimal::LoadDecimal(buf, 3, 2), D(v)) << v;
    D(v).StorePDecimal(buf, 3, 2);
    EXPECT_EQ(Decimal::LoadPDecimal(buf, 3, 2), D(v)) << v;
  }
}

TEST(DecimalStorage, LoadToleratesOddBytes) {
  // Bit 7 of byte 0 alone marks a negative DECIMAL (the lowest clear value
  // has sign nibble 8).
  const uint8_t low[3] = {0x89, 0x99, 0x99};
  EXPECT_EQ(Decimal::LoadDecimal(low, 3, 2).ToText(), "-999.99");
  // Nibbles above 9 read as 0.
  const uint8_t bad[3] = {0x0A, 0xB1, 0x2C};
  EXPECT_EQ(Decimal::LoadDecimal(bad, 3, 0).ToText(), "120");
  // Any PDECIMAL sign other than D is positive.
  const uint8_t pc[2] = {0x12, 0x3C};
  EXPECT_EQ(Decimal::LoadPDecimal(pc, 2, 1).ToText(), "12.3");
}

TEST(DecimalStorage, ULongIsUnsignedModulo32Bits) {
  struct Case {
    const char* value;
    const char* bytes;
    const char* back;
  } cases[] = {
      {"0", "00 00 00 00", "0"},          {"4294967295", "FF FF FF FF", "4294967295"},
      {"4294967296", "00 00 00 00", "0"}, {"-1", "FF FF FF FF", "4294967295"},
      {"2.5", "03 00 00 00", "3"},        {"305419896", "78 56 34 12", "305419896"},
  };
  for (const auto& c : cases) {
    uint8_t buf[4];
    D(c.value).StoreULong(buf);
    EXPECT_EQ(Hex(buf, 4), c.bytes) << c.value;
    EXPECT_EQ(Decimal::LoadULong(buf).ToText(), c.back) << c.value;
  }
}

}  // namespace
}  // namespace qzr
