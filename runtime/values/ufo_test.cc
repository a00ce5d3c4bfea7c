#include "runtime/values/ufo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/values/date_time.h"
#include "runtime/values/value_stack.h"
#include "testing/fatal_guard.h"

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

constexpr int32_t kIndefinite = std::numeric_limits<int32_t>::min();

// ---- Factory.

TEST(UfoFactory, MakesTheClassOfEachCode) {
  struct Case {
    TypeCode code;
    uint32_t length;
    TypeCode type;
    ValueClass value_class;
    uint32_t size;
  } cases[] = {
      {TypeCode::BYTE, 0, TypeCode::BYTE, ValueClass::Integer, 1},
      {TypeCode::SHORT, 0, TypeCode::SHORT, ValueClass::Integer, 2},
      {TypeCode::USHORT, 0, TypeCode::USHORT, ValueClass::Integer, 2},
      {TypeCode::DATE, 0, TypeCode::DATE, ValueClass::Integer, 4},
      {TypeCode::TIME, 0, TypeCode::TIME, ValueClass::Integer, 4},
      {TypeCode::LONG, 0, TypeCode::LONG, ValueClass::Integer, 4},
      {TypeCode::ULONG, 0, TypeCode::ULONG, ValueClass::Decimal, 4},
      {TypeCode::SREAL, 0, TypeCode::SREAL, ValueClass::Real, 4},
      {TypeCode::REAL, 0, TypeCode::REAL, ValueClass::Real, 8},
      {TypeCode::DECIMAL, 5, TypeCode::DECIMAL, ValueClass::Decimal, 5},
      {TypeCode::PDECIMAL, 6, TypeCode::PDECIMAL, ValueClass::Decimal, 6},
      {TypeCode::BFLOAT4, 0, TypeCode::BFLOAT4, ValueClass::Real, 4},
      {TypeCode::BFLOAT8, 0, TypeCode::BFLOAT8, ValueClass::Real, 8},
      {TypeCode::STRING, 20, TypeCode::STRING, ValueClass::String, 20},
      {TypeCode::GROUP, 12, TypeCode::STRING, ValueClass::String, 12},
      {TypeCode::CSTRING, 20, TypeCode::CSTRING, ValueClass::String, 20},
      {TypeCode::PSTRING, 20, TypeCode::PSTRING, ValueClass::String, 20},
      {TypeCode::REFSTRING, 7, TypeCode::REFSTRING, ValueClass::String, 7},
      {TypeCode::ANY, 99, TypeCode::REFSTRING, ValueClass::String, 4},
      {TypeCode::OLESTRING1, 0, TypeCode::OLESTRING1, ValueClass::String, sizeof(void*)},
      {TypeCode::OLESTRING2, 0, TypeCode::OLESTRING2, ValueClass::String, sizeof(void*)},
  };
  alignas(8) uint8_t storage[64] = {};
  for (const auto& c : cases) {
    auto ufo = MakeUfo(c.code, storage, c.length, 2);
    ASSERT_NE(ufo, nullptr);
    EXPECT_EQ(ufo->Type(), c.type) << TypeName(c.code);
    EXPECT_EQ(ufo->GetValueClass(), c.value_class) << TypeName(c.code);
    EXPECT_EQ(ufo->Size(), c.size) << TypeName(c.code);
    EXPECT_EQ(ufo->Address(), storage);
    EXPECT_FALSE(ufo->OwnsStorage());

    UfoSlot slot;
    UFO* in_place = slot.Make(c.code, storage, c.length, 2);
    EXPECT_EQ(in_place->Type(), c.type);
    EXPECT_EQ(in_place->Size(), c.size);
  }
  Variant v;
  auto var = MakeUfo(TypeCode::VARIANTREF, &v);
  EXPECT_EQ(var->Type(), TypeCode::VARIANTREF);
}

TEST(UfoFactory, UnknownCodeIsFatal) {
  uint8_t storage[8] = {};
  for (int code : {0, 12, 16, 17, 21, 23, 24, 25, 26, 27, 28, 29, 30, 32, 44, 46, 255}) {
    try {
      MakeUfo(static_cast<uint8_t>(code), storage, 4, 0, false);
      ADD_FAILURE() << "no fatal error for code " << code;
    } catch (const testing::FatalErrorThrown& e) {
      EXPECT_EQ(e.code, 501);
      EXPECT_STREQ(e.what(), "Internal error 01 : Make UFO Error");
    }
    UfoSlot slot;
    EXPECT_FATAL(slot.Make(static_cast<uint8_t>(code), storage), 501);
    EXPECT_EQ(slot.get(), nullptr);
  }
}

