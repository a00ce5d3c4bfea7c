// The decimal accumulator: parsing, formatting, rounding, arithmetic and the
// packed storage forms. Pure value code; safe from any thread.

#include "runtime/values/decimal.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qzr {

namespace {

constexpr int kPoint = Decimal::kFracDigits;  // index of the digit of 10^0

// Magnitude helpers over digit arrays of Decimal::kDigits, least
// significant first. Return the carry (or borrow) out of the top digit.
int AddDigits(const uint8_t* a, const uint8_t* b, uint8_t* out) {
  int carry = 0;
  for (int i = 0; i < Decimal::kDigits; ++i) {
    int s = a[i] + b[i] + carry;
    carry = s >= 10;
    out[i] = static_cast<uint8_t>(carry ? s - 10 : s);
  }
  return carry;
}

// REQUIRES: the magnitude of a is at least that of b.
void SubtractDigits(const uint8_t* a, const uint8_t* b, uint8_t* out) {
  int borrow = 0;
  for (int i = 0; i < Decimal::kDigits; ++i) {
    int s = a[i] - b[i] - borrow;
    borrow = s < 0;
    out[i] = static_cast<uint8_t>(borrow ? s + 10 : s);
  }
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

// Gives arithmetic helpers in this file access to the digits.
struct DecimalAccess {
  static uint8_t* digits(Decimal& d) { return d.d_; }
  static const uint8_t* digits(const Decimal& d) { return d.d_; }
  static void SetNegative(Decimal& d, bool n) { d.negative_ = n; }
  static void Normalize(Decimal& d) { d.Normalize(); }
  static int Hi(const Decimal& d) { return d.hi_; }
  static int CompareMagnitude(const Decimal& a, const Decimal& b) {
    if (a.hi_ != b.hi_) return a.hi_ > b.hi_ ? 1 : -1;
    for (int i = a.hi_; i >= 0; --i) {
      if (a.d_[i] != b.d_[i]) return a.d_[i] > b.d_[i] ? 1 : -1;
    }
    return 0;
  }
};

using DA = DecimalAccess;

void Decimal::Normalize() {
  hi_ = -1;
  lo_ = kDigits;
  for (int i = kDigits - 1; i >= 0; --i) {
    if (d_[i] != 0) {
      hi_ = static_cast<int8_t>(i);
      break;
    }
  }
  if (hi_ < 0) {
    negative_ = false;
    return;
  }
  for (int i = 0; i <= hi_; ++i) {
    if (d_[i] != 0) {
      lo_ = static_cast<int8_t>(i);
      break;
    }
  }
}

Decimal Decimal::FromULong(uint64_t v) {
  Decimal r;
  for (int i = kPoint; v != 0; ++i) {
    r.d_[i] = static_cast<uint8_t>(v % 10);
    v /= 10;
  }
  r.Normalize();
  return r;
}

Decimal Decimal::FromLong(int64_t v) {
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  Decimal r = FromULong(mag);
  r.negative_ = v < 0;
  r.Normalize();
  return r;
}

bool Decimal::FromText(std::string_view text, Decimal* out) {
  *out = Decimal();
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';

  // Collect the significant digits (leading zeros skipped) and the power of
  // ten of the first one. Only the digits down to 10^-33 matter: the one at
  // 10^-33 decides the rounding to 32 places.
  uint8_t sig[kDigits + 2];
  int nsig = 0;
  int first_power = 0;  // power of sig[0]
  int int_digits = 0;   // digits before the point, after leading zeros
  bool any_digit = false;
  bool seen_nonzero = false;
  int frac_pos = 0;  // digits read after the point
  bool in_frac = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !in_frac) {
      in_frac = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any_digit = true;
    if (in_frac) ++frac_pos;
    if (!seen_nonzero && c == '0') continue;
    if (!seen_nonzero) {
      seen_nonzero = true;
      // Power of this digit is fixed once the exponent is known; record
      // its place relative to the point.
      first_power = in_frac ? -frac_pos : 0;
    }
    if (!in_frac) ++int_digits;
    if (nsig < kDigits + 2) sig[nsig++] = static_cast<uint8_t>(c - '0');
  }
  if (!any_digit) return false;
  if (seen_nonzero && int_digits > 0) first_power = int_digits - 1;

  int exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool eneg = false;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) eneg = text[j++] == '-';
    if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
      for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      if (eneg) exponent = -exponent;
    }
  }
  if (!seen_nonzero) return true;  // zero

  first_power += exponent;
  if (first_power >= kIntDigits) return false;  // more than 32 integer digits

  // Place digits with powers -32..31; remember the digit of 10^-33.
  Decimal r;
  int round_digit = 0;
  for (int k = 0; k < nsig; ++k) {
    int power = first_power - k;
    if (power < -kFracDigits - 1) break;
    if (power == -kFracDigits - 1) {
      round_digit = sig[k];
      break;
    }
    r.d_[power + kPoint] = sig[k];
  }
  if (round_digit >= 5) {
    int carry = 1;
    for (int j = 0; j < kDigits && carry; ++j) {
      int s = r.d_[j] + carry;
      carry = s >= 10;
      r.d_[j] = static_cast<uint8_t>(carry ? 0 : s);
    }
    if (carry) return false;
  }
  r.negative_ = negative;
  r.Normalize();
  *out = r;
  return true;
}

