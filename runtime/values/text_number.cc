// Text to number and number to text. Locale-independent (std::from_chars
// and std::to_chars), no allocation, no state.

#include "runtime/values/text_number.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qzr {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The extent of the number at the front of `text` (after spaces and the
// sign): [begin, end) in `text`, its sign, and the decimal exponent of its
// first significant digit (for out-of-range results).
struct Scan {
  bool found = false;
  bool negative = false;
  size_t begin = 0;
  size_t end = 0;
  long magnitude = 0;  // rough power of ten of the value
};

Scan ScanNumber(std::string_view text) {
  Scan s;
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) s.negative = text[i++] == '-';
  s.begin = i;
  long int_digits = 0;
  long leading_frac_zeros = 0;
  bool nonzero = false;
  bool digits = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    digits = true;
    if (text[i] != '0') nonzero = true;
    if (nonzero) ++int_digits;
  }
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    for (; j < text.size() && IsDigit(text[j]); ++j) {
      digits = true;
      if (!nonzero) {
        if (text[j] == '0') {
          ++leading_frac_zeros;
        } else {
          nonzero = true;
        }
      }
    }
    // A lone "." after digits still ends the number ("5." is 5).
    if (digits) i = j;
  }
  if (!digits) return s;
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool eneg = false;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) eneg = text[j++] == '-';
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      if (eneg) exponent = -exponent;
      i = j;
    }
  }
  s.found = true;
  s.end = i;
  s.magnitude = (int_digits > 0 ? int_digits - 1 : -leading_frac_zeros - 1) + exponent;
  return s;
}

}  // namespace

double TextToReal(std::string_view text, bool* ok) {
  if (text.size() > kMaxNumberScan) text = text.substr(0, kMaxNumberScan);
  Scan s = ScanNumber(text);
  if (ok) *ok = s.found;
  if (!s.found) return 0.0;
  double v = 0.0;
  auto res = std::from_chars(text.data() + s.begin, text.data() + s.end, v);
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars leaves v unset: overflow goes to infinity, underflow to 0.
    v = s.magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (res.ec != std::errc()) {
    v = 0.0;
  }
  return s.negative ? -v : v;
}

int32_t TextToLong(std::string_view text, bool* ok) {
  return RealToLongNearInteger(TextToReal(text, ok));
}

int32_t RealToLong(double v) {
  // The integer-indefinite value for everything out of range; the range
  // test is written so that NaN fails it.
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t RealToLongNearInteger(double v) {
  if (std::isnan(v)) return std::numeric_limits<int32_t>::min();
  double t = std::trunc(v);
  if (v != t && std::isfinite(v)) {
    // The next integer away from zero, and how far v lies from it.
    double next = v > 0 ? t + 1.0 : t - 1.0;
    double diff = std::fabs(next - v);
    if (diff > 0.0) {
      int ediff = std::ilogb(diff);
      if (ediff <= std::ilogb(v) - 50 && ediff <= std::ilogb(next) - 50) t = next;
    }
  }
  return RealToLong(t);
}

bool IsNumericText(std::string_view text) {
  Scan s = ScanNumber(text);
  if (!s.found) return false;
  for (size_t i = s.end; i < text.size(); ++i) {
    if (!IsSpace(text[i])) return false;
  }
  return true;
}

size_t RealToText(double v, char* buf, size_t cap) {
  if (v == 0.0) v = 0.0;  // no "-0"
  char tmp[32];
  auto res = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::general, 15);
  size_t n = res.ec == std::errc() ? static_cast<size_t>(res.ptr - tmp) : 0;
  std::memcpy(buf, tmp, n < cap ? n : cap);
  return n;
}

size_t LongToText(int64_t v, char* buf, size_t cap) {
  char tmp[24];
  auto res = std::to_chars(tmp, tmp + sizeof tmp, v);
  size_t n = static_cast<size_t>(res.ptr - tmp);
  std::memcpy(buf, tmp, n < cap ? n : cap);
  return n;
}

}  // namespace qzr
