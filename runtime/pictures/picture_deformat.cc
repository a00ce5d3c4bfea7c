// DEFORMAT: the value behind display text, read with a compiled picture.
//
// Tolerance, chosen for people typing into entry fields:
//  1. Numbers (@N): only the digits, the picture's decimal character and a
//     "-" or "(" anywhere (negative) count; grouping, currency, spaces and
//     other text are skipped. When the picture has no decimal character, or
//     an implied one, a "." (unless it is the grouping character) still
//     marks the point; with an implied point and no "." the last places
//     digits are the fraction. The value is rounded to the picture's places,
//     as the picture would show it.
//  2. @E: the mantissa with the picture's decimal character and an "E"
//     exponent; not rounded.
//  3. @P: the text laid out as the pattern gives the digits at the digit
//     positions; any other text gives all its digits.
//  4. Dates: the numbers and words of the text are matched to the
//     picture's fields in order. A month may be a name (its short form or at
//     least three letters of its long form, any case) wherever the text has
//     one; words that are not month names (weekdays) are skipped. One run of
//     digits without separators is split by the picture's field widths
//     ("20260704" for @D12, "070426" for @D2 with a two-digit year). A
//     missing year is the current year, a missing day (@D13..@D16) is the
//     first. A year of one or two digits is expanded with the picture's
//     window: "<n" reaches n years back from the current year, ">n" n years
//     ahead. An impossible date (30 February) is no date: 0.
//  5. Times: hours, minutes, seconds in order, a fourth number as
//     hundredths; one run of digits is split into pairs from the right
//     ("930" is 9:30). "AM"/"PM" (the locale texts, or their first letter, in
//     any case) turn 12-hour into 24-hour clock readings. A typed midnight is
//     00:00:00.00, standard time 1, not 0 ("no time"); out-of-range parts
//     give 0. Other words are skipped.
//  6. @S: the text cut to the width. @K: the characters at the input
//     positions when the text is laid out like the template, else the text
//     itself; trailing spaces dropped, letters cased as "^" and "_" ask.
//  7. Blank text is 0 for every numeric kind.
//
// Pure functions; safe from any thread.

#include <algorithm>
#include <vector>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/pictures/picture_decimal.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordByte(char c) {
  const auto b = static_cast<uint8_t>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || b >= 0x80;
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// ---- Numbers ------------------------------------------------------------

std::string DeformatNumeric(std::string_view text, const CompiledPicture& pic) {
  text = Trim(text);
  if (text.empty()) return "0";
  const int places = pic.number;
  const bool implied = (pic.options & kNumericImplied) != 0;
  char point = static_cast<char>(pic.decimal);
  if (point == 0 && pic.grouping != '.') point = '.';
  bool negative = false, seen_point = false;
  std::string ints, frac;
  for (char c : text) {
    if (IsDigit(c)) {
      (seen_point ? frac : ints).push_back(c);
    } else if (c == point && !seen_point) {
      seen_point = true;
    } else if (c == '-' || c == '(') {
      negative = true;
    } else if (implied && c == '.' && !seen_point && pic.grouping != '.') {
      seen_point = true;
    }
  }
  if (implied && !seen_point) {
    const size_t cut = ints.size() > static_cast<size_t>(places) ? ints.size() - places : 0;
    frac = std::string(static_cast<size_t>(places) - (ints.size() - cut), '0') + ints.substr(cut);
    ints.resize(cut);
  }
  const PictureDecimal value = MakePictureDecimal(negative, ints, frac);
  std::string int_digits, frac_digits;
  // Rounding cannot overflow here: the result has at most one more integer
  // digit than the text.
  if (!RoundPictureDecimal(value, places, ints.size() + 1, &int_digits, &frac_digits)) {
    return CanonicalDecimal(value);
  }
  return CanonicalDecimal(MakePictureDecimal(negative, int_digits, frac_digits));
}

std::string DeformatExponent(std::string_view text, const CompiledPicture& pic) {
  text = Trim(text);
  std::string normal;
  for (char c : text) {
    if (c == ' ') continue;
    normal.push_back(pic.decimal != 0 && c == static_cast<char>(pic.decimal) ? '.' : c);
  }
  return CanonicalDecimal(ParsePictureDecimal(normal));
}

std::string DeformatPattern(std::string_view text, const CompiledPicture& pic) {
  std::string digits;
  if (Utf8Length(text) == pic.width) {
    size_t t = 0;
    for (int i = 0; i < pic.count; ++i) {
      const PictureEntry& e = pic.entries[i];
      if (e.code == kContinuation) continue;
      const size_t n = Utf8Prefix(text.substr(t), 1);
      if ((e.code == kDigitShowFill || e.code == kDigitBlank) && n == 1 && IsDigit(text[t])) {
        digits.push_back(text[t]);
      }
      t += n;
    }
  } else {
    for (char c : text) {
      if (IsDigit(c)) digits.push_back(c);
    }
  }
  return CanonicalDecimal(MakePictureDecimal(false, digits, ""));
}

// ---- Dates and times ----------------------------------------------------------

