// The decimal accumulator: exact decimal arithmetic for DECIMAL, PDECIMAL and
// ULONG values, and their packed storage forms.
//
// A Decimal holds 64 decimal digits, one per byte, 32 before and 32 after
// the point, a sign, and the indices of its lowest and highest non-zero
// digits. Zero is never negative. Arithmetic that would need more than 32
// integer digits reports overflow instead of wrapping; results with more
// than 32 fractional digits are rounded half away from zero.
//
// Storage layouts (n bytes, p places, 2n-1 digits, the last p of them the
// fraction):
//
//   DECIMAL   byte 0   high nibble: sign (F negative, 0 otherwise; on
//                      reading, bit 7 set means negative)
//                      low nibble:  most significant digit
//             byte 1.. two digits each, high nibble first
//
//   PDECIMAL  bytes    two digits each, high nibble first, most significant
//                      first
//             last     low nibble: sign (D negative, F otherwise)
//
//   ULONG     4 bytes, unsigned, little-endian; an integer
//
// Storing rounds to p places and keeps only the low-order 2n-1-p integer
// digits (an overflowing value is stored modulo 10^(2n-1-p); no error).
//
// A Decimal is a plain value; all functions are pure and thread-safe.

#ifndef QZR_RUNTIME_DECIMAL_H_
#define QZR_RUNTIME_DECIMAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qzr {

class Decimal {
 public:
  static constexpr int kDigits = 64;
  static constexpr int kIntDigits = 32;
  static constexpr int kFracDigits = 32;
  // Longest text ToText can produce: sign, 32 digits, point, 32 digits.
  static constexpr size_t kMaxText = 1 + kIntDigits + 1 + kFracDigits;

  Decimal() = default;  // zero

  static Decimal FromLong(int64_t v);
  static Decimal FromULong(uint64_t v);

  // The shortest decimal text that reads back as `v` (so 0.1 becomes 0.1,
  // not 0.1000000000000000055...), rounded to 32 places. Returns false (and
  // sets *out to zero) for NaN, infinities and magnitudes of 10^32 or more.
  [[nodiscard]] static bool FromDouble(double v, Decimal* out);
  static Decimal FromDouble(double v);  // zero when FromDouble fails

  // Parses optional spaces, an optional sign, digits with an optional point,
  // and an optional exponent ("1.5e3"); the rest of `text` is ignored.
  // Fractional digits beyond 32 are rounded. Returns false (and sets *out to
  // zero) when no digit is found or the integer part exceeds 32 digits.
  [[nodiscard]] static bool FromText(std::string_view text, Decimal* out);

  // Canonical text: "-" for negative values, the integer digits without
  // leading zeros ("0" when there are none), and "." and the fraction
  // without trailing zeros when there is one: "-123.45", "0.5", "7".
  // Writes at most `cap` bytes (no terminator) and returns the text's full
  // length.
  size_t ToText(char* buf, size_t cap) const;
  std::string ToText() const;
  // The same with exactly `places` fractional digits (at most 32), after
  // rounding to `places`: ToFixedText(2) of 12.3 is "12.30".
  size_t ToFixedText(int places, char* buf, size_t cap) const;

  // The nearest double.
  double ToDouble() const;
  // Truncated toward zero. Returns false when the result does not fit.
  [[nodiscard]] bool ToInt64(int64_t* out) const;
  // Truncated toward zero to a LONG; values out of range give the
  // integer-indefinite value -2147483648, as REAL does.
  int32_t ToLong() const;

  bool IsZero() const { return hi_ < 0; }
  bool IsNegative() const { return negative_; }
  void Negate() {
    if (!IsZero()) negative_ = !negative_;
  }
  Decimal Abs() const {
    Decimal r = *this;
    r.negative_ = false;
    return r;
  }

  // The digit of 10^power, power in -32..31 (0 outside).
  int Digit(int power) const;
  // Number of integer digits (0 for values below 1).
  int IntegerDigits() const { return hi_ >= kFracDigits ? hi_ - kFracDigits + 1 : 0; }
  // Number of fractional digits up to the last non-zero one.
  int FractionDigits() const { return !IsZero() && lo_ < kFracDigits ? kFracDigits - lo_ : 0; }

  // Rounds to `places` (0..32; larger counts are taken as 32, negative as
  // 0): when the first dropped digit is 5 or more the kept part's magnitude
  // grows by one unit in the last kept place, so halves round away from
  // zero. A carry out of the 32nd integer digit is lost.
  void Round(int places);
  // Drops the digits below `places` (toward zero).
  void Truncate(int places);

  // -1, 0 or 1.
  static int Compare(const Decimal& a, const Decimal& b);

  // Arithmetic. Each returns false, leaving *out zero, when the integer part
  // of the result would exceed 32 digits, or for a division by zero.
  // Multiplication and division round their result to 32 places.
  [[nodiscard]] static bool Add(const Decimal& a, const Decimal& b, Decimal* out);
  [[nodiscard]] static bool Subtract(const Decimal& a, const Decimal& b, Decimal* out);
  [[nodiscard]] static bool Multiply(const Decimal& a, const Decimal& b, Decimal* out);
  [[nodiscard]] static bool Divide(const Decimal& a, const Decimal& b, Decimal* out);

  // Storage. `bytes` is the field's byte count n (1..255), `places` its
  // decimal places p. Storing with p > 2n-1 leaves the field all zero (the
  // sign nibble of PDECIMAL then F). Reading treats a nibble above 9 as 0.
  void StoreDecimal(uint8_t* field, int bytes, int places) const;
  static Decimal LoadDecimal(const uint8_t* field, int bytes, int places);
  void StorePDecimal(uint8_t* field, int bytes, int places) const;
  static Decimal LoadPDecimal(const uint8_t* field, int bytes, int places);
  // ULONG: rounded to an integer, then stored modulo 2^32 (so -1 stores
  // 4294967295, as an unsigned C conversion would).
  void StoreULong(uint8_t* field) const;
  static Decimal LoadULong(const uint8_t* field);

  bool operator==(const Decimal& o) const { return Compare(*this, o) == 0; }

 private:
  void Normalize();  // recomputes lo_/hi_ and clears the sign of zero
  friend struct DecimalAccess;

  // d_[i] is the digit of 10^(i - 32).
  uint8_t d_[kDigits] = {};
  bool negative_ = false;
  int8_t lo_ = kDigits;  // lowest non-zero digit index; kDigits when zero
  int8_t hi_ = -1;       // highest non-zero digit index; -1 when zero
};

// Byte count of a DECIMAL or PDECIMAL declared with `digits` digits.
constexpr int DecimalBytes(int digits) {
  return digits / 2 + 1;
}

}  // namespace qzr

#endif  // QZR_RUNTIME_DECIMAL_H_