// A class that supplies none of the base operations.
class BareUfo : public UFO {
 public:
  BareUfo() : UFO(nullptr, 0, 0) {}
};

TEST(UfoFactory, MissingOperationIsPureVirtualError) {
  BareUfo bare;
  EXPECT_FATAL(bare.SetLong(1), 410);
  EXPECT_FATAL(bare.GetReal(), 410);
  EXPECT_FATAL(bare.Type(), 410);
  EXPECT_FATAL(bare.Clear(0), 410);
  EXPECT_FATAL(bare.Text(), 410);
  try {
    bare.GetLong();
  } catch (const testing::FatalErrorThrown& e) {
    EXPECT_STREQ(e.what(), "Pure Virtual Function Called");
  }
}

TEST(UfoFactory, OwnedStorageCopiesTheInitialValue) {
  const int32_t init = 1234567;
  auto l = MakeUfo(TypeCode::LONG, nullptr, 0, 0, true, &init);
  EXPECT_TRUE(l->OwnsStorage());
  EXPECT_EQ(l->GetLong(), 1234567);

  auto s = MakeUfo(TypeCode::STRING, nullptr, 5, 0, true, "HELLO WORLD");
  EXPECT_EQ(s->Text(), "HELLO");
  auto z = MakeUfo(TypeCode::DECIMAL, nullptr, 4, 2, true);
  EXPECT_EQ(z->Text(), "0");
  z->SetText("-12.345");
  EXPECT_EQ(z->Text(), "-12.35");

  Variant init_v;
  init_v.type = TypeCode::REAL;
  init_v.real_value = 2.5;
  auto v = MakeUfo(TypeCode::VARIANTREF, nullptr, 0, 0, true, &init_v);
  EXPECT_EQ(v->GetReal(), 2.5);

  auto o = MakeUfo(TypeCode::OLESTRING1, nullptr, 0, 0, true);
  o->SetText("owned");
  EXPECT_EQ(o->Text(), "owned");  // freed with the object (ASan checks)

  EXPECT_FATAL(l->Rebind(nullptr), 501);
}

TEST(UfoFactory, CloneSharesTheStorage) {
  uint8_t rec[16] = {};
  UfoShort s(rec);
  auto c = s.Clone();
  c->SetLong(-5);
  EXPECT_EQ(s.GetLong(), -5);
  EXPECT_EQ(c->Type(), TypeCode::SHORT);
  EXPECT_FALSE(c->OwnsStorage());

  UfoPDecimal p(rec + 4, 3, 1);
  p.SetText("12.3");
  EXPECT_EQ(p.Clone()->Text(), "12.3");
  EXPECT_EQ(p.Clone()->Type(), TypeCode::PDECIMAL);

  UfoLong l(rec);
  l.SetLong(7);
  l.Rebind(rec + 8);
  EXPECT_EQ(l.GetLong(), 0);
}

// ---- Integer family.

TEST(UfoInteger, StorageFormsKeepTheLowBits) {
  uint8_t b[4] = {};
  UfoByte byte(b);
  byte.SetLong(300);
  EXPECT_EQ(b[0], 44);
  byte.SetLong(-1);
  EXPECT_EQ(byte.GetLong(), 255);  // zero-extended

  UfoShort sh(b);
  sh.SetLong(40000);
  EXPECT_EQ(sh.GetLong(), 40000 - 65536);  // sign-extended
  EXPECT_EQ(Hex(b, 2), "40 9C");

  UfoUShort us(b);
  us.SetLong(-1);
  EXPECT_EQ(us.GetLong(), 65535);

  UfoLong l(b);
  l.SetLong(0x12345678);
  EXPECT_EQ(Hex(b, 4), "78 56 34 12");
  l.SetLong(-2);
  EXPECT_EQ(Hex(b, 4), "FE FF FF FF");
  uint8_t raw[8] = {};
  EXPECT_EQ(l.StoreRaw(raw), 4u);
  EXPECT_EQ(Hex(raw, 4), "FE FF FF FF");
  EXPECT_EQ(byte.StoreRaw(raw), 1u);
  EXPECT_EQ(sh.StoreRaw(raw), 2u);
}