bool Decimal::FromDouble(double v, Decimal* out) {
  *out = Decimal();
  if (!std::isfinite(v) || std::fabs(v) >= 1e32) return false;
  // The shortest text that reads back as v; FromText then rounds to 32
  // places. This keeps 0.1 as 0.1 rather than its binary expansion.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  if (res.ec != std::errc()) return false;
  return FromText(std::string_view(buf, static_cast<size_t>(res.ptr - buf)), out);
}

Decimal Decimal::FromDouble(double v) {
  Decimal r;
  (void)FromDouble(v, &r);
  return r;
}

namespace {

size_t CopyOut(const char* tmp, size_t len, char* buf, size_t cap) {
  std::memcpy(buf, tmp, len < cap ? len : cap);
  return len;
}

}  // namespace

size_t Decimal::ToText(char* buf, size_t cap) const {
  char tmp[kMaxText];
  size_t n = 0;
  if (negative_) tmp[n++] = '-';
  if (hi_ < kPoint) {
    tmp[n++] = '0';
  } else {
    for (int i = hi_; i >= kPoint; --i) tmp[n++] = static_cast<char>('0' + d_[i]);
  }
  if (!IsZero() && lo_ < kPoint) {
    tmp[n++] = '.';
    for (int i = kPoint - 1; i >= lo_; --i) tmp[n++] = static_cast<char>('0' + d_[i]);
  }
  return CopyOut(tmp, n, buf, cap);
}

std::string Decimal::ToText() const {
  char tmp[kMaxText];
  size_t n = ToText(tmp, sizeof tmp);
  return std::string(tmp, n);
}

size_t Decimal::ToFixedText(int places, char* buf, size_t cap) const {
  if (places < 0) places = 0;
  if (places > kFracDigits) places = kFracDigits;
  Decimal r = *this;
  r.Round(places);
  char tmp[kMaxText];
  size_t n = 0;
  if (r.negative_) tmp[n++] = '-';
  if (r.hi_ < kPoint) {
    tmp[n++] = '0';
  } else {
    for (int i = r.hi_; i >= kPoint; --i) tmp[n++] = static_cast<char>('0' + r.d_[i]);
  }
  if (places > 0) {
    tmp[n++] = '.';
    for (int i = kPoint - 1; i >= kPoint - places; --i) tmp[n++] = static_cast<char>('0' + r.d_[i]);
  }
  return CopyOut(tmp, n, buf, cap);
}

double Decimal::ToDouble() const {
  if (IsZero()) return 0.0;
  char tmp[kMaxText];
  size_t n = ToText(tmp, sizeof tmp);
  const char* begin = tmp;
  bool neg = false;
  if (*begin == '-') {
    neg = true;
    ++begin;
  }
  double v = 0.0;
  std::from_chars(begin, tmp + n, v);  // always in range: below 10^32
  return neg ? -v : v;
}

bool Decimal::ToInt64(int64_t* out) const {
  *out = 0;
  uint64_t mag = 0;
  for (int i = hi_; i >= kPoint; --i) {
    if (mag > (std::numeric_limits<uint64_t>::max() - d_[i]) / 10) return false;
    mag = mag * 10 + d_[i];
  }
  const uint64_t limit = negative_ ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (mag > limit) return false;
  *out = negative_ ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
  return true;
}

