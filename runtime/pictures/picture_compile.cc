// Compiling picture texts into their 520-byte templates, and the UTF-8
// helpers every picture function shares.
//
// Each kind has its own small parser; any error leaves the whole picture
// zero. The templates of @D1..@D16 and @T1..@T6 are tabled below as strings,
// one letter per display position. Pure functions; @D17, @D18, @T7 and @T8
// copy the locale's compiled pictures (read-only after initialisation).

#include <cstring>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a decimal number at text[*i]; false when there are no digits.
// Values above 9999 are kept at 10000 (every caller's limit is lower).
bool ReadNumber(std::string_view text, size_t* i, int* value) {
  if (*i >= text.size() || !IsDigit(text[*i])) return false;
  int v = 0;
  while (*i < text.size() && IsDigit(text[*i])) {
    v = v * 10 + (text[*i] - '0');
    if (v > 9999) v = 10000;
    ++*i;
  }
  *value = v;
  return true;
}

// Appends template entries while the picture has room; `ok` turns false
// once it does not, and the caller gives up on the picture.
class TemplateBuilder {
 public:
  explicit TemplateBuilder(CompiledPicture* pic) : pic_(pic) {}

  void Add(uint8_t fill, uint8_t code) {
    if (pic_->count >= kMaxPictureEntries) {
      ok_ = false;
      return;
    }
    pic_->entries[pic_->count++] = PictureEntry{fill, code};
  }

  // A literal character of one or more bytes: the first byte with `code`,
  // the rest as continuation bytes.
  void AddChar(std::string_view ch, uint8_t code) {
    for (size_t k = 0; k < ch.size(); ++k) {
      Add(static_cast<uint8_t>(ch[k]), k == 0 ? code : kContinuation);
    }
  }

  bool ok() const { return ok_; }

 private:
  CompiledPicture* pic_;
  bool ok_ = true;
};

// The displayed character of a separator, grouping or decimal indicator.
uint8_t ShownIndicator(char c) {
  switch (c) {
    case '_':
      return ' ';
    case '`':
      return ',';
    default:
      return static_cast<uint8_t>(c);
  }
}

bool IsNumericIndicator(char c) {
  return c == '.' || c == '`' || c == '_' || c == 'v' || c == 'V';
}

uint8_t IndicatorFill(char indicator) {
  return indicator == '_' ? ' ' : static_cast<uint8_t>(indicator);
}

// Counts the display positions of the template.
int DisplayWidth(const CompiledPicture& pic) {
  int width = 0;
  for (int i = 0; i < pic.count; ++i) {
    const uint8_t code = pic.entries[i].code;
    if (code != kContinuation && code != kImpliedPoint && code != kKeyStop) ++width;
  }
  return width;
}

// ---- @S -----------------------------------------------------------------

CompiledPicture CompileString(std::string_view body) {
  CompiledPicture pic{};
  size_t i = 0;
  int width = 0;
  if (!ReadNumber(body, &i, &width) || i != body.size() || width < 1 || width > 255) return {};
  pic.flags = static_cast<uint8_t>(PictureKind::String);
  pic.width = static_cast<uint8_t>(width);
  return pic;
}

// ---- @N -----------------------------------------------------------------

// Reads a currency symbol at body[*i]: "$" or a non-empty text in "~".
bool ReadCurrency(std::string_view body, size_t* i, std::string* currency) {
  if (*i >= body.size()) return false;
  if (body[*i] == '$') {
    *currency = "$";
    ++*i;
    return true;
  }
  if (body[*i] != '~') return false;
  const size_t close = body.find('~', *i + 1);
  if (close == std::string_view::npos || close == *i + 1) return false;
  *currency = std::string(body.substr(*i + 1, close - *i - 1));
  *i = close + 1;
  return true;
}

bool StartsCurrency(std::string_view body, size_t i) {
  return i < body.size() && (body[i] == '$' || body[i] == '~');
}