TEST(UfoInteger, SetFromRealTruncatesTowardZero) {
  struct Case {
    double in;
    int32_t out;
  } cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {0.0, 0},
      {2147483647.9, 2147483647},
      {-2147483648.9, kIndefinite},
      {3e9, kIndefinite},
      {-3e9, kIndefinite},
      {std::nan(""), kIndefinite},
      {std::numeric_limits<double>::infinity(), kIndefinite},
  };
  uint8_t b[4];
  UfoLong l(b);
  for (const auto& c : cases) {
    l.SetReal(c.in);
    EXPECT_EQ(l.GetLong(), c.out) << c.in;
  }
  UfoByte byte(b);
  byte.SetReal(3e9);  // indefinite value, low 8 bits
  EXPECT_EQ(byte.GetLong(), 0);
}

TEST(UfoInteger, TextUsesTheNearIntegerCorrection) {
  struct Case {
    const char* text;
    int32_t out;
  } cases[] = {
      {"2.9999999999999999", 3},
      {"2.9", 2},
      {"-2.9999999999999999", -3},
      {"-2.9", -2},
      {"42", 42},
      {"  42xyz", 42},
      {"abc", 0},
      {"", 0},
      {"1e3", 1000},
      {"2147483647", 2147483647},
      {"2147483648", kIndefinite},
  };
  uint8_t b[4];
  UfoLong l(b);
  for (const auto& c : cases) {
    l.SetText(c.text);
    EXPECT_EQ(l.GetLong(), c.out) << c.text;
  }
  l.SetLong(-17);
  EXPECT_EQ(l.Text(), "-17");
  char buf[2];
  EXPECT_EQ(l.GetText(buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 2), "-1");
}

TEST(UfoInteger, DateStorage) {
  uint8_t b[4] = {};
  UfoDate d(b);
  d.SetLong(kFirstDate);
  EXPECT_EQ(Hex(b, 4), "01 01 09 07");  // 1 January 1801
  EXPECT_EQ(d.GetLong(), kFirstDate);
  d.SetLong(kLastDate);
  EXPECT_EQ(Hex(b, 4), "1F 0C 0F 27");  // 31 December 9999
  const int32_t date = DateFromParts(2, 29, 2000);
  d.SetLong(date);
  EXPECT_EQ(Hex(b, 4), "1D 02 D0 07");
  EXPECT_EQ(d.GetLong(), date);

  // Year 10000 reads as 31 December 9999.
  const uint8_t y10000[4] = {1, 1, 0x10, 0x27};
  std::memcpy(b, y10000, 4);
  EXPECT_EQ(d.GetLong(), kLastDate);
  // An invalid combination (29 February 1900) reads as 0.
  const uint8_t bad[4] = {29, 2, 0x6C, 0x07};
  std::memcpy(b, bad, 4);
  EXPECT_EQ(d.GetLong(), 0);
  // No date, and dates outside the range, store four zero bytes.
  for (int32_t v : {0, -1, 3, kLastDate + 1}) {
    std::memset(b, 0x55, 4);
    d.SetLong(v);
    EXPECT_EQ(Hex(b, 4), "00 00 00 00") << v;
    EXPECT_EQ(d.GetLong(), 0);
  }
}

TEST(UfoInteger, TimeStorage) {
  uint8_t b[4] = {};
  UfoTime t(b);
  t.SetLong(kLastTime);
  EXPECT_EQ(Hex(b, 4), "63 3B 3B 17");  // 23:59:59.99
  EXPECT_EQ(t.GetLong(), kLastTime);
  const int32_t noon = TimeFromParts(12, 30, 15, 7);
  t.SetLong(noon);
  EXPECT_EQ(Hex(b, 4), "07 0F 1E 0C");
  EXPECT_EQ(t.GetLong(), noon);
  std::memset(b, 0, 4);
  EXPECT_EQ(t.GetLong(), 0);
  const uint8_t hour24[4] = {0, 0, 0, 24};
  std::memcpy(b, hour24, 4);
  EXPECT_EQ(t.GetLong(), -1);
  const uint8_t hund100[4] = {100, 0, 0, 1};
  std::memcpy(b, hund100, 4);
  EXPECT_EQ(t.GetLong(), -1);
  t.SetLong(kLastTime + 1);
  EXPECT_EQ(Hex(b, 4), "00 00 00 00");
}

