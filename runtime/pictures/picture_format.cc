// FORMAT: display text from a value and a compiled picture.
//
// Rendering choices the picture grammar leaves open, made here:
//  1. A value too wide for its picture shows as the width in "#".
//  2. @N with a space fill (no fill indicator, or "_"): a leading sign, "("
//     and a leading currency float next to the first digit ("   -12.50",
//     "  $12.50"); with a "0" or "*" fill they keep the leftmost places
//     ("-0012.50", "$***12.50"), and a positive sign position shows the fill.
//  3. @N without any sign position still shows a negative value as negative:
//     a "-" takes the place left of the digits (the first fill place with a
//     "0" or "*" fill); with no place to spare the value is too wide. A
//     minus sign never disappears.
//  4. @N keeps the units digit: 0.5 in @N9.2 is "0.50", 0 in @N5 is "0".
//     Only blank-when-zero ("B") blanks a zero.
//  5. A grouping position with no digit to its left shows the fill.
//  6. Dates and times: 0 (none) shows blank (the width in spaces); any other
//     value outside the valid range shows as too wide.
//  7. @T3 and @T6, and every time picture with an AM/PM position, show the
//     hours on the 12-hour clock (12 for noon and midnight).
//  8. Month and weekday names: three positions take the short name, more
//     take the long one. A name is cut to its positions; a shorter one is
//     padded with the fill (a space) except in free-form pictures (@D4 and
//     the locale pictures), where it stands as it is and a suppressed
//     leading zero shows nothing: "July 4, 2026".
//  9. @P: digits fill the "#" and "<" positions from the right; a leading
//     zero shows "0" at "#" and a space at "<". A negative value, or one
//     with more digits than positions, is too wide; fractions are rounded.
// 10. @S cuts the text to the width (never inside a UTF-8 sequence) and pads
//     it with spaces.
// 11. @K: input positions take the value's characters in order ("^" upper-,
//     "_" lower-cases an ASCII letter) and literals are put in between; a
//     value already laid out like the template is kept as it is. Input
//     positions the value does not reach show spaces; at a "|" the output
//     ends when the value is used up.
//
// Pure functions; safe from any thread.

#include <algorithm>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/pictures/picture_decimal.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

std::string Blank(const CompiledPicture& pic) {
  return std::string(pic.width, ' ');
}
std::string TooWide(const CompiledPicture& pic) {
  return std::string(pic.width, '#');
}

// The literal character whose first byte is entry `i`: its bytes up to the
// next entry that is not a continuation. Advances *i past it.
std::string_view EntryChar(const CompiledPicture& pic, int* i, std::string* scratch) {
  scratch->clear();
  scratch->push_back(static_cast<char>(pic.entries[*i].fill));
  ++*i;
  while (*i < pic.count && pic.entries[*i].code == kContinuation) {
    scratch->push_back(static_cast<char>(pic.entries[*i].fill));
    ++*i;
  }
  return *scratch;
}

// ---- @N -----------------------------------------------------------------