CompiledPicture CompileNumeric(std::string_view body) {
  CompiledPicture pic{};
  size_t i = 0;
  std::string currency;
  bool lead_currency = false;
  if (StartsCurrency(body, i)) {
    if (!ReadCurrency(body, &i, &currency)) return {};
    lead_currency = true;
  }
  bool lead_sign = false, parens = false;
  if (i < body.size() && body[i] == '-') {
    lead_sign = true;
    ++i;
  } else if (i < body.size() && body[i] == '(') {
    parens = true;
    ++i;
  }
  char fill = 0;
  if (i < body.size() && (body[i] == '0' || body[i] == '_' || body[i] == '*')) fill = body[i++];
  int width = 0;
  if (!ReadNumber(body, &i, &width) || width < 1 || width > 255) return {};
  char grouping = 0;
  if (i < body.size() && IsNumericIndicator(body[i]) &&
      (i + 1 == body.size() || IsNumericIndicator(body[i + 1]))) {
    grouping = body[i++];
  }
  char decimal = 0;
  int places = 0;
  if (i < body.size() && IsNumericIndicator(body[i])) {
    decimal = body[i++];
    // A decimal character without a count means no places.
    if (i < body.size() && IsDigit(body[i])) {
      if (!ReadNumber(body, &i, &places) || places > 255) return {};
    }
  }
  bool trailing_sign = false;
  if (parens) {
    if (i >= body.size() || body[i] != ')') return {};
    ++i;
  } else if (!lead_sign && i < body.size() && body[i] == '-') {
    trailing_sign = true;
    ++i;
  }
  bool trail_currency = false;
  if (!lead_currency && StartsCurrency(body, i)) {
    if (!ReadCurrency(body, &i, &currency)) return {};
    trail_currency = true;
  }
  if (i != body.size()) return {};

  const bool implied = decimal == 'v' || decimal == 'V';
  if (places == 0) decimal = 0;
  const int currency_chars = static_cast<int>(Utf8Length(currency));
  const int fixed = currency_chars + (lead_sign ? 1 : 0) + (parens ? 2 : 0) +
                    (trailing_sign ? 1 : 0) + (places > 0 ? places + (implied ? 0 : 1) : 0);
  if (fixed > width) return {};
  const int int_positions = width - fixed;

  pic.flags = static_cast<uint8_t>(PictureKind::Numeric);
  pic.width = static_cast<uint8_t>(width);
  pic.number = static_cast<uint8_t>(places);
  pic.fill = static_cast<uint8_t>(fill);
  pic.decimal = decimal != 0 && !implied ? ShownIndicator(decimal) : 0;
  // "v" as a grouping character asks for none.
  pic.grouping = grouping != 0 && grouping != 'v' && grouping != 'V' ? ShownIndicator(grouping) : 0;
  pic.options = static_cast<uint8_t>(
      (implied && places > 0 ? kNumericImplied : 0) | (lead_sign ? kNumericLeadingSign : 0) |
      (parens ? kNumericParens : 0) | (trailing_sign ? kNumericTrailingSign : 0) |
      (lead_currency ? kNumericLeadCurrency : 0) | (trail_currency ? kNumericTrailCurrency : 0));

  TemplateBuilder b(&pic);
  auto add_currency = [&] {
    for (size_t k = 0; k < currency.size();) {
      const size_t n = Utf8Prefix(std::string_view(currency).substr(k), 1);
      b.AddChar(std::string_view(currency).substr(k, n), kCurrency);
      k += n;
    }
  };
  if (lead_currency) add_currency();
  if (lead_sign) b.Add('-', kSign);
  if (parens) b.Add('(', kSign);
  // The integer positions, laid out right to left and then reversed into
  // place: a grouping position after every three digits.
  const uint8_t digit_fill = fill == '0' || fill == '*' ? static_cast<uint8_t>(fill) : ' ';
  const uint8_t digit_code = digit_fill == ' ' ? kDigitBlank : kDigitShowFill;
  PictureEntry ints[255];
  int n = 0, digits = 0;
  while (n < int_positions) {
    if (pic.grouping != 0 && digits > 0 && digits % 3 == 0 && ints[n - 1].code != kGrouping) {
      ints[n++] = PictureEntry{pic.grouping, kGrouping};
      continue;
    }
    ints[n++] = PictureEntry{digit_fill, digit_code};
    ++digits;
  }
  for (int k = n - 1; k >= 0; --k) b.Add(ints[k].fill, ints[k].code);
  if (places > 0) {
    if (implied) {
      b.Add(0, kImpliedPoint);
    } else {
      b.Add(pic.decimal, kDecimalPoint);
    }
    for (int k = 0; k < places; ++k) b.Add('0', kDigitShowFill);
  }
  if (parens) b.Add(')', kSign);
  if (trailing_sign) b.Add('-', kSign);
  if (trail_currency) add_currency();
  if (!b.ok()) return {};
  return pic;
}