TEST(UfoInteger, ComparesSignedValues) {
  uint8_t a[4], b[4];
  UfoLong x(a), y(b);
  x.SetLong(-5);
  y.SetLong(3);
  EXPECT_EQ(x.Compare(y), -1);
  EXPECT_EQ(y.Compare(x), 1);
  y.SetLong(-5);
  EXPECT_EQ(x.Compare(y), 0);
  uint8_t c[2];
  UfoUShort u(c);
  u.SetLong(65535);
  EXPECT_EQ(u.Compare(x), 1);
  EXPECT_EQ(x.Compare(u), -1);
  EXPECT_TRUE(UfoTempLong(0).IsFalse());
  EXPECT_FALSE(UfoTempLong(-1).IsFalse());
}

// ---- Clear values, every type, every direction.

TEST(UfoClear, ValuesTable) {
  struct Case {
    TypeCode code;
    uint32_t length;
    uint8_t places;
    const char* neutral;
    const char* highest;
    const char* lowest;
  } cases[] = {
      {TypeCode::BYTE, 0, 0, "00", "FF", "00"},
      {TypeCode::SHORT, 0, 0, "00 00", "FF 7F", "00 80"},
      {TypeCode::USHORT, 0, 0, "00 00", "FF FF", "00 00"},
      {TypeCode::LONG, 0, 0, "00 00 00 00", "FF FF FF 7F", "00 00 00 80"},
      {TypeCode::DATE, 0, 0, "00 00 00 00", "1F 0C 0F 27", "00 00 00 00"},
      {TypeCode::TIME, 0, 0, "00 00 00 00", "63 3B 3B 17", "00 00 00 00"},
      {TypeCode::ULONG, 0, 0, "00 00 00 00", "FF FF FF FF", "00 00 00 00"},
      {TypeCode::REAL, 0, 0, "00 00 00 00 00 00 00 00", "E3 FF FF FF FF FF EF 7F",
       "E3 FF FF FF FF FF EF FF"},
      {TypeCode::SREAL, 0, 0, "00 00 00 00", "FF FF 7F 7F", "FF FF 7F FF"},
      {TypeCode::BFLOAT4, 0, 0, "00 00 00 00", "FF FF 7F FF", "FF FF FF FF"},
      {TypeCode::BFLOAT8, 0, 0, "00 00 00 00 00 00 00 00", "FF FF FF FF FF FF 7F FF",
       "FF FF FF FF FF FF FF FF"},
      {TypeCode::DECIMAL, 3, 2, "00 00 00", "09 99 99", "89 99 99"},
      {TypeCode::PDECIMAL, 3, 2, "00 00 0F", "99 99 9F", "99 99 9D"},
      {TypeCode::STRING, 4, 0, "20 20 20 20", "FF FF FF FF", "00 00 00 00"},
      {TypeCode::CSTRING, 4, 0, "00 00 00 00", "FF FF FF 00", "00 00 00 00"},
      {TypeCode::PSTRING, 4, 0, "00 00 00 00", "03 FF FF FF", "00 00 00 00"},
  };
  for (const auto& c : cases) {
    uint8_t buf[9];
    auto ufo = MakeUfo(c.code, buf, c.length, c.places);
    const size_t n = ufo->Size();
    for (int direction : {0, 1, -1}) {
      std::memset(buf, 0x5A, sizeof buf);
      ufo->Clear(direction == 0 ? 0 : direction * 7);
      const char* expected = direction == 0 ? c.neutral : direction > 0 ? c.highest : c.lowest;
      EXPECT_EQ(Hex(buf, n), expected) << TypeName(c.code) << " direction " << direction;
      EXPECT_EQ(buf[n], 0x5A) << TypeName(c.code) << " wrote past the field";
    }
  }
}