std::string FormatNumeric(const CompiledPicture& pic, const PictureDecimal& v) {
  const int places = pic.number;
  // Regions of the template: lead (currency, sign), integer positions, then
  // the decimal part and the trailing sign and currency.
  int first_int = -1, end_int = 0;
  for (int i = 0; i < pic.count; ++i) {
    const uint8_t code = pic.entries[i].code;
    if (code == kDecimalPoint || code == kImpliedPoint) break;
    if (code == kGrouping || code == kDigitShowFill || code == kDigitBlank) {
      if (first_int < 0) first_int = i;
      end_int = i + 1;
    }
  }
  int int_digits = 0;
  if (first_int >= 0) {
    for (int i = first_int; i < end_int; ++i) {
      if (pic.entries[i].code != kGrouping) ++int_digits;
    }
  }
  std::string ints, frac;
  if (!RoundPictureDecimal(v, places, static_cast<size_t>(int_digits), &ints, &frac)) {
    return TooWide(pic);
  }
  const bool zero =
      ints.empty() && std::all_of(frac.begin(), frac.end(), [](char c) { return c == '0'; });
  if (zero && pic.blank_when_zero()) return Blank(pic);
  const bool negative = v.negative && !zero;
  if (ints.empty() && int_digits > 0) ints = "0";

  // The integer positions, right to left.
  std::string int_text;
  int first_digit = 0;  // index in int_text of the first real digit
  if (first_int >= 0) {
    const int n = end_int - first_int;
    int_text.assign(static_cast<size_t>(n), ' ');
    auto left = static_cast<int>(ints.size());
    first_digit = n;
    for (int k = n - 1; k >= 0; --k) {
      const PictureEntry& e = pic.entries[first_int + k];
      char shown;
      if (e.code == kGrouping) {
        if (left > 0) {
          shown = static_cast<char>(e.fill);
        } else if (pic.fill == '0' && k > 0) {
          shown = static_cast<char>(e.fill);  // zeros are digits: keep grouping them
        } else {
          shown = pic.fill == '0' || pic.fill == '*' ? static_cast<char>(pic.fill) : ' ';
        }
      } else if (left > 0) {
        shown = ints[static_cast<size_t>(--left)];
        first_digit = k;
      } else {
        shown = e.code == kDigitShowFill ? static_cast<char>(e.fill) : ' ';
      }
      int_text[static_cast<size_t>(k)] = shown;
    }
  }

  std::string lead_currency, trail_currency, scratch;
  bool lead_minus = false, lead_paren = false, trail_minus = false, trail_paren = false;
  const bool any_sign_position =
      (pic.options & (kNumericLeadingSign | kNumericParens | kNumericTrailingSign)) != 0;
  for (int i = 0; i < pic.count;) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kCurrency) {
      const bool lead = first_int >= 0 ? i < first_int : (pic.options & kNumericLeadCurrency);
      (lead ? lead_currency : trail_currency) += EntryChar(pic, &i, &scratch);
      continue;
    }
    if (e.code == kSign) {
      const bool lead = e.fill == '(' || (e.fill == '-' && (pic.options & kNumericLeadingSign));
      if (e.fill == '(') lead_paren = true;
      if (e.fill == ')') trail_paren = true;
      if (e.fill == '-') (lead ? lead_minus : trail_minus) = true;
    }
    ++i;
  }

  std::string out;
  out.reserve(pic.width + 8);
  const bool fixed_fill = (pic.fill == '0' || pic.fill == '*') && int_digits > 0;
  const bool lead_slot = lead_minus || lead_paren;
  if (!fixed_fill) {
    int pad = first_digit;
    std::string sign;
    if (negative && lead_slot) sign = lead_paren ? "(" : "-";
    if (negative && !any_sign_position) {
      if (pad == 0) return TooWide(pic);
      --pad;
      sign = "-";
    }
    const int spaces = pad + (lead_slot ? 1 : 0) - (lead_slot && negative ? 1 : 0);
    out.append(static_cast<size_t>(spaces), ' ');
    out += lead_currency;
    out += sign;
    out.append(int_text, static_cast<size_t>(first_digit), std::string::npos);
  } else {
    const char fill = static_cast<char>(pic.fill);
    out += lead_currency;
    if (lead_slot) out.push_back(negative ? (lead_paren ? '(' : '-') : fill);
    if (negative && !any_sign_position) {
      if (first_digit == 0) return TooWide(pic);
      int_text[0] = '-';
    }
    out += int_text;
  }
  for (int i = end_int; i < pic.count; ++i) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kDecimalPoint) {
      out.push_back(static_cast<char>(e.fill));
      out += frac;
      break;
    }
    if (e.code == kImpliedPoint) {
      out += frac;
      break;
    }
  }
  if (trail_paren) out.push_back(negative ? ')' : ' ');
  if (trail_minus) out.push_back(negative ? '-' : ' ');
  out += trail_currency;
  return out;
}

// ---- @E -----------------------------------------------------------------