// ---- @E -----------------------------------------------------------------

CompiledPicture CompileExponent(std::string_view body) {
  CompiledPicture pic{};
  size_t i = 0;
  int width = 0, places = 0;
  if (!ReadNumber(body, &i, &width) || width < 7 || width > 255) return {};
  if (i >= body.size() || (body[i] != '.' && body[i] != '`' && body[i] != '_')) return {};
  const char decimal = body[i++];
  if (!ReadNumber(body, &i, &places) || i != body.size()) return {};
  // Sign, one digit, the decimal part, then "E", the exponent sign and three
  // exponent digits.
  const int needed = 2 + (places > 0 ? places + 1 : 0) + 5;
  if (needed > width) return {};
  pic.flags = static_cast<uint8_t>(PictureKind::Exponent);
  pic.width = static_cast<uint8_t>(width);
  pic.number = static_cast<uint8_t>(places);
  pic.decimal = places > 0 ? ShownIndicator(decimal) : 0;
  TemplateBuilder b(&pic);
  for (int k = 0; k < width - needed; ++k) b.Add(' ', kDigitBlank);
  b.Add('-', kSign);
  b.Add('0', kDigitShowFill);
  if (places > 0) {
    b.Add(pic.decimal, kDecimalPoint);
    for (int k = 0; k < places; ++k) b.Add('0', kDigitShowFill);
  }
  b.Add('E', kLiteral);
  b.Add('+', kExponentSign);
  for (int k = 0; k < 3; ++k) b.Add('0', kDigitShowFill);
  if (!b.ok()) return {};
  return pic;
}

// ---- @D and @T --------------------------------------------------------------

// One letter per display position:
//   m/M month digit, d/D day digit, Y year digit, N month-name letter,
//   h/H hour digit, I minute digit, S second digit (a lower-case letter
//   shows a space for a leading zero, an upper-case one the zero),
//   "/", ",", ":" separator positions showing themselves, "_" a separator
//   position showing a space, " " a fixed space, X the first letter of the
//   AM/PM text, "#" the fixed letter M that follows it.
constexpr const char* kDateTemplates[17] = {
    nullptr,
    "mM/DD/YY",               // 1
    "mM/DD/YYYY",             // 2
    "NNN dD,YYYY",            // 3
    "NNNNNNNNNNNN dD, YYYY",  // 4
    "dD/MM/YY",               // 5
    "dD/MM/YYYY",             // 6
    "dD_NNN_YY",              // 7
    "dD_NNN_YYYY",            // 8
    "YY/MM/DD",               // 9
    "YYYY/MM/DD",             // 10
    "YYMMDD",                 // 11
    "YYYYMMDD",               // 12
    "MM/YY",                  // 13
    "MM/YYYY",                // 14
    "YY/MM",                  // 15
    "YYYY/MM",                // 16
};

constexpr const char* kTimeTemplates[7] = {
    nullptr,
    "hH:II",       // 1
    "hHII",        // 2
    "hH:IIX#",     // 3
    "hH:II:SS",    // 4
    "hHIISS",      // 5
    "hH:II:SSX#",  // 6
};