TEST(UfoClear, ReadsBackAsTheExtremes) {
  uint8_t buf[8];
  UfoShort s(buf);
  s.Clear(-1);
  EXPECT_EQ(s.GetLong(), -32768);
  UfoByte b(buf);
  b.Clear(-1);
  EXPECT_EQ(b.GetLong(), 0);
  UfoDate d(buf);
  d.Clear(1);
  EXPECT_EQ(d.GetLong(), kLastDate);
  UfoTime t(buf);
  t.Clear(1);
  EXPECT_EQ(t.GetLong(), kLastTime);
  UfoReal r(buf);
  r.Clear(1);
  EXPECT_EQ(r.GetReal(), 1.7976931348623101e+308);
  r.Clear(-1);
  EXPECT_EQ(r.GetReal(), -1.7976931348623101e+308);
  UfoSReal sr(buf);
  sr.Clear(1);
  EXPECT_EQ(sr.GetReal(), 3.4028234663852886e+38);
  UfoDecimal dec(buf, 3, 2);
  dec.Clear(-1);
  EXPECT_EQ(dec.Text(), "-999.99");
  UfoPDecimal pd(buf, 3, 2);
  pd.Clear(1);
  EXPECT_EQ(pd.Text(), "999.99");
  UfoTempDecimal td(Decimal::FromLong(5));
  td.Clear(1);
  EXPECT_EQ(td.Text(), std::string(32, '9') + "." + std::string(32, '9'));
  td.Clear(0);
  EXPECT_TRUE(td.IsFalse());
}

// ---- Decimal family.

TEST(UfoDecimalFamily, StoresThroughTheAccumulator) {
  uint8_t buf[3];
  UfoDecimal d(buf, 3, 2);
  struct Case {
    const char* text;
    const char* bytes;
    const char* back;
  } cases[] = {
      {"-12.34", "F0 12 34", "-12.34"}, {"12.34", "00 12 34", "12.34"},
      {"123456", "04 56 00", "456"},    {"1000", "00 00 00", "0"},
      {"2.345", "00 02 35", "2.35"},    {"-2.345", "F0 02 35", "-2.35"},
      {"junk", "00 00 00", "0"},
  };
  for (const auto& c : cases) {
    d.SetText(c.text);
    EXPECT_EQ(Hex(buf, 3), c.bytes) << c.text;
    EXPECT_EQ(d.Text(), c.back) << c.text;
  }
  UfoPDecimal p(buf, 3, 2);
  p.SetDecimal(Decimal::FromLong(-12));
  EXPECT_EQ(Hex(buf, 3), "01 20 0D");
  p.SetReal(-12.34);
  EXPECT_EQ(Hex(buf, 3), "01 23 4D");
  EXPECT_EQ(p.GetLong(), -12);
  EXPECT_DOUBLE_EQ(p.GetReal(), -12.34);
  p.SetLong(7);
  EXPECT_EQ(Hex(buf, 3), "00 70 0F");
}

TEST(UfoDecimalFamily, ULongKeepsItsUnsignedRange) {
  uint8_t buf[4];
  UfoULong u(buf);
  u.SetText("4294967295");
  EXPECT_EQ(Hex(buf, 4), "FF FF FF FF");
  EXPECT_EQ(u.Text(), "4294967295");
  EXPECT_EQ(u.GetReal(), 4294967295.0);
  EXPECT_EQ(u.GetLong(), kIndefinite);  // out of the LONG range
  EXPECT_EQ(u.GetValueClass(), ValueClass::Decimal);
  u.SetLong(-1);
  EXPECT_EQ(u.Text(), "4294967295");
}

TEST(UfoDecimalFamily, ComparesExactly) {
  uint8_t a[3], b[4];
  UfoDecimal x(a, 3, 2);
  UfoPDecimal y(b, 4, 3);
  x.SetText("2.50");
  y.SetText("2.5");
  EXPECT_EQ(x.Compare(y), 0);
  y.SetText("2.501");
  EXPECT_EQ(x.Compare(y), -1);
  uint8_t l[4];
  UfoLong two(l);
  two.SetLong(2);
  EXPECT_EQ(x.Compare(two), 1);
  EXPECT_EQ(two.Compare(x), -1);
}

// ---- Real family.