std::string FormatExponent(const CompiledPicture& pic, const PictureDecimal& v) {
  const int places = pic.number;
  if (v.is_zero() && pic.blank_when_zero()) return Blank(pic);
  std::string mantissa(static_cast<size_t>(places) + 1, '0');
  int64_t exponent = 0;
  bool negative = false;
  if (!v.is_zero()) {
    negative = v.negative;
    exponent = v.point - 1;
    const size_t keep = static_cast<size_t>(places) + 1;
    std::string d = v.digits.substr(0, std::min(keep, v.digits.size()));
    d.resize(keep, '0');
    if (v.digits.size() > keep && v.digits[keep] >= '5') {
      int i = static_cast<int>(keep) - 1;
      for (; i >= 0; --i) {
        char& c = d[static_cast<size_t>(i)];
        if (c == '9') {
          c = '0';
        } else {
          ++c;
          break;
        }
      }
      if (i < 0) {  // 9.99 rounded up to 10.0: one more power of ten
        d.insert(d.begin(), '1');
        d.pop_back();
        ++exponent;
      }
    }
    mantissa = d;
  }
  if (exponent > 999 || exponent < -999) return TooWide(pic);
  std::string body;
  if (negative) body.push_back('-');
  body.push_back(mantissa[0]);
  if (places > 0) {
    body.push_back(static_cast<char>(pic.decimal));
    body.append(mantissa, 1, std::string::npos);
  }
  body.push_back('E');
  body.push_back(exponent < 0 ? '-' : '+');
  const int64_t e = exponent < 0 ? -exponent : exponent;
  body.push_back(static_cast<char>('0' + e / 100));
  body.push_back(static_cast<char>('0' + e / 10 % 10));
  body.push_back(static_cast<char>('0' + e % 10));
  if (body.size() > pic.width) return TooWide(pic);
  return std::string(pic.width - body.size(), ' ') + body;
}

// ---- @P -----------------------------------------------------------------

std::string FormatPattern(const CompiledPicture& pic, const PictureDecimal& v) {
  int digits = 0;
  for (int i = 0; i < pic.count; ++i) {
    const uint8_t code = pic.entries[i].code;
    if (code == kDigitShowFill || code == kDigitBlank) ++digits;
  }
  std::string ints, frac;
  if (!RoundPictureDecimal(v, 0, static_cast<size_t>(digits), &ints, &frac)) return TooWide(pic);
  if (ints.empty() && pic.blank_when_zero()) return Blank(pic);
  if (v.negative && !ints.empty()) return TooWide(pic);
  std::string out;
  int position = 0;
  const int first = digits - static_cast<int>(ints.size());
  for (int i = 0; i < pic.count; ++i) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kDigitShowFill || e.code == kDigitBlank) {
      if (position >= first) {
        out.push_back(ints[static_cast<size_t>(position - first)]);
      } else {
        out.push_back(e.code == kDigitShowFill ? '0' : ' ');
      }
      ++position;
    } else {
      out.push_back(static_cast<char>(e.fill));
    }
  }
  return out;
}

// ---- @D and @T --------------------------------------------------------------

struct DateTimeParts {
  int year = 0, month = 0, day = 0, weekday = 0;
  int hour = 0, minute = 0, second = 0;
};

void AppendName(const CompiledPicture& pic, std::string_view name, int positions, uint8_t fill,
                std::string* out) {
  const size_t bytes = Utf8Prefix(name, static_cast<size_t>(positions));
  out->append(name.substr(0, bytes));
  if (!pic.free_form()) {
    const size_t shown = Utf8Length(name.substr(0, bytes));
    out->append(static_cast<size_t>(positions) - shown, static_cast<char>(fill));
  }
}

