// Exact decimal numbers for the pictures. See picture_decimal.h.

#include "runtime/pictures/picture_decimal.h"

#include <algorithm>
#include <limits>

namespace qzr {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Drops leading zeros (moving the point) and trailing zeros of `v`.
void Normalise(PictureDecimal* v) {
  size_t lead = 0;
  while (lead < v->digits.size() && v->digits[lead] == '0') ++lead;
  v->digits.erase(0, lead);
  v->point -= static_cast<int64_t>(lead);
  while (!v->digits.empty() && v->digits.back() == '0') v->digits.pop_back();
  if (v->digits.empty()) {
    v->negative = false;
    v->point = 0;
  }
  v->point = std::clamp(v->point, -kMaxDecimalExponent, kMaxDecimalExponent);
}

}  // namespace

PictureDecimal ParsePictureDecimal(std::string_view text) {
  PictureDecimal v;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    v.negative = text[i] == '-';
    ++i;
  }
  bool any = false;
  while (i < text.size() && IsDigit(text[i])) {
    v.digits.push_back(text[i++]);
    ++v.point;
    any = true;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) {
      v.digits.push_back(text[i++]);
      any = true;
    }
  }
  if (!any) return PictureDecimal{};
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool neg_exp = false;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) {
      neg_exp = text[j] == '-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      int64_t e = 0;
      for (; j < text.size() && IsDigit(text[j]); ++j) {
        if (e <= kMaxDecimalExponent) e = e * 10 + (text[j] - '0');
      }
      // The point may already be far out; clamp after adding.
      v.point +=
          neg_exp ? -std::min(e, 2 * kMaxDecimalExponent) : std::min(e, 2 * kMaxDecimalExponent);
    }
  }
  Normalise(&v);
  return v;
}

bool RoundPictureDecimal(const PictureDecimal& value, int places, size_t max_int_digits,
                         std::string* int_digits, std::string* frac_digits) {
  int_digits->clear();
  frac_digits->assign(static_cast<size_t>(std::max(places, 0)), '0');
  if (value.is_zero()) return true;
  if (value.point > static_cast<int64_t>(max_int_digits)) return false;
  // kept: how many of the value's leading digit positions (counted from
  // d1) survive rounding; may be negative when every digit lies below the
  // kept places, in which case the first dropped digit is an implicit 0.
  const int64_t kept = value.point + places;
  if (kept < 0) return true;
  const auto len = static_cast<int64_t>(value.digits.size());
  std::string kept_digits;
  kept_digits.reserve(static_cast<size_t>(kept) + 1);
  for (int64_t i = 0; i < kept; ++i) {
    kept_digits.push_back(i < len ? value.digits[static_cast<size_t>(i)] : '0');
  }
  int64_t point = value.point;
  if (kept < len && value.digits[static_cast<size_t>(kept)] >= '5') {
    // Add one unit in the last kept place; carries run through the 9s and a
    // carry out of the top adds a new leading 1.
    int64_t i = kept - 1;
    for (; i >= 0; --i) {
      char& d = kept_digits[static_cast<size_t>(i)];
      if (d == '9') {
        d = '0';
      } else {
        ++d;
        break;
      }
    }
    if (i < 0) {
      kept_digits.insert(kept_digits.begin(), '1');
      ++point;
    }
  }
  // kept_digits now holds the digits from 10^(point-1) down to 10^-places.
  if (point > static_cast<int64_t>(max_int_digits)) return false;
  const int64_t int_count = std::max<int64_t>(point, 0);
  // When point < 0 the kept digits start |point| places after the point.
  std::string all(static_cast<size_t>(point < 0 ? -point : 0), '0');
  all += kept_digits;
  const std::string ints = all.substr(0, static_cast<size_t>(int_count));
  std::string frac = all.substr(static_cast<size_t>(int_count));
  frac.resize(static_cast<size_t>(std::max(places, 0)), '0');
  size_t lead = 0;
  while (lead < ints.size() && ints[lead] == '0') ++lead;
  *int_digits = ints.substr(lead);
  *frac_digits = frac;
  return true;
}

std::string CanonicalDecimal(const PictureDecimal& value) {
  if (value.is_zero()) return "0";
  std::string out = value.negative ? "-" : "";
  const auto len = static_cast<int64_t>(value.digits.size());
  if (value.point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-value.point), '0');
    out += value.digits;
  } else if (value.point >= len) {
    out += value.digits;
    out.append(static_cast<size_t>(value.point - len), '0');
  } else {
    out.append(value.digits, 0, static_cast<size_t>(value.point));
    out.push_back('.');
    out.append(value.digits, static_cast<size_t>(value.point), std::string::npos);
  }
  return out;
}

PictureDecimal MakePictureDecimal(bool negative, std::string_view int_digits,
                                  std::string_view frac_digits) {
  PictureDecimal v;
  v.negative = negative;
  v.digits.assign(int_digits);
  v.digits.append(frac_digits);
  v.point = static_cast<int64_t>(int_digits.size());
  Normalise(&v);
  return v;
}

int64_t TruncateToInt64(const PictureDecimal& value) {
  if (value.is_zero() || value.point <= 0) return 0;
  if (value.point > 19) {
    return value.negative ? std::numeric_limits<int64_t>::min()
                          : std::numeric_limits<int64_t>::max();
  }
  // Up to 19 integer digits: accumulate in unsigned to detect overflow.
  uint64_t magnitude = 0;
  for (int64_t i = 0; i < value.point; ++i) {
    const auto idx = static_cast<size_t>(i);
    const int d = idx < value.digits.size() ? value.digits[idx] - '0' : 0;
    if (magnitude > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(d)) / 10) {
      magnitude = std::numeric_limits<uint64_t>::max();
      break;
    }
    magnitude = magnitude * 10 + static_cast<uint64_t>(d);
  }
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (value.negative) {
    if (magnitude > kMax) return std::numeric_limits<int64_t>::min();
    return -static_cast<int64_t>(magnitude);
  }
  return magnitude > kMax ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

}  // namespace qzr