PictureEntry TemplateEntry(char c) {
  switch (c) {
    case 'm':
      return {' ', kMonthDigit};
    case 'M':
      return {'0', kMonthDigit};
    case 'd':
      return {' ', kDayDigit};
    case 'D':
      return {'0', kDayDigit};
    case 'Y':
      return {'0', kYearDigit};
    case 'N':
      return {' ', kMonthName};
    case 'h':
      return {' ', kHourDigit};
    case 'H':
      return {'0', kHourDigit};
    case 'I':
      return {'0', kMinuteDigit};
    case 'S':
      return {'0', kSecondDigit};
    case 'X':
      return {' ', kAmPmFirst};
    case '#':
      return {'M', kLiteral};
    case '_':
      return {' ', kSeparator};
    case '/':
    case ',':
    case ':':
      return {static_cast<uint8_t>(c), kSeparator};
    default:
      return {static_cast<uint8_t>(c), kLiteral};
  }
}

bool IsDateTimeDigit(uint8_t code) {
  return code == kMonthDigit || code == kDayDigit || code == kYearDigit || code == kHourDigit ||
         code == kMinuteDigit || code == kSecondDigit;
}

CompiledPicture CompileDateTime(std::string_view body, bool is_date) {
  size_t i = 0;
  char fill = 0;
  if (i < body.size() && (body[i] == '0' || body[i] == '_' || body[i] == '*')) fill = body[i++];
  int number = 0;
  if (!ReadNumber(body, &i, &number)) return {};
  char separator = 0;
  if (i < body.size() && (body[i] == '.' || body[i] == '-' || body[i] == '_' || body[i] == '`')) {
    separator = body[i++];
  }
  int window = kDefaultYearWindow;
  bool forward = false;
  if (is_date && i < body.size() && (body[i] == '<' || body[i] == '>')) {
    forward = body[i++] == '>';
    if (!ReadNumber(body, &i, &window) || window > 255) return {};
  }
  if (i != body.size()) return {};

  CompiledPicture pic{};
  if (is_date && number >= 1 && number <= 16) {
    TemplateBuilder b(&pic);
    for (const char* p = kDateTemplates[number]; *p; ++p) {
      const PictureEntry e = TemplateEntry(*p);
      b.Add(e.fill, e.code);
    }
    // @D4's long month name is shown without padding, so its day follows
    // the name directly ("July 4, 2026"), as free text.
    if (number == 4) pic.flags = CompiledPicture::kFreeForm;
  } else if (is_date && (number == 17 || number == 18)) {
    pic = number == 17 ? Locale().short_date_picture : Locale().long_date_picture;
    if (!pic.valid()) return {};
  } else if (!is_date && number >= 1 && number <= 6) {
    TemplateBuilder b(&pic);
    for (const char* p = kTimeTemplates[number]; *p; ++p) {
      const PictureEntry e = TemplateEntry(*p);
      b.Add(e.fill, e.code);
    }
  } else if (!is_date && (number == 7 || number == 8)) {
    pic = number == 7 ? Locale().short_time_picture : Locale().long_time_picture;
    if (!pic.valid()) return {};
  } else {
    return {};
  }
  pic.flags =
      static_cast<uint8_t>((pic.flags & ~CompiledPicture::kKindMask) |
                           static_cast<uint8_t>(is_date ? PictureKind::Date : PictureKind::Time) |
                           (forward ? CompiledPicture::kWindowForward : 0));
  pic.number = static_cast<uint8_t>(number);
  pic.separator = separator ? ShownIndicator(separator) : 0;
  pic.window = is_date ? static_cast<uint8_t>(window) : 0;
  pic.fill = static_cast<uint8_t>(fill);
  if (fill != 0) {
    for (int k = 0; k < pic.count; ++k) {
      PictureEntry& e = pic.entries[k];
      if (IsDateTimeDigit(e.code) || e.code == kMonthName) e.fill = IndicatorFill(fill);
    }
  }
  pic.width = static_cast<uint8_t>(DisplayWidth(pic));
  return pic;
}

// ---- @P and @K ------------------------------------------------------------