struct Token {
  bool number;
  std::string text;
};

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < text.size();) {
    if (IsDigit(text[i])) {
      size_t j = i;
      while (j < text.size() && IsDigit(text[j])) ++j;
      tokens.push_back({true, std::string(text.substr(i, j - i))});
      i = j;
    } else if (IsWordByte(text[i])) {
      size_t j = i;
      while (j < text.size() && IsWordByte(text[j])) ++j;
      tokens.push_back({false, std::string(text.substr(i, j - i))});
      i = j;
    } else {
      ++i;
    }
  }
  return tokens;
}

// Month 1..12 named by `word`, or 0.
int MonthFromName(std::string_view word) {
  const LocaleData& locale = Locale();
  for (int m = 0; m < 12; ++m) {
    if (EqualNoCase(word, locale.short_month_names[m])) return m + 1;
  }
  if (Utf8Length(word) < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    const std::string& name = locale.long_month_names[m];
    if (word.size() <= name.size() &&
        EqualNoCase(word, std::string_view(name).substr(0, word.size()))) {
      return m + 1;
    }
  }
  return 0;
}

struct Field {
  uint8_t code;
  int width;
};

// The digit and name fields of a date or time template, in order.
std::vector<Field> Fields(const CompiledPicture& pic) {
  std::vector<Field> fields;
  for (int i = 0; i < pic.count;) {
    const uint8_t code = pic.entries[i].code;
    int run = 1;
    while (i + run < pic.count && pic.entries[i + run].code == code) ++run;
    if (code == kMonthDigit || code == kDayDigit || code == kYearDigit || code == kMonthName ||
        code == kHourDigit || code == kMinuteDigit || code == kSecondDigit) {
      fields.push_back({code, run});
    }
    i += run;
  }
  return fields;
}

int ToSmallInt(std::string_view digits) {
  int v = 0;
  for (char c : digits) {
    v = v * 10 + (c - '0');
    if (v > 100000) return 100000;  // far out of any range
  }
  return v;
}

std::string DeformatDate(std::string_view text, const CompiledPicture& pic) {
  if (IsBlank(text)) return "0";
  std::vector<Token> tokens = Tokenize(text);
  std::vector<Field> fields = Fields(pic);
  int month = 0;
  std::vector<std::string> numbers;
  for (const Token& t : tokens) {
    if (t.number) {
      numbers.push_back(t.text);
    } else if (month == 0) {
      month = MonthFromName(t.text);
    }
  }
  // The numeric fields still to fill: a month read as a name leaves only
  // the day and the year.
  std::vector<Field> numeric;
  for (const Field& f : fields) {
    if (f.code == kMonthName) continue;
    if (f.code == kMonthDigit && month != 0) continue;
    numeric.push_back(f);
  }
  if (month == 0 && std::none_of(numeric.begin(), numeric.end(),
                                 [](const Field& f) { return f.code == kMonthDigit; })) {
    // A name picture typed with a month number: the number is the month,
    // in the name's place.
    std::vector<Field> with_month;
    for (const Field& f : fields) {
      with_month.push_back(f.code == kMonthName ? Field{kMonthDigit, 2} : f);
    }
    numeric = with_month;
  }
  if (numbers.size() == 1 && numeric.size() > 1) {
    // One run of digits: split it by the field widths, a four-digit year
    // possibly typed with two.
    int total = 0;
    for (const Field& f : numeric) total += f.width;
    const std::string run = numbers[0];
    int year_width = 0;
    for (const Field& f : numeric) {
      if (f.code == kYearDigit) year_width = f.width;
    }
    int year_cut = 0;
    if (static_cast<int>(run.size()) == total - 2 && year_width == 4) {
      year_cut = 2;
    } else if (static_cast<int>(run.size()) != total) {
      return "0";
    }
    numbers.clear();
    size_t pos = 0;
    for (const Field& f : numeric) {
      const int w = f.code == kYearDigit ? f.width - year_cut : f.width;
      numbers.push_back(run.substr(pos, static_cast<size_t>(w)));
      pos += static_cast<size_t>(w);
    }
  }
  if (numbers.size() > numeric.size()) return "0";
  int day = 0, year = 0;
  bool has_day = false, has_year = false;
  for (size_t k = 0; k < numbers.size(); ++k) {
    const int v = ToSmallInt(numbers[k]);
    switch (numeric[k].code) {
      case kMonthDigit:
        month = v;
        break;
      case kDayDigit:
        day = v;
        has_day = true;
        break;
      default:
        year = numbers[k].size() <= 2 ? ExpandTwoDigitYear(v, pic.year_window()) : v;
        has_year = true;
        break;
    }
  }
  if (!has_year) year = LocalNow().year;
  if (!has_day) {
    const bool picture_has_day = std::any_of(fields.begin(), fields.end(),
                                             [](const Field& f) { return f.code == kDayDigit; });
    if (picture_has_day) return "0";
    day = 1;
  }
  // A year typed with three or more digits is taken as written, so 0026 is
  // the year 26 and invalid rather than silently expanded.
  if (year < kFirstYear || !IsValidDate(month, day, year)) return "0";
  return std::to_string(DateFromParts(month, day, year));
}