std::string FormatParts(const CompiledPicture& pic, const DateTimeParts& p) {
  const LocaleData& locale = Locale();
  bool twelve_hour = false;
  for (int i = 0; i < pic.count; ++i) {
    if (pic.entries[i].code == kAmPmFirst) twelve_hour = true;
  }
  const std::string& ampm = p.hour < 12 ? locale.am_text : locale.pm_text;
  std::string out;
  std::string scratch;
  for (int i = 0; i < pic.count;) {
    const PictureEntry& e = pic.entries[i];
    int run = 1;
    while (i + run < pic.count && pic.entries[i + run].code == e.code) ++run;
    switch (e.code) {
      case kMonthDigit:
      case kDayDigit:
      case kYearDigit:
      case kHourDigit:
      case kMinuteDigit:
      case kSecondDigit: {
        int value = 0;
        switch (e.code) {
          case kMonthDigit:
            value = p.month;
            break;
          case kDayDigit:
            value = p.day;
            break;
          case kYearDigit:
            value = p.year;
            break;
          case kHourDigit:
            value = twelve_hour ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
            break;
          case kMinuteDigit:
            value = p.minute;
            break;
          default:
            value = p.second;
            break;
        }
        // The low `run` digits of the value, zero-padded.
        char digits[16];
        for (int k = run - 1, v = value; k >= 0; --k, v /= 10) {
          if (k < 16) digits[k] = static_cast<char>('0' + v % 10);
        }
        bool leading = true;
        for (int k = 0; k < run && k < 16; ++k) {
          const char d = digits[k];
          leading = leading && d == '0' && k < run - 1;
          if (!leading) {
            out.push_back(d);
            continue;
          }
          const uint8_t fill = pic.entries[i + k].fill;
          if (fill == '0') {
            out.push_back('0');
          } else if (!(pic.free_form() && fill == ' ')) {
            out.push_back(static_cast<char>(fill));
          }
        }
        i += run;
        break;
      }
      case kMonthName:
        AppendName(pic,
                   run <= 3 ? locale.short_month_names[static_cast<size_t>(p.month - 1)]
                            : locale.long_month_names[static_cast<size_t>(p.month - 1)],
                   run, e.fill, &out);
        i += run;
        break;
      case kWeekdayName:
        AppendName(pic,
                   run <= 3 ? locale.short_day_names[static_cast<size_t>(p.weekday)]
                            : locale.long_day_names[static_cast<size_t>(p.weekday)],
                   run, e.fill, &out);
        i += run;
        break;
      case kSeparator:
        if (pic.separator != 0) {
          out.push_back(static_cast<char>(pic.separator));
          ++i;
          while (i < pic.count && pic.entries[i].code == kContinuation) ++i;
        } else {
          out += EntryChar(pic, &i, &scratch);
        }
        break;
      case kAmPmFirst:
      case kAmPmSecond: {
        const size_t first = Utf8Prefix(ampm, 1);
        const std::string_view part =
            e.code == kAmPmFirst ? std::string_view(ampm).substr(0, first)
                                 : std::string_view(ampm).substr(
                                       first, Utf8Prefix(std::string_view(ampm).substr(first), 1));
        if (!part.empty()) {
          out += part;
        } else if (!pic.free_form()) {
          out.push_back(' ');
        }
        ++i;
        break;
      }
      default:
        out += EntryChar(pic, &i, &scratch);
        break;
    }
  }
  return out;
}

// ---- @K -----------------------------------------------------------------

bool IsKeyInput(uint8_t code) {
  return code == kKeyDigit || code == kKeyDigitOrSpace || code == kKeyLetter || code == kKeyUpper ||
         code == kKeyLower || code == kKeyAny;
}

void AppendKeyed(uint8_t code, std::string_view ch, std::string* out) {
  if (ch.size() == 1 && code == kKeyUpper) {
    out->push_back(AsciiUpper(ch[0]));
  } else if (ch.size() == 1 && code == kKeyLower) {
    out->push_back(AsciiLower(ch[0]));
  } else {
    out->append(ch);
  }
}

// True iff `text` is already laid out like the template: every literal in
// place, one character at every input position, ending at the end of the
// template or at a "|".
bool MatchesKeyLayout(const CompiledPicture& pic, std::string_view text) {
  size_t t = 0;
  std::string scratch;
  for (int i = 0; i < pic.count;) {
    const uint8_t code = pic.entries[i].code;
    if (code == kKeyStop) {
      if (t == text.size()) return true;
      ++i;
      continue;
    }
    if (t >= text.size()) return false;
    const size_t n = Utf8Prefix(text.substr(t), 1);
    if (IsKeyInput(code)) {
      ++i;
    } else if (EntryChar(pic, &i, &scratch) != text.substr(t, n)) {
      return false;
    }
    t += n;
  }
  return t == text.size();
}

