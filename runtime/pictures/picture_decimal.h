// Exact decimal numbers as the pictures need them: parsed from text, rounded
// half away from zero, written back as canonical text. No binary floating
// point is involved anywhere, so 2.345 rounds to 2.35 as it reads.
//
// Value types only; safe from any thread.

#ifndef QZR_RUNTIME_PICTURE_DECIMAL_H_
#define QZR_RUNTIME_PICTURE_DECIMAL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qzr {

// value = (negative ? -1 : 1) * 0.d1d2d3... * 10^point, where digits holds
// d1d2d3... without leading or trailing zeros. Zero has no digits (and is
// never negative).
struct PictureDecimal {
  bool negative = false;
  std::string digits;
  int64_t point = 0;

  bool is_zero() const { return digits.empty(); }
};

// Exponents beyond this are clamped; such a number is far too wide for any
// picture either way.
inline constexpr int64_t kMaxDecimalExponent = 100000;

// Parses the leading number of `text`: spaces, an optional sign, digits with
// an optional ".", an optional exponent ("e" or "E", optional sign, digits).
// Anything after the number is ignored; no digits at all gives zero.
PictureDecimal ParsePictureDecimal(std::string_view text);

// |value| rounded half away from zero to `places` fraction digits, split into
// the integer digits (no leading zeros; empty when the integer part is 0) and
// exactly `places` fraction digits. Returns false, leaving the outputs
// unspecified, when the integer part would have more than `max_int_digits`
// digits.
bool RoundPictureDecimal(const PictureDecimal& value, int places, size_t max_int_digits,
                         std::string* int_digits, std::string* frac_digits);

// Canonical text: "-1234.5", "0.05", "1000", "0".
std::string CanonicalDecimal(const PictureDecimal& value);

// Builds a value from integer and fraction digit strings (leading zeros and
// trailing zeros allowed).
PictureDecimal MakePictureDecimal(bool negative, std::string_view int_digits,
                                  std::string_view frac_digits);

// The value truncated toward zero, clamped to the int64 range.
int64_t TruncateToInt64(const PictureDecimal& value);

}  // namespace qzr

#endif  // QZR_RUNTIME_PICTURE_DECIMAL_H_