int32_t Decimal::ToLong() const {
  int64_t v;
  if (!ToInt64(&v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(v);
}

int Decimal::Digit(int power) const {
  int i = power + kPoint;
  return i >= 0 && i < kDigits ? d_[i] : 0;
}

void Decimal::Round(int places) {
  if (places < 0) places = 0;
  if (places > kFracDigits) places = kFracDigits;
  if (IsZero()) return;
  const int cut = kPoint - places;  // lowest kept index
  if (lo_ >= cut) return;
  const bool up = d_[cut - 1] >= 5;
  std::memset(d_, 0, static_cast<size_t>(cut));
  if (up) {
    // A carry out of the top digit has no room left and is lost.
    int carry = 1;
    for (int j = cut; j < kDigits && carry; ++j) {
      int s = d_[j] + 1;
      carry = s >= 10;
      d_[j] = static_cast<uint8_t>(carry ? 0 : s);
    }
  }
  Normalize();
}

void Decimal::Truncate(int places) {
  if (places < 0) places = 0;
  if (places > kFracDigits) places = kFracDigits;
  std::memset(d_, 0, static_cast<size_t>(kPoint - places));
  Normalize();
}

int Decimal::Compare(const Decimal& a, const Decimal& b) {
  if (a.negative_ != b.negative_) return a.negative_ ? -1 : 1;
  int m = DA::CompareMagnitude(a, b);
  return a.negative_ ? -m : m;
}

bool Decimal::Add(const Decimal& a, const Decimal& b, Decimal* out) {
  Decimal r;
  if (a.negative_ == b.negative_) {
    if (AddDigits(a.d_, b.d_, r.d_)) {
      *out = Decimal();
      return false;
    }
    r.negative_ = a.negative_;
  } else if (DA::CompareMagnitude(a, b) >= 0) {
    SubtractDigits(a.d_, b.d_, r.d_);
    r.negative_ = a.negative_;
  } else {
    SubtractDigits(b.d_, a.d_, r.d_);
    r.negative_ = b.negative_;
  }
  r.Normalize();
  *out = r;
  return true;
}

bool Decimal::Subtract(const Decimal& a, const Decimal& b, Decimal* out) {
  Decimal nb = b;
  nb.Negate();
  return Add(a, nb, out);
}

bool Decimal::Multiply(const Decimal& a, const Decimal& b, Decimal* out) {
  *out = Decimal();
  if (a.IsZero() || b.IsZero()) return true;
  // prod[k] is the digit of 10^(k - 64).
  uint32_t prod[2 * kDigits + 1] = {};
  for (int i = a.lo_; i <= a.hi_; ++i) {
    if (a.d_[i] == 0) continue;
    for (int j = b.lo_; j <= b.hi_; ++j) prod[i + j] += static_cast<uint32_t>(a.d_[i]) * b.d_[j];
  }
  for (int k = 0; k < 2 * kDigits; ++k) {
    prod[k + 1] += prod[k] / 10;
    prod[k] %= 10;
  }
  // Round at 10^-32: the digit of 10^-33 is prod[31].
  if (prod[kDigits - kPoint - 1] >= 5) {
    uint32_t carry = 1;
    for (int k = kDigits - kPoint; k <= 2 * kDigits && carry; ++k) {
      prod[k] += carry;
      carry = prod[k] >= 10;
      if (carry) prod[k] -= 10;
    }
  }
  for (int k = 2 * kDigits - kPoint; k <= 2 * kDigits; ++k) {
    if (prod[k] != 0) return false;
  }
  Decimal r;
  for (int i = 0; i < kDigits; ++i) r.d_[i] = static_cast<uint8_t>(prod[i + kDigits - kPoint]);
  r.negative_ = a.negative_ != b.negative_;
  r.Normalize();
  *out = r;
  return true;
}

bool Decimal::Divide(const Decimal& a, const Decimal& b, Decimal* out) {
  *out = Decimal();
  if (b.IsZero()) return false;
  if (a.IsZero()) return true;
  // Both operands are integers scaled by 10^32, so Q = A * 10^33 / B is the
  // quotient with 33 fractional digits; the 33rd decides the rounding.
  // Long division, one dividend digit at a time; the remainder stays below
  // 10 * B and so fits bl + 1 digits.
  const int bl = b.hi_ + 1;
  uint8_t rem[kDigits + 2] = {};  // little-endian, bl + 1 digits used
  constexpr int kExtra = kFracDigits + 1;
  uint8_t q[kDigits + kExtra];  // quotient digits, most significant first
  int nq = 0;
  auto rem_ge_b = [&]() {
    if (rem[bl] != 0) return true;
    for (int i = bl - 1; i >= 0; --i) {
      if (rem[i] != b.d_[i]) return rem[i] > b.d_[i];
    }
    return true;
  };
  for (int pos = a.hi_; pos >= -kExtra; --pos) {
    // rem = rem * 10 + next dividend digit
    for (int i = bl; i > 0; --i) rem[i] = rem[i - 1];
    rem[0] = pos >= 0 ? a.d_[pos] : 0;
    uint8_t digit = 0;
    while (rem_ge_b()) {
      int borrow = 0;
      for (int i = 0; i <= bl; ++i) {
        int s = rem[i] - (i < bl ? b.d_[i] : 0) - borrow;
        borrow = s < 0;
        rem[i] = static_cast<uint8_t>(borrow ? s + 10 : s);
      }
      ++digit;
    }
    q[nq++] = digit;
  }
  // q[nq - 1] is the digit of 10^-33; q[nq - 1 - e] that of 10^(e - 33).
  uint8_t wide[kDigits + 1] = {};  // wide[i] is the digit of 10^(i - 33)
  for (int e = 0; e < nq; ++e) {
    uint8_t digit = q[nq - 1 - e];
    if (e >= kDigits + 1) {
      if (digit != 0) return false;
      continue;
    }
    wide[e] = digit;
  }
  Decimal r;
  for (int i = 0; i < kDigits; ++i) r.d_[i] = wide[i + 1];
  if (wide[0] >= 5) {
    int carry = 1;
    for (int j = 0; j < kDigits && carry; ++j) {
      int s = r.d_[j] + 1;
      carry = s >= 10;
      r.d_[j] = static_cast<uint8_t>(carry ? 0 : s);
    }
    if (carry) return false;
  }
  r.negative_ = a.negative_ != b.negative_;
  r.Normalize();
  *out = r;
  return true;
}

// ---- Storage.

namespace {

inline void PutNibble(uint8_t* field, int index, int value) {
  uint8_t& b = field[index / 2];
  if (index % 2 == 0) {
    b = static_cast<uint8_t>((b & 0x0F) | (value << 4));
  } else {
    b = static_cast<uint8_t>((b & 0xF0) | (value & 0x0F));
  }
}

inline int GetNibble(const uint8_t* field, int index) {
  uint8_t b = field[index / 2];
  return index % 2 == 0 ? b >> 4 : b & 0x0F;
}

// Writes the digits of `v` (already rounded) with 2n-1 digit positions,
// starting at nibble `first`. Returns true when any written digit is not
// zero. Digits whose power lies outside the field are dropped: this is what
// stores an overflowing integer part modulo 10^(2n-1-p).
bool PutDigits(const Decimal& v, uint8_t* field, int total, int places, int first) {
  bool any = false;
  for (int k = 0; k < total; ++k) {
    int power = total - 1 - k - places;
    int digit = v.Digit(power);
    if (digit != 0) any = true;
    PutNibble(field, first + k, digit);
  }
  return any;
}

Decimal GetDigits(const uint8_t* field, int total, int places, int first, bool negative) {
  Decimal r;
  uint8_t* d = DA::digits(r);
  for (int k = 0; k < total; ++k) {
    int power = total - 1 - k - places;
    int i = power + Decimal::kFracDigits;
    if (i < 0 || i >= Decimal::kDigits) continue;
    int digit = GetNibble(field, first + k);
    d[i] = static_cast<uint8_t>(digit > 9 ? 0 : digit);
  }
  DA::SetNegative(r, negative);
  DA::Normalize(r);
  return r;
}

}  // namespace

void Decimal::StoreDecimal(uint8_t* field, int bytes, int places) const {
  if (bytes <= 0) return;
  std::memset(field, 0, static_cast<size_t>(bytes));
  const int total = 2 * bytes - 1;
  if (places > total) return;
  Decimal v = *this;
  v.Round(places);
  // A value whose stored digits are all zero (zero itself, or an overflow
  // that leaves nothing) gets the positive sign, so equal stored values
  // always have equal bytes.
  if (PutDigits(v, field, total, places, 1) && v.negative_) field[0] |= 0xF0;
}

Decimal Decimal::LoadDecimal(const uint8_t* field, int bytes, int places) {
  if (bytes <= 0) return Decimal();
  return GetDigits(field, 2 * bytes - 1, places, 1, (field[0] & 0x80) != 0);
}

void Decimal::StorePDecimal(uint8_t* field, int bytes, int places) const {
  if (bytes <= 0) return;
  std::memset(field, 0, static_cast<size_t>(bytes));
  const int total = 2 * bytes - 1;
  bool negative = false;
  if (places <= total) {
    Decimal v = *this;
    v.Round(places);
    negative = PutDigits(v, field, total, places, 0) && v.negative_;
  }
  PutNibble(field, total, negative ? 0xD : 0xF);
}

Decimal Decimal::LoadPDecimal(const uint8_t* field, int bytes, int places) {
  if (bytes <= 0) return Decimal();
  const int total = 2 * bytes - 1;
  return GetDigits(field, total, places, 0, GetNibble(field, total) == 0xD);
}

void Decimal::StoreULong(uint8_t* field) const {
  Decimal v = *this;
  v.Round(0);
  uint64_t r = 0;
  for (int i = v.hi_; i >= kPoint; --i) r = (r * 10 + v.d_[i]) & 0xFFFFFFFFu;
  if (v.negative_) r = (0x100000000ull - r) & 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(r >> (8 * i));
}

Decimal Decimal::LoadULong(const uint8_t* field) {
  uint32_t v = static_cast<uint32_t>(field[0]) | static_cast<uint32_t>(field[1]) << 8 |
               static_cast<uint32_t>(field[2]) << 16 | static_cast<uint32_t>(field[3]) << 24;
  return FromULong(v);
}

}  // namespace qzr
