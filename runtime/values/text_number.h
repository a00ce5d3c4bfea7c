// Text to number and number to text, as field objects assign and read them.
//
// Parsing takes at most the first 40 characters of a text as a decimal
// floating-point number: optional leading spaces, an optional sign, digits
// with an optional point, an optional exponent. Anything after the number
// is ignored; a text with no number in front reads as 0. Integers are
// parsed the same way and then truncated with the near-integer correction,
// so a text that the double nearest to it puts a hair below an integer
// (2.9999999999999999) still gives that integer.
//
// Pure functions, no allocation; safe from any thread (they do not depend
// on the C locale).

#ifndef QZR_RUNTIME_TEXT_NUMBER_H_
#define QZR_RUNTIME_TEXT_NUMBER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qzr {

inline constexpr size_t kMaxNumberScan = 40;

// The REAL value of `text` (0.0 when it holds no number). *ok, when given,
// tells whether a number was found.
double TextToReal(std::string_view text, bool* ok = nullptr);

// The value of `text` as a LONG: TextToReal, then RealToLongNearInteger.
int32_t TextToLong(std::string_view text, bool* ok = nullptr);

// Truncates toward zero with the near-integer correction: with t = trunc(v),
// when v lies so close to t+1 (t-1 for negative v) that their difference's
// binary exponent is at least 50 below the exponents of both, the result is
// t+1 (t-1). Out of the LONG range, or NaN: -2147483648.
int32_t RealToLongNearInteger(double v);

// Truncates toward zero; out of the LONG range, or NaN, gives the
// integer-indefinite value -2147483648 (no error).
int32_t RealToLong(double v);

// True when `text` (spaces around it allowed) is one number and nothing
// else.
bool IsNumericText(std::string_view text);

// Writes `v` with up to 15 significant digits, without trailing zeros:
// "0.1", "-2.5", "1234567", "1e+20" (exponent form from 1e15 up and below
// 1e-4, as printf's %.15g). At most `cap` bytes, no terminator; returns the
// full length (at most 24).
size_t RealToText(double v, char* buf, size_t cap);

// Writes the decimal digits of `v`; returns the full length (at most 11).
size_t LongToText(int64_t v, char* buf, size_t cap);

}  // namespace qzr

#endif  // QZR_RUNTIME_TEXT_NUMBER_H_