TEST(UfoRealFamily, Conversions) {
  uint8_t buf[8];
  UfoReal r(buf);
  r.SetText("  -1.5e2xyz");
  EXPECT_EQ(r.GetReal(), -150.0);
  EXPECT_EQ(r.Text(), "-150");
  r.SetText("0.1");
  EXPECT_EQ(r.Text(), "0.1");
  EXPECT_EQ(r.GetDecimal().ToText(), "0.1");
  r.SetReal(-2.7);
  EXPECT_EQ(r.GetLong(), -2);
  r.SetText("not a number");
  EXPECT_EQ(r.GetReal(), 0.0);
  EXPECT_TRUE(r.IsFalse());

  uint8_t sbuf[4];
  UfoSReal s(sbuf);
  s.SetReal(1e39);  // beyond the float range
  EXPECT_TRUE(std::isinf(s.GetReal()));
  s.SetReal(0.5);
  EXPECT_EQ(s.GetReal(), 0.5);

  uint8_t b4buf[4];
  UfoBFloat4 b4(b4buf);
  b4.SetReal(10.0);
  EXPECT_EQ(Hex(b4buf, 4), "00 00 20 84");
  EXPECT_EQ(b4.GetReal(), 10.0);
  uint8_t b8buf[8];
  UfoBFloat8 b8(b8buf);
  b8.SetReal(-0.1);
  EXPECT_EQ(b8.GetReal(), -0.1);
  EXPECT_EQ(b8.Compare(r), -1);
}

// ---- String family.

TEST(UfoStringFamily, StringPadsWithSpaces) {
  uint8_t buf[6];
  std::memset(buf, 'x', sizeof buf);
  UfoString s(buf, 5);
  s.SetText("ab");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "ab   x");
  s.SetText("abcdefgh");
  EXPECT_EQ(s.Text(), "abcde");
  EXPECT_EQ(buf[5], 'x');
  s.SetLong(-42);
  EXPECT_EQ(s.Text(), "-42  ");
  EXPECT_EQ(s.GetLong(), -42);
  s.SetReal(2.5);
  EXPECT_EQ(s.Text(), "2.5  ");
  s.SetText("   ");
  EXPECT_TRUE(s.IsFalse());
}