CompiledPicture CompilePatternOrKeyIn(std::string_view body, char letter, bool key_in) {
  // The pattern ends with the opening letter, in the same case.
  if (body.empty() || body.back() != letter) return {};
  const std::string_view pattern = body.substr(0, body.size() - 1);
  CompiledPicture pic{};
  pic.flags = static_cast<uint8_t>(key_in ? PictureKind::KeyIn : PictureKind::Pattern);
  TemplateBuilder b(&pic);
  for (size_t i = 0; i < pattern.size();) {
    const size_t n = Utf8Prefix(pattern.substr(i), 1);
    const std::string_view ch = pattern.substr(i, n);
    i += n;
    const char c = ch[0];
    if (!key_in) {
      if (c == '#') {
        b.Add('0', kDigitShowFill);
      } else if (c == '<') {
        b.Add(' ', kDigitBlank);
      } else {
        b.AddChar(ch, kLiteral);
      }
      continue;
    }
    switch (c) {
      case '#':
        b.Add(' ', kKeyDigit);
        break;
      case '<':
        b.Add(' ', kKeyDigitOrSpace);
        break;
      case '@':
        b.Add(' ', kKeyLetter);
        break;
      case '^':
        b.Add(' ', kKeyUpper);
        break;
      case '_':
        b.Add(' ', kKeyLower);
        break;
      case '?':
        b.Add(' ', kKeyAny);
        break;
      case '|':
        b.Add(0, kKeyStop);
        break;
      case '\\': {
        // The next character is a literal, even a template character; a
        // "\" at the very end stands for itself.
        if (i >= pattern.size()) {
          b.Add('\\', kLiteral);
          break;
        }
        const size_t m = Utf8Prefix(pattern.substr(i), 1);
        b.AddChar(pattern.substr(i, m), kLiteral);
        i += m;
        break;
      }
      default:
        b.AddChar(ch, kLiteral);
        break;
    }
  }
  const int width = DisplayWidth(pic);
  if (!b.ok() || width == 0 || width > 255) return {};
  pic.width = static_cast<uint8_t>(width);
  return pic;
}

}  // namespace

CompiledPicture CompilePicture(std::string_view text) {
  if (text.size() < 2 || text[0] != '@') return {};
  const char letter = text[1];
  std::string_view body = text.substr(2);
  bool blank = false;
  if (!body.empty() && (body.back() == 'B' || body.back() == 'b')) {
    // For @P and @K a final "b" may be the closing letter itself: "@pb#bp"
    // is not blank, "@p#pb" is.
    const bool closing =
        (AsciiUpper(letter) == 'P' || AsciiUpper(letter) == 'K') && body.back() == letter;
    if (!closing) {
      blank = true;
      body.remove_suffix(1);
    }
  }
  CompiledPicture pic{};
  switch (AsciiUpper(letter)) {
    case 'S':
      pic = CompileString(body);
      break;
    case 'N':
      pic = CompileNumeric(body);
      break;
    case 'E':
      pic = CompileExponent(body);
      break;
    case 'D':
      pic = CompileDateTime(body, true);
      break;
    case 'T':
      pic = CompileDateTime(body, false);
      break;
    case 'P':
      pic = CompilePatternOrKeyIn(body, letter, false);
      break;
    case 'K':
      pic = CompilePatternOrKeyIn(body, letter, true);
      break;
    default:
      return {};
  }
  if (!pic.valid()) return {};
  if (blank) pic.flags |= CompiledPicture::kBlankWhenZero;
  return pic;
}

// ---- Locale pictures ------------------------------------------------------------

