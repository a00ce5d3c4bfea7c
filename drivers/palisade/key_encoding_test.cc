#include "drivers/palisade/key_encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/fatal.h"
#include "runtime/settings/locale_data.h"
#include "testing/fatal_guard.h"

namespace qzr::palisade {
namespace {

using Bytes = std::vector<uint8_t>;

KeyLayout OneComponent(TypeCode type, uint32_t size, bool descending = false, uint16_t flags = 0) {
  KeyLayout layout;
  layout.flags = flags;
  layout.components.push_back({type, 0, size, descending});
  return layout;
}

Bytes Encode(const KeyLayout& layout, const Bytes& record,
             const KeyCollation& collation = KeyCollation::Identity()) {
  return EncodeKeyValue(layout, collation, record);
}

Bytes LongBytes(int32_t v) {
  Bytes b(4);
  std::memcpy(b.data(), &v, 4);
  return b;
}
Bytes RealBytes(double v) {
  Bytes b(8);
  std::memcpy(b.data(), &v, 8);
  return b;
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}
template <typename T>
int Cmp(const T& a, const T& b) {
  return (a > b) - (a < b);
}

// ---- storage forms and their natural order --------------------------------

// Signed value of a DECIMAL (sign nibble first) or PDECIMAL (sign last) of n
// bytes; small enough sizes fit an int64.
int64_t DecimalValue(const uint8_t* p, size_t n, bool packed_sign_last) {
  int64_t v = 0;
  const size_t nibbles = 2 * n;
  auto nib = [&](size_t k) { return k % 2 == 0 ? p[k / 2] >> 4 : p[k / 2] & 0xF; };
  bool negative;
  if (packed_sign_last) {
    for (size_t k = 0; k + 1 < nibbles; ++k) v = v * 10 + nib(k);
    negative = nib(nibbles - 1) == 0xD;
  } else {
    for (size_t k = 1; k < nibbles; ++k) v = v * 10 + nib(k);
    negative = nib(0) != 0;
  }
  return negative ? -v : v;
}

void RandomDecimal(std::mt19937& rng, uint8_t* p, size_t n, bool packed_sign_last) {
  const size_t nibbles = 2 * n;
  auto set = [&](size_t k, int v) {
    if (k % 2 == 0) {
      p[k / 2] = static_cast<uint8_t>((p[k / 2] & 0x0F) | (v << 4));
    } else {
      p[k / 2] = static_cast<uint8_t>((p[k / 2] & 0xF0) | v);
    }
  };
  // Few significant digits now and then, so that equal values and zeros of
  // either sign turn up.
  const size_t zeros = rng() % nibbles;
  const bool negative = rng() % 2;
  if (packed_sign_last) {
    for (size_t k = 0; k + 1 < nibbles; ++k) set(k, k < zeros ? 0 : static_cast<int>(rng() % 10));
    set(nibbles - 1, negative ? 0xD : 0xF);
  } else {
    set(0, negative ? (rng() % 2 ? 0xF : 0x8) : 0);
    for (size_t k = 1; k < nibbles; ++k) set(k, k < zeros ? 0 : static_cast<int>(rng() % 10));
  }
}

long double BFloatValue(const uint8_t* p, size_t n) {
  const int exponent = p[n - 1];
  if (exponent == 0) return 0.0L;
  const bool negative = p[n - 2] & 0x80;
  long double mantissa = p[n - 2] & 0x7F;
  for (size_t i = n - 2; i-- > 0;) mantissa = mantissa * 256 + p[i];
  const int bits = static_cast<int>(n * 8 - 9);
  const long double v = std::ldexp(1.0L + std::ldexp(mantissa, -bits), exponent - 129);
  return negative ? -v : v;
}

struct TypeCase {
  const char* name;
  TypeCode type;
  uint32_t size;
  std::function<void(std::mt19937&, uint8_t*)> make;
  // The natural order of two stored values: <0, 0, >0.
  std::function<int(const uint8_t*, const uint8_t*)> compare;
};

std::vector<TypeCase> AllTypes() {
  auto small_int = [](std::mt19937& rng, uint8_t* p, size_t n) {
    // Half the draws from a narrow range around zero, to get equal values,
    // zero and the sign change; the rest spread over every bit pattern.
    if (rng() % 2) {
      int64_t v = static_cast<int64_t>(rng() % 7) - 3;
      std::memcpy(p, &v, n);  // little-endian: the low n bytes
    } else {
      for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng());
    }
  };
  std::vector<TypeCase> cases;
  cases.push_back({"BYTE", TypeCode::BYTE, 1,
                   [=](std::mt19937& r, uint8_t* p) { small_int(r, p, 1); },
                   [](const uint8_t* a, const uint8_t* b) { return Cmp(a[0], b[0]); }});
  cases.push_back({"SHORT", TypeCode::SHORT, 2,
                   [=](std::mt19937& r, uint8_t* p) { small_int(r, p, 2); },
                   [](const uint8_t* a, const uint8_t* b) {
                     int16_t x, y;
                     std::memcpy(&x, a, 2);
                     std::memcpy(&y, b, 2);
                     return Cmp(x, y);
                   }});
  cases.push_back({"USHORT", TypeCode::USHORT, 2,
                   [=](std::mt19937& r, uint8_t* p) { small_int(r, p, 2); },
                   [](const uint8_t* a, const uint8_t* b) {
                     uint16_t x, y;
                     std::memcpy(&x, a, 2);
                     std::memcpy(&y, b, 2);
                     return Cmp(x, y);
                   }});
  cases.push_back({"LONG", TypeCode::LONG, 4,
                   [=](std::mt19937& r, uint8_t* p) { small_int(r, p, 4); },
                   [](const uint8_t* a, const uint8_t* b) {
                     int32_t x, y;
                     std::memcpy(&x, a, 4);
                     std::memcpy(&y, b, 4);
                     return Cmp(x, y);
                   }});
  cases.push_back({"ULONG", TypeCode::ULONG, 4,
                   [=](std::mt19937& r, uint8_t* p) { small_int(r, p, 4); },
                   [](const uint8_t* a, const uint8_t* b) {
                     uint32_t x, y;
                     std::memcpy(&x, a, 4);
                     std::memcpy(&y, b, 4);
                     return Cmp(x, y);
                   }});
  cases.push_back({"DATE", TypeCode::DATE, 4,
                   [](std::mt19937& r, uint8_t* p) {
                     p[0] = static_cast<uint8_t>(1 + r() % 31);
                     p[1] = static_cast<uint8_t>(1 + r() % 12);
                     const uint16_t year = static_cast<uint16_t>(1990 + r() % 40);
                     std::memcpy(p + 2, &year, 2);
                   },
                   [](const uint8_t* a, const uint8_t* b) {
                     auto v = [](const uint8_t* p) {
                       return (p[2] | p[3] << 8) * 10000 + p[1] * 100 + p[0];
                     };
                     return Cmp(v(a), v(b));
                   }});
  cases.push_back({"TIME", TypeCode::TIME, 4,
                   [](std::mt19937& r, uint8_t* p) {
                     p[0] = static_cast<uint8_t>(r() % 100);
                     p[1] = static_cast<uint8_t>(r() % 60);
                     p[2] = static_cast<uint8_t>(r() % 3);
                     p[3] = static_cast<uint8_t>(r() % 24);
                   },
                   [](const uint8_t* a, const uint8_t* b) {
                     auto v = [](const uint8_t* p) {
                       return ((p[3] * 60 + p[2]) * 60 + p[1]) * 100 + p[0];
                     };
                     return Cmp(v(a), v(b));
                   }});
  auto real_case = [](const char* name, TypeCode type, auto zero) {
    using F = decltype(zero);
    return TypeCase{name, type, sizeof(F),
                    [](std::mt19937& r, uint8_t* p) {
                      static const F special[] = {F(0),
                                                  -F(0),
                                                  F(1),
                                                  F(-1),
                                                  F(0.5),
                                                  F(-0.5),
                                                  INFINITY,
                                                  -INFINITY,
                                                  std::numeric_limits<F>::denorm_min(),
                                                  -std::numeric_limits<F>::denorm_min()};
                      F v;
                      if (r() % 3 == 0) {
                        v = special[r() % std::size(special)];
                      } else {
                        do {
                          for (size_t i = 0; i < sizeof(F); ++i) {
                            p[i] = static_cast<uint8_t>(r());
                          }
                          std::memcpy(&v, p, sizeof(F));
                        } while (std::isnan(v));
                      }
                      std::memcpy(p, &v, sizeof(F));
                    },
                    [](const uint8_t* a, const uint8_t* b) {
                      F x, y;
                      std::memcpy(&x, a, sizeof(F));
                      std::memcpy(&y, b, sizeof(F));
                      return Cmp(x, y);
                    }};
  };
  cases.push_back(real_case("SREAL", TypeCode::SREAL, 0.0f));
  cases.push_back(real_case("REAL", TypeCode::REAL, 0.0));
  cases.push_back({"DECIMAL", TypeCode::DECIMAL, 5,
                   [](std::mt19937& r, uint8_t* p) { RandomDecimal(r, p, 5, false); },
                   [](const uint8_t* a, const uint8_t* b) {
                     return Cmp(DecimalValue(a, 5, false), DecimalValue(b, 5, false));
                   }});
  cases.push_back({"PDECIMAL", TypeCode::PDECIMAL, 5,
                   [](std::mt19937& r, uint8_t* p) { RandomDecimal(r, p, 5, true); },
                   [](const uint8_t* a, const uint8_t* b) {
                     return Cmp(DecimalValue(a, 5, true), DecimalValue(b, 5, true));
                   }});
  auto bfloat_case = [](const char* name, TypeCode type, size_t n) {
    return TypeCase{name, type, static_cast<uint32_t>(n),
                    [n](std::mt19937& r, uint8_t* p) {
                      for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(r());
                      // Narrow exponents and mantissas sometimes, for ties.
                      if (r() % 3 == 0) p[n - 1] = static_cast<uint8_t>(r() % 3);
                      if (r() % 3 == 0) std::memset(p, 0, n - 2);
                    },
                    [n](const uint8_t* a, const uint8_t* b) {
                      return Cmp(BFloatValue(a, n), BFloatValue(b, n));
                    }};
  };
  cases.push_back(bfloat_case("BFLOAT4", TypeCode::BFLOAT4, 4));
  cases.push_back(bfloat_case("BFLOAT8", TypeCode::BFLOAT8, 8));
  auto text = [](std::mt19937& r, uint8_t* p, size_t n) {
    // Letters from a small alphabet, of random length, so that prefixes and
    // equal texts are common; bytes above 127 too.
    static const char alphabet[] = "ab AZ\x7f\x80\xff";
    const size_t len = r() % (n + 1);
    for (size_t i = 0; i < len; ++i) p[i] = static_cast<uint8_t>(alphabet[r() % 8]);
    return len;
  };
  cases.push_back({"STRING", TypeCode::STRING, 6,
                   [=](std::mt19937& r, uint8_t* p) {
                     std::memset(p, ' ', 6);
                     text(r, p, 6);
                   },
                   [](const uint8_t* a, const uint8_t* b) { return Sign(std::memcmp(a, b, 6)); }});
  cases.push_back({"CSTRING", TypeCode::CSTRING, 6,
                   [=](std::mt19937& r, uint8_t* p) {
                     // Bytes after the terminator are junk the key ignores.
                     for (int i = 0; i < 6; ++i) p[i] = static_cast<uint8_t>(r() | 1);
                     p[std::min<size_t>(text(r, p, 5), 5)] = 0;
                   },
                   [](const uint8_t* a, const uint8_t* b) {
                     return Sign(std::strcmp(reinterpret_cast<const char*>(a),
                                             reinterpret_cast<const char*>(b)));
                   }});
  cases.push_back({"PSTRING", TypeCode::PSTRING, 6,
                   [=](std::mt19937& r, uint8_t* p) {
                     for (int i = 0; i < 6; ++i) p[i] = static_cast<uint8_t>(r() | 1);
                     p[0] = static_cast<uint8_t>(text(r, p + 1, 5));
                   },
                   [](const uint8_t* a, const uint8_t* b) {
                     const std::string x(reinterpret_cast<const char*>(a + 1), a[0]);
                     const std::string y(reinterpret_cast<const char*>(b + 1), b[0]);
                     const int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
                     return c != 0 ? Sign(c) : Cmp(x.size(), y.size());
                   }});
  return cases;
}

TEST(KeyEncodingTest, EveryTypeSortsInItsNaturalOrderBothWays) {
  std::mt19937 rng(7);
  for (const TypeCase& t : AllTypes()) {
    std::vector<Bytes> values(300, Bytes(t.size));
    for (Bytes& v : values) t.make(rng, v.data());
    for (bool descending : {false, true}) {
      const KeyLayout layout = OneComponent(t.type, t.size, descending);
      std::vector<Bytes> keys;
      for (const Bytes& v : values) keys.push_back(Encode(layout, v));
      int failures = 0;
      for (size_t i = 0; i < values.size() && failures < 3; ++i) {
        for (size_t j = i + 1; j < values.size() && failures < 3; ++j) {
          int natural = t.compare(values[i].data(), values[j].data());
          if (descending) natural = -natural;
          const int encoded = Sign(std::memcmp(keys[i].data(), keys[j].data(), t.size));
          if (natural != encoded) {
            ++failures;
            ADD_FAILURE() << t.name << (descending ? " descending" : "") << ": pair " << i << ","
                          << j << " natural " << natural << " encoded " << encoded;
          }
        }
      }
    }
  }
}

TEST(KeyEncodingTest, GoldenBytes) {
  struct Case {
    const char* what;
    KeyLayout layout;
    Bytes record;
    Bytes expected;
  } cases[] = {
      {"LONG -1", OneComponent(TypeCode::LONG, 4), LongBytes(-1), {0x7F, 0xFF, 0xFF, 0xFF}},
      {"LONG 0", OneComponent(TypeCode::LONG, 4), LongBytes(0), {0x80, 0x00, 0x00, 0x00}},
      {"LONG 1", OneComponent(TypeCode::LONG, 4), LongBytes(1), {0x80, 0x00, 0x00, 0x01}},
      {"descending LONG 0",
       OneComponent(TypeCode::LONG, 4, true),
       LongBytes(0),
       {0x7F, 0xFF, 0xFF, 0xFF}},
      {"CSTRING(10) XY",
       OneComponent(TypeCode::CSTRING, 10),
       {'X', 'Y', 0, 'j', 'u', 'n', 'k', '!', '!', '!'},
       {'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0}},
      {"PSTRING(5) AB",
       OneComponent(TypeCode::PSTRING, 5),
       {2, 'A', 'B', 'z', 'z'},
       {'A', 'B', 0, 0, 0}},
      {"DATE 31.12.2025",
       OneComponent(TypeCode::DATE, 4),
       {31, 12, 0xE9, 0x07},
       {0x07, 0xE9, 12, 31}},
      {"DECIMAL -12.34",
       OneComponent(TypeCode::DECIMAL, 3),
       {0xF0, 0x12, 0x34},
       {0x7F, 0xED, 0xCB}},
      {"DECIMAL +12.34",
       OneComponent(TypeCode::DECIMAL, 3),
       {0x00, 0x12, 0x34},
       {0x80, 0x12, 0x34}},
      {"REAL 1.0", OneComponent(TypeCode::REAL, 8), RealBytes(1.0), {0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"REAL -0.0 as 0.0",
       OneComponent(TypeCode::REAL, 8),
       RealBytes(-0.0),
       {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"BYTE 7 descending", OneComponent(TypeCode::BYTE, 1, true), {7}, {248}},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.layout, c.record), c.expected) << c.what;
}

TEST(KeyEncodingTest, SpecialValuesKeepTheirOrder) {
  auto real = [](double v) { return Encode(OneComponent(TypeCode::REAL, 8), RealBytes(v)); };
  EXPECT_LT(real(-1.0), real(-0.5));
  EXPECT_LT(real(-0.5), real(0.0));
  EXPECT_LT(real(0.0), real(1.0));
  auto decimal = [](Bytes b) { return Encode(OneComponent(TypeCode::DECIMAL, 2), b); };
  EXPECT_LT(decimal({0xF0, 0x01}), decimal({0x00, 0x00}));  // -1 < 0
  // The lowest clear value (all nines, sign nibble 8) sorts first.
  EXPECT_LT(decimal({0x89, 0x99}), decimal({0xF9, 0x98}));
}

TEST(KeyEncodingTest, NocaseFoldsBeforeTheCollation) {
  const KeyLayout plain = OneComponent(TypeCode::STRING, 3);
  const KeyLayout nocase = OneComponent(TypeCode::STRING, 3, false, kKeyNocase);
  const Bytes lower = {'x', 'y', 'z'}, upper = {'X', 'Y', 'Z'};
  EXPECT_NE(Encode(plain, lower), Encode(plain, upper));
  EXPECT_EQ(Encode(nocase, lower), Encode(nocase, upper));
  // Two unique entries of the two spellings have the same identifying prefix.
  const auto a = MakeKeyEntry(9, 0, nocase, KeyCollation::Identity(), lower, 1);
  const auto b = MakeKeyEntry(9, 0, nocase, KeyCollation::Identity(), upper, 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->key_length, b->key_length);
  EXPECT_TRUE(std::equal(a->bytes.begin(), a->bytes.begin() + a->key_length, b->bytes.begin()));
  // Numbers are never folded, whatever the key's flags.
  EXPECT_EQ(Encode(OneComponent(TypeCode::BYTE, 1, false, kKeyNocase), {'a'}), Bytes{'a'});
}

TEST(KeyEncodingTest, CollationOrdersStringsByWeight) {
  // A locale whose order puts 'b' before 'a' and folds the pair e/E.
  LocaleData locale;
  for (int b = 0; b < 256; ++b) {
    locale.collating_sequence[b] = static_cast<uint8_t>(b);
    locale.upper[b] = static_cast<uint8_t>(b);
  }
  std::swap(locale.collating_sequence['a'], locale.collating_sequence['b']);
  locale.char_class['e'] = 2;
  locale.upper['e'] = 'E';
  locale.char_class['q'] = 2;  // a lower-case letter without a partner keeps itself
  locale.upper['q'] = 0;
  const KeyCollation collation = CollationFromLocale(locale);
  const KeyLayout key = OneComponent(TypeCode::STRING, 2, false, kKeyNocase);
  EXPECT_LT(Encode(key, {'b', 'z'}, collation), Encode(key, {'a', 'a'}, collation));
  EXPECT_EQ(Encode(key, {'e', 'e'}, collation), Encode(key, {'E', 'E'}, collation));
  EXPECT_EQ(Encode(key, {'q', ' '}, collation), (Bytes{'q', ' '}));
  // 'a' folds no more: this locale has no partner for it.
  EXPECT_NE(Encode(key, {'a', ' '}, collation), Encode(key, {'A', ' '}, collation));

  // An OEM file: byte 0x80 stands for ANSI 'b' and 0x81 for ANSI 'a'.
  std::array<uint8_t, 256> oem_to_ansi, ansi_to_oem;
  for (int b = 0; b < 256; ++b) oem_to_ansi[b] = ansi_to_oem[b] = static_cast<uint8_t>(b);
  oem_to_ansi[0x80] = 'b';
  oem_to_ansi[0x81] = 'a';
  const KeyCollation oem = OemCollation(collation, oem_to_ansi, ansi_to_oem);
  EXPECT_LT(Encode(key, {0x80, ' '}, oem), Encode(key, {0x81, ' '}, oem));
}

TEST(KeyEncodingTest, MixedComponentsSortLexicographically) {
  // Record: LONG at 0, STRING(3) at 4 (descending), REAL at 7.
  KeyLayout layout;
  layout.components = {
      {TypeCode::LONG, 0, 4, false}, {TypeCode::STRING, 4, 3, true}, {TypeCode::REAL, 7, 8, false}};
  struct Row {
    int32_t id;
    std::string name;
    double amount;
  };
  auto record = [](const Row& r) {
    Bytes b(15);
    std::memcpy(b.data(), &r.id, 4);
    std::memcpy(b.data() + 4, r.name.data(), 3);
    std::memcpy(b.data() + 7, &r.amount, 8);
    return b;
  };
  std::mt19937 rng(11);
  std::vector<Row> rows;
  for (int i = 0; i < 200; ++i) {
    rows.push_back({static_cast<int32_t>(rng() % 3) - 1, std::string(1, "abc"[rng() % 3]) + "  ",
                    static_cast<double>(static_cast<int>(rng() % 5) - 2) / 2});
  }
  auto natural = [](const Row& x, const Row& y) {
    if (x.id != y.id) return Cmp(x.id, y.id);
    if (x.name != y.name) return -Cmp(x.name, y.name);
    return Cmp(x.amount, y.amount);
  };
  for (const Row& x : rows) {
    for (const Row& y : rows) {
      const Bytes kx = Encode(layout, record(x)), ky = Encode(layout, record(y));
      ASSERT_EQ(Sign(std::memcmp(kx.data(), ky.data(), kx.size())), natural(x, y));
    }
  }
}

TEST(KeyEncodingTest, OptKeysOfEmptyRowsHaveNoEntry) {
  struct Case {
    TypeCode type;
    Bytes field;
    bool empty;
  } cases[] = {
      {TypeCode::STRING, {' ', ' ', ' '}, true}, {TypeCode::STRING, {' ', 'a', ' '}, false},
      {TypeCode::STRING, {0, 0, 0}, false},      {TypeCode::GROUP, {' ', ' ', ' '}, true},
      {TypeCode::CSTRING, {0, 'x', 'y'}, true},  {TypeCode::CSTRING, {'x', 0, 0}, false},
      {TypeCode::PSTRING, {0, 'x', 'y'}, true},  {TypeCode::PSTRING, {1, 'x', 0}, false},
      {TypeCode::DECIMAL, {0, 0, 0}, true},      {TypeCode::DECIMAL, {0xF0, 0, 0}, false},
      {TypeCode::PDECIMAL, {0, 0, 0x0F}, false}, {TypeCode::USHORT, {0, 0, 1}, false},
  };
  for (const Case& c : cases) {
    const KeyLayout opt = OneComponent(c.type, 3, false, kKeyOpt);
    EXPECT_EQ(IsEmptyKey(opt, c.field), c.empty) << static_cast<int>(c.type);
    EXPECT_EQ(MakeKeyEntry(1, 0, opt, KeyCollation::Identity(), c.field, 5).has_value(), !c.empty);
    // Without OPT every row has an entry.
    EXPECT_TRUE(MakeKeyEntry(1, 0, OneComponent(c.type, 3), KeyCollation::Identity(), c.field, 5));
  }
  // Every component must be empty.
  KeyLayout two = OneComponent(TypeCode::STRING, 2, false, kKeyOpt);
  two.components.push_back({TypeCode::LONG, 2, 4, false});
  EXPECT_TRUE(IsEmptyKey(two, Bytes{' ', ' ', 0, 0, 0, 0}));
  EXPECT_FALSE(IsEmptyKey(two, Bytes{' ', ' ', 0, 0, 0, 1}));
}

TEST(KeyEncodingTest, EntriesCarryTableKeyValueAndRow) {
  const KeyLayout unique = OneComponent(TypeCode::LONG, 4);
  const auto entry =
      MakeKeyEntry(0x01020304, 2, unique, KeyCollation::Identity(), LongBytes(1), 0xA0B0C0D0);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->bytes, (Bytes{1, 2, 3, 4, 2, 0x80, 0, 0, 1, 0xA0, 0xB0, 0xC0, 0xD0}));
  EXPECT_EQ(entry->key_length, 9);
  EXPECT_EQ(KeyEntryRow(entry->bytes), 0xA0B0C0D0u);
  EXPECT_EQ(KeyEntryValueEnd(unique), 9u);

  // A DUP key's record key covers the row, so equal values order by row.
  const KeyLayout dup = OneComponent(TypeCode::LONG, 4, false, kKeyDup);
  const auto first = MakeKeyEntry(7, 0, dup, KeyCollation::Identity(), LongBytes(5), 0x100);
  const auto second = MakeKeyEntry(7, 0, dup, KeyCollation::Identity(), LongBytes(5), 0x2);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->key_length, 13);
  EXPECT_GT(first->bytes, second->bytes);
  EXPECT_EQ(KeyEntryRow(second->bytes), 2u);

  EXPECT_FATAL(KeyEntryRow(Bytes(8)), kDataCorruption);
}

TEST(KeyEncodingTest, PlanKeyChangeFollowsTheMaintenanceRule) {
  const Bytes none;
  const Bytes one = LongBytes(1), two = LongBytes(2), zero = LongBytes(0);
  struct Case {
    const char* what;
    uint16_t flags;
    const Bytes& old_image;
    const Bytes& new_image;
    uint32_t row;
    uint32_t mark;
    bool removes;
    bool inserts;
  } cases[] = {
      {"add", 0, none, one, 5, 0, false, true},
      {"delete", 0, one, none, 5, 0, true, false},
      {"put, same value", 0, one, one, 5, 0, false, false},
      {"put, new value", 0, one, two, 5, 0, true, true},
      {"put, same value, DUP", kKeyDup, one, one, 5, 0, false, false},
      {"put to an empty OPT value", kKeyOpt, one, zero, 5, 0, true, false},
      {"add of an empty OPT value", kKeyOpt, none, zero, 5, 0, false, false},
      {"filled only by BUILD", kKeyNotMaintained, none, one, 5, 0, false, false},
      {"below the build mark", kKeyBuildMark, none, one, 4, 5, false, true},
      {"at the build mark", kKeyBuildMark, none, one, 5, 5, false, false},
      {"above the build mark", kKeyBuildMark, one, none, 9, 5, false, false},
      {"build mark 0 keeps every row", kKeyBuildMark, none, one, 0xFFFFFFFE, 0, false, true},
  };
  for (const Case& c : cases) {
    const KeyLayout layout = OneComponent(TypeCode::LONG, 4, false, c.flags);
    const KeyChange change = PlanKeyChange(1, 0, layout, KeyCollation::Identity(), c.old_image,
                                           c.new_image, c.row, c.mark);
    EXPECT_EQ(change.remove.has_value(), c.removes) << c.what;
    EXPECT_EQ(change.insert.has_value(), c.inserts) << c.what;
    if (change.remove) {
      EXPECT_EQ(change.remove->bytes,
                MakeKeyEntry(1, 0, layout, KeyCollation::Identity(), c.old_image, c.row)->bytes)
          << c.what;
    }
    if (change.insert) {
      EXPECT_EQ(KeyEntryRow(change.insert->bytes), c.row) << c.what;
    }
  }
}

TEST(KeyEncodingTest, LayoutComesFromTheDeclaration) {
  FileDescriptor file;
  file.fields.resize(2);
  file.fields[0].type = TypeCode::LONG;
  file.fields[0].size = 4;
  file.fields[1].type = TypeCode::STRING;
  file.fields[1].offset = 4;
  file.fields[1].size = 20;
  file.keys.resize(2);
  file.keys[0].flags = kKeyNocase | kKeyOpt;
  file.keys[0].components = {{1, true}, {0, false}};
  file.keys[1].components = {{2, false}};  // names no field
  KeyLayout layout;
  ASSERT_EQ(KeyLayoutFromDescriptor(file, 0, &layout), 0);
  EXPECT_TRUE(layout.nocase() && layout.opt() && !layout.dup());
  ASSERT_EQ(layout.components.size(), 2u);
  EXPECT_EQ(layout.components[0].type, TypeCode::STRING);
  EXPECT_EQ(layout.components[0].offset, 4u);
  EXPECT_EQ(layout.components[0].size, 20u);
  EXPECT_TRUE(layout.components[0].descending);
  EXPECT_EQ(layout.components[1].type, TypeCode::LONG);
  EXPECT_EQ(KeyValueSize(layout), 24u);
  std::string attribute;
  EXPECT_EQ(KeyLayoutFromDescriptor(file, 1, &layout, &attribute), 47);
  EXPECT_EQ(attribute, "FIELD");
}

TEST(KeyEncodingTest, KeySizeLimitIs7526Bytes) {
  KeyLayout layout;
  layout.components = {{TypeCode::STRING, 0, 7000, false}, {TypeCode::STRING, 7000, 526, false}};
  const size_t record_length = 8000;
  EXPECT_EQ(CheckKeyLayout(layout, record_length), 0);
  const Bytes record(record_length, 'a');
  const auto entry = MakeKeyEntry(1, 0, layout, KeyCollation::Identity(), record, 1);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->bytes.size(), 7535u);

  layout.components[1].size = 527;
  std::string attribute, message;
  EXPECT_EQ(CheckKeyLayout(layout, record_length, &attribute, &message), 47);
  EXPECT_EQ(attribute, "SIZE");
  EXPECT_EQ(message, "Key components are more than a total of 7526 bytes long");
  EXPECT_FATAL(MakeKeyEntry(1, 0, layout, KeyCollation::Identity(), record, 1), kDataCorruption);
}

TEST(KeyEncodingTest, ComponentsOutsideTheRecordAreRefusedNotRead) {
  KeyLayout layout;
  layout.components = {{TypeCode::LONG, 6, 4, false}};
  std::string attribute;
  EXPECT_EQ(CheckKeyLayout(layout, 9, &attribute), 47);
  EXPECT_EQ(attribute, "SIZE");
  EXPECT_EQ(CheckKeyLayout(layout, 10), 0);
  const Bytes short_record(9);
  EXPECT_FATAL(Encode(layout, short_record), kDataCorruption);
  EXPECT_FATAL(IsEmptyKey(layout, short_record), kDataCorruption);
  // An offset near the top of the range must not wrap around.
  layout.components = {{TypeCode::LONG, 0xFFFFFFFE, 4, false}};
  EXPECT_EQ(CheckKeyLayout(layout, 16), 47);
}

TEST(KeyEncodingTest, OverlongPStringLengthStaysInsideTheField) {
  // A length byte of 200 in a 4-byte PSTRING: only the 3 bytes the field
  // holds are taken (the sanitizer would catch a read beyond).
  const Bytes field = {200, 'a', 'b', 'c'};
  EXPECT_EQ(Encode(OneComponent(TypeCode::PSTRING, 4), field), (Bytes{'a', 'b', 'c', 0}));
}

TEST(KeyEncodingTest, NumericComponentsDecodeToTheirCanonicalForm) {
  std::mt19937 rng(5);
  for (const TypeCase& t : AllTypes()) {
    for (bool descending : {false, true}) {
      const KeyComponentLayout component{t.type, 0, t.size, descending};
      const KeyLayout layout{0, {component}};
      for (int i = 0; i < 200; ++i) {
        Bytes value(t.size), decoded(t.size);
        t.make(rng, value.data());
        const Bytes key = Encode(layout, value);
        if (!DecodeComponent(component, key.data(), decoded.data())) {
          EXPECT_TRUE(t.type == TypeCode::STRING || t.type == TypeCode::CSTRING ||
                      t.type == TypeCode::PSTRING)
              << t.name;
          break;
        }
        // Same value, and the canonical form encodes to the same key.
        EXPECT_EQ(t.compare(value.data(), decoded.data()), 0) << t.name;
        EXPECT_EQ(Encode(layout, decoded), key) << t.name;
      }
    }
  }
}

}  // namespace
}  // namespace qzr::palisade