std::string FormatKeyIn(const CompiledPicture& pic, std::string_view text) {
  const bool laid_out = MatchesKeyLayout(pic, text);
  std::string out, scratch;
  size_t t = 0;
  for (int i = 0; i < pic.count;) {
    const uint8_t code = pic.entries[i].code;
    if (code == kKeyStop) {
      if (t >= text.size()) break;
      ++i;
      continue;
    }
    if (IsKeyInput(code)) {
      if (t < text.size()) {
        const size_t n = Utf8Prefix(text.substr(t), 1);
        AppendKeyed(code, text.substr(t, n), &out);
        t += n;
      } else {
        out.push_back(' ');
      }
      ++i;
      continue;
    }
    const std::string_view literal = EntryChar(pic, &i, &scratch);
    out += literal;
    if (laid_out) t += literal.size();
  }
  return out;
}

int32_t ToInt32(std::string_view text) {
  const int64_t v = TruncateToInt64(ParsePictureDecimal(text));
  // Beyond the LONG range no date or time is meant; -1 shows as too wide.
  return v < INT32_MIN || v > INT32_MAX ? -1 : static_cast<int32_t>(v);
}

}  // namespace

std::string FormatNumber(const CompiledPicture& pic, std::string_view decimal_text) {
  if (!pic.valid()) return "";
  switch (pic.kind()) {
    case PictureKind::Numeric:
      return FormatNumeric(pic, ParsePictureDecimal(decimal_text));
    case PictureKind::Exponent:
      return FormatExponent(pic, ParsePictureDecimal(decimal_text));
    case PictureKind::Pattern:
      return FormatPattern(pic, ParsePictureDecimal(decimal_text));
    case PictureKind::Date:
      return FormatDate(pic, ToInt32(decimal_text));
    case PictureKind::Time:
      return FormatTime(pic, ToInt32(decimal_text));
    default:
      return FormatString(pic, decimal_text);
  }
}

std::string FormatDate(const CompiledPicture& pic, int32_t date) {
  if (!pic.valid()) return "";
  if (pic.kind() != PictureKind::Date) return FormatNumber(pic, std::to_string(date));
  if (date == 0) return Blank(pic);
  DateTimeParts p;
  if (DateToParts(date, &p.year, &p.month, &p.day) != 0) return TooWide(pic);
  p.weekday = Weekday(date);
  return FormatParts(pic, p);
}

std::string FormatTime(const CompiledPicture& pic, int32_t time) {
  if (!pic.valid()) return "";
  if (pic.kind() != PictureKind::Time) return FormatNumber(pic, std::to_string(time));
  if (time == 0) return Blank(pic);
  DateTimeParts p;
  int hundredths;
  if (TimeToParts(time, &p.hour, &p.minute, &p.second, &hundredths) != 0) return TooWide(pic);
  return FormatParts(pic, p);
}

std::string FormatString(const CompiledPicture& pic, std::string_view text) {
  if (!pic.valid()) return "";
  if (pic.kind() == PictureKind::KeyIn) return FormatKeyIn(pic, text);
  if (pic.kind() != PictureKind::String) return FormatNumber(pic, text);
  const size_t bytes = Utf8Prefix(text, pic.width);
  std::string out(text.substr(0, bytes));
  out.append(pic.width - Utf8Length(out), ' ');
  return out;
}

std::string Format(const CompiledPicture& pic, std::string_view value) {
  return FormatNumber(pic, value);
}

std::string Format(const CompiledPicture& pic, int64_t value) {
  return FormatNumber(pic, std::to_string(value));
}

std::string FORMAT(std::string_view value, std::string_view picture) {
  return Format(CompilePicture(picture), value);
}

}  // namespace qzr