CompiledPicture CompileWindowsDateFormat(std::string_view format, int number) {
  CompiledPicture pic{};
  pic.flags =
      static_cast<uint8_t>(static_cast<uint8_t>(PictureKind::Date) | CompiledPicture::kFreeForm);
  pic.number = static_cast<uint8_t>(number);
  pic.window = kDefaultYearWindow;
  TemplateBuilder b(&pic);
  // A field of `count` positions; only the first may suppress a leading
  // zero, and name positions pad with spaces.
  auto add_run = [&b](uint8_t code, uint8_t first_fill, int count) {
    const bool name = code == kMonthName || code == kWeekdayName;
    for (int k = 0; k < count; ++k) b.Add(k == 0 ? first_fill : (name ? ' ' : '0'), code);
  };
  bool any_field = false;
  for (size_t i = 0; i < format.size();) {
    const char c = format[i];
    if (c == '\'') {
      // Quoted literal text; "''" inside stands for one quote.
      ++i;
      while (i < format.size()) {
        if (format[i] == '\'') {
          if (i + 1 < format.size() && format[i + 1] == '\'') {
            b.Add('\'', kLiteral);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        const size_t n = Utf8Prefix(format.substr(i), 1);
        b.AddChar(format.substr(i, n), kLiteral);
        i += n;
      }
      continue;
    }
    if (c == 'd' || c == 'M' || c == 'y' || c == 'g') {
      size_t run = 0;
      while (i + run < format.size() && format[i + run] == c) ++run;
      i += run;
      if (c == 'g') continue;  // the era is not shown
      any_field = true;
      if (c == 'd') {
        if (run == 1)
          add_run(kDayDigit, ' ', 2);
        else if (run == 2)
          add_run(kDayDigit, '0', 2);
        else if (run == 3)
          add_run(kWeekdayName, ' ', 3);
        else
          add_run(kWeekdayName, ' ', 9);
      } else if (c == 'M') {
        if (run == 1)
          add_run(kMonthDigit, ' ', 2);
        else if (run == 2)
          add_run(kMonthDigit, '0', 2);
        else if (run == 3)
          add_run(kMonthName, ' ', 3);
        else
          add_run(kMonthName, ' ', 12);
      } else {
        if (run == 1)
          add_run(kYearDigit, ' ', 2);
        else if (run == 2)
          add_run(kYearDigit, '0', 2);
        else
          add_run(kYearDigit, '0', 4);
      }
      continue;
    }
    const size_t n = Utf8Prefix(format.substr(i), 1);
    const std::string_view ch = format.substr(i, n);
    i += n;
    // Unquoted punctuation between the fields is where a picture's own
    // separator ("@D17-") goes; letters and spaces stay as they are.
    const bool separator = c == '/' || c == '-' || c == '.' || c == ',';
    b.AddChar(ch, separator ? kSeparator : kLiteral);
  }
  const int width = DisplayWidth(pic);
  if (!b.ok() || !any_field || width > 255) return {};
  pic.width = static_cast<uint8_t>(width);
  return pic;
}

CompiledPicture BuildWindowsTimePicture(int number, bool twelve_hour, bool leading_zero,
                                        std::string_view separator) {
  CompiledPicture pic{};
  pic.flags =
      static_cast<uint8_t>(static_cast<uint8_t>(PictureKind::Time) | CompiledPicture::kFreeForm);
  pic.number = static_cast<uint8_t>(number);
  TemplateBuilder b(&pic);
  // A separator of several characters is kept whole; only its first takes a
  // picture's own separator.
  auto add_separator = [&] {
    for (size_t k = 0; k < separator.size();) {
      const size_t n = Utf8Prefix(separator.substr(k), 1);
      b.AddChar(separator.substr(k, n), k == 0 ? kSeparator : kLiteral);
      k += n;
    }
  };
  b.Add(leading_zero ? '0' : ' ', kHourDigit);
  b.Add('0', kHourDigit);
  add_separator();
  b.Add('0', kMinuteDigit);
  b.Add('0', kMinuteDigit);
  if (number == 8) {
    add_separator();
    b.Add('0', kSecondDigit);
    b.Add('0', kSecondDigit);
  }
  if (twelve_hour) {
    b.Add(' ', kLiteral);
    b.Add(' ', kAmPmFirst);
    b.Add(' ', kAmPmSecond);
  }
  const int width = DisplayWidth(pic);
  if (!b.ok() || width > 255) return {};
  pic.width = static_cast<uint8_t>(width);
  return pic;
}

}  // namespace qzr