TEST(UfoStringFamily, ShorterTextsLeaveNoStaleTail) {
  // CSTRING and PSTRING: the bytes after the text are zero after every
  // assignment and clear, whatever was there before.
  uint8_t c[8];
  std::memset(c, 'Q', sizeof c);
  UfoCString cs(c, 8);
  cs.SetText("ABCDEFGHIJ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c), 8), std::string("ABCDEFG\0", 8));
  EXPECT_EQ(cs.Text(), "ABCDEFG");
  cs.SetText("XY");
  EXPECT_EQ(Hex(c, 8), "58 59 00 00 00 00 00 00");
  cs.SetText("ABCDEFG");
  cs.Clear(0);
  EXPECT_EQ(Hex(c, 8), "00 00 00 00 00 00 00 00");

  uint8_t p[6];
  std::memset(p, 'Q', sizeof p);
  UfoPString ps(p, 6);
  ps.SetText("ABCDEFGH");
  EXPECT_EQ(Hex(p, 6), "05 41 42 43 44 45");
  EXPECT_EQ(ps.Text(), "ABCDE");
  ps.SetText("Z");
  EXPECT_EQ(Hex(p, 6), "01 5A 00 00 00 00");
  ps.Clear(-1);
  EXPECT_EQ(Hex(p, 6), "00 00 00 00 00 00");

  // A damaged length byte never reads past the field.
  p[0] = 200;
  EXPECT_EQ(ps.TextView().size(), 5u);
  // A CSTRING without a terminator stops at the field's end.
  std::memset(c, 'A', sizeof c);
  EXPECT_EQ(cs.TextView().size(), 8u);
}

TEST(UfoStringFamily, Comparisons) {
  char a[6], b[6];
  UfoString x(a, 5), y(b, 5);
  x.SetText("12");
  y.SetText("12   ");
  EXPECT_EQ(x.Compare(y), 0);
  y.SetText("12A");
  EXPECT_EQ(x.Compare(y), -1);
  EXPECT_EQ(y.Compare(x), 1);

  // Different lengths or types compare through the value classes, as text.
  char c[10];
  UfoCString z(c, 10);
  z.SetText("12");
  EXPECT_EQ(x.Compare(z), 0);
  z.SetText("12B");
  EXPECT_EQ(z.Compare(y), 1);

  // A string against a number compares as a number.
  uint8_t l[4];
  UfoLong two(l);
  two.SetLong(2);
  x.SetText("2.5");
  EXPECT_EQ(x.Compare(two), 1);
  EXPECT_EQ(two.Compare(x), -1);
  x.SetText("2");
  EXPECT_EQ(x.Compare(two), 0);
  uint8_t r[8];
  UfoReal half(r);
  half.SetReal(10.0);
  EXPECT_EQ(x.Compare(half), -1);  // numerically 2 < 10, not as text "2" > "10"
}

TEST(UfoStringFamily, SetFromOtherClasses) {
  char s[12];
  UfoString str(s, 12);
  uint8_t d[4];
  UfoDecimal dec(d, 4, 2);
  dec.SetText("-3.5");
  str.SetUfo(dec);
  EXPECT_EQ(str.Text(), "-3.5        ");
  uint8_t l[4];
  UfoLong lg(l);
  lg.SetUfo(str);
  EXPECT_EQ(lg.GetLong(), -3);
  dec.SetUfo(str);
  EXPECT_EQ(dec.Text(), "-3.5");

  // Assigning a field its own text, shifted, is safe (overlapping copy).
  std::memcpy(s, "abcdefghijkl", 12);
  UfoString tail(s + 2, 10);
  str.SetUfo(tail);
  EXPECT_EQ(str.Text(), "cdefghijkl  ");
}

TEST(UfoStringFamily, OemAnsiConvertsTheTextExtent) {
  // 0x82 is e-acute in code page 437 and 0xE9 in 1252.
  uint8_t s[4] = {0x82, 'a', 0x82, 0x82};
  UfoString str(s, 3);
  str.OemToAnsi();
  EXPECT_EQ(Hex(s, 4), "E9 61 E9 82");
  str.AnsiToOem();
  EXPECT_EQ(Hex(s, 4), "82 61 82 82");

  uint8_t c[4] = {0x82, 0, 0x82, 0};
  UfoCString cs(c, 4);
  cs.OemToAnsi();
  EXPECT_EQ(Hex(c, 4), "E9 00 82 00");

  uint8_t p[4] = {1, 0x82, 0x82, 0x82};
  UfoPString ps(p, 4);
  ps.OemToAnsi();
  EXPECT_EQ(Hex(p, 4), "01 E9 82 82");
}

TEST(UfoStringFamily, ReferenceReadsTheReferencedBytes) {
  char target[4] = {'a', 'b', 'c', 'd'};
  auto ref = MakeUfo(TypeCode::ANY, target);
  EXPECT_EQ(ref->Text(), "abcd");
  ref->SetText("xy");
  EXPECT_EQ(std::string(target, 4), "xy  ");
}

TEST(UfoStringFamily, OleStrings) {
  char16_t* bstr = nullptr;
  UfoOleString byval(&bstr, TypeCode::OLESTRING1);
  EXPECT_EQ(byval.Text(), "");
  EXPECT_TRUE(byval.IsFalse());
  byval.SetText("caf\xE9");
  ASSERT_NE(bstr, nullptr);
  EXPECT_EQ(OleStringLength(bstr), 4u);
  EXPECT_EQ(bstr[3], u'\u00E9');
  EXPECT_EQ(byval.Text(), "caf\xE9");
  bstr[0] = u'\u4E2D';  // not Latin-1: reads as "?"
  EXPECT_EQ(byval.Text(), "?af\xE9");

  char16_t** ref = &bstr;
  UfoOleString byref(&ref, TypeCode::OLESTRING2);
  byref.SetText("12");
  EXPECT_EQ(byval.Text(), "12");
  EXPECT_EQ(byref.GetLong(), 12);

  char sbuf[2];
  UfoString s(sbuf, 2);
  s.SetText("12");
  EXPECT_EQ(byref.Compare(s), 0);
  s.SetUfo(byref);
  EXPECT_EQ(s.Text(), "12");

  byval.Clear(0);
  EXPECT_EQ(bstr, nullptr);
  char16_t** null_ref = nullptr;
  UfoOleString dangling(&null_ref, TypeCode::OLESTRING2);
  dangling.SetText("dropped");
  EXPECT_EQ(dangling.Text(), "");
}

// ---- Variant reference and temporaries.

TEST(UfoVariant, ClassFollowsTheHeldType) {
  Variant v;
  UfoVariantRef ref(&v);
  EXPECT_EQ(ref.GetValueClass(), ValueClass::String);
  ref.SetLong(12);
  EXPECT_EQ(v.type, TypeCode::LONG);
  EXPECT_EQ(ref.GetValueClass(), ValueClass::Integer);
  EXPECT_EQ(ref.Text(), "12");
  ref.SetReal(2.5);
  EXPECT_EQ(ref.GetValueClass(), ValueClass::Real);
  EXPECT_EQ(ref.GetLong(), 2);
  ref.SetText("7.25");
  EXPECT_EQ(ref.GetValueClass(), ValueClass::String);
  EXPECT_EQ(ref.GetReal(), 7.25);
  v.type = TypeCode::SHORT;
  v.long_value = -3;
  EXPECT_EQ(ref.GetValueClass(), ValueClass::Integer);
  EXPECT_EQ(ref.GetLong(), -3);

  UfoTempDecimal d(Decimal::FromLong(4));
  ref.SetUfo(d);
  EXPECT_EQ(ref.GetValueClass(), ValueClass::String);
  EXPECT_EQ(ref.Text(), "4");
  UfoTempLong four(4);
  EXPECT_EQ(ref.Compare(four), 0);
}

TEST(UfoTemporaries, HoldTheirOwnValues) {
  UfoTempLong l(42);
  EXPECT_EQ(l.GetValueClass(), ValueClass::Temporary);
  EXPECT_EQ(l.ComputeClass(), ValueClass::Integer);
  EXPECT_EQ(l.Type(), TypeCode::LONG);
  EXPECT_EQ(l.Clone()->GetLong(), 42);

  UfoTempReal r(0.25);
  EXPECT_EQ(r.ComputeClass(), ValueClass::Real);
  EXPECT_EQ(r.Text(), "0.25");

  Decimal big;
  ASSERT_TRUE(Decimal::FromText("-12345678901234567890.00000000000000000001", &big));
  UfoTempDecimal d(big);
  EXPECT_EQ(d.GetDecimal(), big);
  EXPECT_EQ(d.Clone()->GetDecimal(), big);
  EXPECT_EQ(d.ComputeClass(), ValueClass::Decimal);
  uint8_t raw[40];
  EXPECT_EQ(d.StoreRaw(raw), 33u);
  EXPECT_EQ(Decimal::LoadDecimal(raw, 33, 32), big);

  UfoTempString s("short");
  EXPECT_EQ(s.Size(), 5u);
  s.SetText("a much longer text than before");
  EXPECT_EQ(s.Text(), "a much longer text than before");
  s.SetText(s.TextView().substr(2, 4));  // from its own storage
  EXPECT_EQ(s.Text(), "much");
  EXPECT_EQ(s.ComputeClass(), ValueClass::String);
  EXPECT_EQ(s.GetValueClass(), ValueClass::Temporary);
  s.SetLong(-9);
  EXPECT_EQ(s.Text(), "-9");
  EXPECT_EQ(s.Compare(UfoTempLong(-9)), 0);
}

// ---- Push and pop through the value stack.

TEST(UfoStack, PushAndPopEveryFamily) {
  ValueStack& st = ThreadValueStack();
  st.Reset();
  uint8_t lb[4], db[4], rb[8];
  char sb[8];
  UfoLong l(lb);
  UfoDecimal d(db, 4, 2);
  UfoReal r(rb);
  UfoString s(sb, 8);

  l.SetLong(-12);
  l.PushString();
  EXPECT_EQ(st.TopText(), "-12");
  s.PopString();
  EXPECT_EQ(s.Text(), "-12     ");
  s.PushString();
  d.PopString();
  EXPECT_EQ(d.Text(), "-12");

  d.SetText("2.345");  // stored as 2.35
  d.PushDecimal();
  r.PopDecimal();
  EXPECT_EQ(r.GetReal(), 2.35);
  r.PushDecimal();
  l.PopDecimal();
  EXPECT_EQ(l.GetLong(), 2);
  s.SetText("7.5");
  s.PushDecimal();
  EXPECT_EQ(st.TopDecimal().ToText(), "7.5");
  d.PopDecimal();
  EXPECT_EQ(d.Text(), "7.5");
  d.PushDecimal();
  s.PopDecimal();
  EXPECT_EQ(s.Text(), "7.5     ");
  EXPECT_EQ(st.TextDepth(), 0u);
  EXPECT_EQ(st.DecimalDepth(), 0u);
  EXPECT_FATAL(l.PopString(), 501);
}

}  // namespace
}  // namespace qzr