std::string DeformatTime(std::string_view text, const CompiledPicture& pic) {
  if (IsBlank(text)) return "0";
  const LocaleData& locale = Locale();
  std::vector<Field> fields = Fields(pic);
  std::vector<std::string> numbers;
  int meridiem = 0;  // 1 AM, 2 PM
  for (const Token& t : Tokenize(text)) {
    if (t.number) {
      numbers.push_back(t.text);
      continue;
    }
    auto first_char = [](std::string_view s) { return s.substr(0, Utf8Prefix(s, 1)); };
    if (EqualNoCase(t.text, locale.am_text) || EqualNoCase(t.text, first_char(locale.am_text))) {
      meridiem = 1;
    } else if (EqualNoCase(t.text, locale.pm_text) ||
               EqualNoCase(t.text, first_char(locale.pm_text))) {
      meridiem = 2;
    }
    // Other words ("13h05", "o'clock") are skipped like punctuation.
  }
  if (numbers.empty()) return "0";
  if (numbers.size() == 1 && numbers[0].size() > 2 && fields.size() > 1) {
    // "930", "0930", "123045": pairs from the right, the hours take the rest.
    const std::string run = numbers[0];
    numbers.clear();
    size_t end = run.size();
    std::vector<std::string> parts;
    while (end > 2 && parts.size() + 1 < fields.size()) {
      parts.insert(parts.begin(), run.substr(end - 2, 2));
      end -= 2;
    }
    parts.insert(parts.begin(), run.substr(0, end));
    numbers = parts;
  }
  // Up to hours, minutes, seconds and hundredths, as far as typed.
  if (numbers.size() > 4) return "0";
  int parts[4] = {0, 0, 0, 0};
  for (size_t k = 0; k < numbers.size(); ++k) {
    if (k == 3) {
      // Hundredths: ".5" is fifty, ".05" five.
      std::string h = numbers[k].substr(0, 2);
      if (h.size() == 1) h.push_back('0');
      parts[3] = ToSmallInt(h);
    } else {
      parts[k] = ToSmallInt(numbers[k]);
    }
  }
  int hours = parts[0];
  if (meridiem != 0) {
    if (hours < 1 || hours > 12) return "0";
    if (meridiem == 1 && hours == 12) hours = 0;
    if (meridiem == 2 && hours < 12) hours += 12;
  }
  if (hours > 23 || parts[1] > 59 || parts[2] > 59 || parts[3] > 99) return "0";
  return std::to_string(((hours * 60 + parts[1]) * 60 + parts[2]) * 100 + parts[3] + 1);
}

// ---- Texts ----------------------------------------------------------------

bool IsKeyInput(uint8_t code) {
  return code == kKeyDigit || code == kKeyDigitOrSpace || code == kKeyLetter || code == kKeyUpper ||
         code == kKeyLower || code == kKeyAny;
}

std::string DeformatKeyIn(std::string_view text, const CompiledPicture& pic) {
  // Laid out like the template: keep the characters at input positions.
  std::string out;
  size_t t = 0;
  bool laid_out = true;
  for (int i = 0; i < pic.count && laid_out;) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kKeyStop) {
      if (t == text.size()) break;
      ++i;
      continue;
    }
    if (t >= text.size()) {
      laid_out = false;
      break;
    }
    const size_t n = Utf8Prefix(text.substr(t), 1);
    if (IsKeyInput(e.code)) {
      std::string ch(text.substr(t, n));
      if (n == 1 && e.code == kKeyUpper) ch[0] = AsciiUpper(ch[0]);
      if (n == 1 && e.code == kKeyLower) ch[0] = AsciiLower(ch[0]);
      out += ch;
      ++i;
    } else {
      size_t k = 0;
      for (; k < n; ++k, ++i) {
        if (i >= pic.count || pic.entries[i].fill != static_cast<uint8_t>(text[t + k]) ||
            (k > 0 && pic.entries[i].code != kContinuation)) {
          laid_out = false;
          break;
        }
      }
      if (laid_out && i < pic.count && pic.entries[i].code == kContinuation) laid_out = false;
    }
    t += n;
  }
  if (!laid_out || t != text.size()) out = std::string(text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

std::string Deformat(std::string_view text, const CompiledPicture& pic) {
  if (!pic.valid()) return std::string(text);
  switch (pic.kind()) {
    case PictureKind::Numeric:
      return DeformatNumeric(text, pic);
    case PictureKind::Exponent:
      return DeformatExponent(text, pic);
    case PictureKind::Pattern:
      return DeformatPattern(text, pic);
    case PictureKind::Date:
      return DeformatDate(text, pic);
    case PictureKind::Time:
      return DeformatTime(text, pic);
    case PictureKind::KeyIn:
      return DeformatKeyIn(text, pic);
    default:
      return std::string(text.substr(0, Utf8Prefix(text, pic.width)));
  }
}

std::string DEFORMAT(std::string_view text, std::string_view picture) {
  return Deformat(text, CompilePicture(picture));
}

}  // namespace qzr
