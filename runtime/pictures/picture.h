// Display pictures: compiling a picture text (@N9.2, @D6, @T4, @S30, @E12.2,
// @P...P, @K...K) into its fixed 520-byte template, and FORMAT and DEFORMAT
// over the compiled form.
//
// A compiled picture is plain data, trivially copyable, and is never changed
// after compilation; compiling reads only the process's locale data (for
// @D17, @D18, @T7 and @T8), so every function here is safe from any thread.
//
// Text is UTF-8. A picture's width counts characters; a literal that is one
// character but several bytes (a currency text, a pattern literal, a locale
// separator) takes one template entry per byte, the bytes after the first
// marked kContinuation, which is not a display position.
//
// Compiled picture layout (520 bytes):
//
//   OFFSET SIZE MEANING
//   0      1    bits 0-2 kind (PictureKind); bit 3 blank when zero; bit 4
//               free form (a leading-zero position shows nothing and a name
//               shows without padding); bit 5 the window counts forward (">")
//   1      1    display width in characters; 0 means no picture
//   2      1    @D/@T: the picture number n; @N/@E: the decimal places
//   3      1    @D/@T: the separator shown at separator positions, 0 none
//   4      1    @D: the two-digit-year window argument (80 when none given)
//   5      1    number of template entries in use
//   6      1    the fill indicator given: '0', '_', '*', or 0 for none
//   7      1    @N/@E: the decimal character shown, 0 for none or implied
//   8      1    @N: the grouping character shown, 0 for none
//   9      1    @N: option bits (kNumeric... below)
//   10     510  255 template entries: (fill character, position code)

#ifndef QZR_RUNTIME_PICTURE_H_
#define QZR_RUNTIME_PICTURE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/utf8.h"  // Utf8Length and Utf8Prefix, which pictures count in

namespace qzr {

enum class PictureKind : uint8_t {
  Numeric = 0,   // @N
  Exponent = 1,  // @E
  Date = 2,      // @D
  Time = 3,      // @T
  Pattern = 4,   // @P
  String = 5,    // @S
  KeyIn = 6,     // @K
};

// Position codes of template entries.
inline constexpr uint8_t kLiteral = 0;        // the fill character, unchanged
inline constexpr uint8_t kGrouping = 1;       // @N grouping separator
inline constexpr uint8_t kDecimalPoint = 2;   // @N/@E decimal character
inline constexpr uint8_t kDigitShowFill = 3;  // digit; a leading zero shows the fill
inline constexpr uint8_t kDigitBlank = 4;     // digit; a leading zero shows a space
inline constexpr uint8_t kSign = 5;           // @N sign ("-", "(" or ")")
inline constexpr uint8_t kCurrency = 6;       // @N currency character
inline constexpr uint8_t kMonthDigit = 7;
inline constexpr uint8_t kDayDigit = 8;
inline constexpr uint8_t kYearDigit = 9;
inline constexpr uint8_t kMonthName = 10;  // month-name letter
inline constexpr uint8_t kHourDigit = 11;
inline constexpr uint8_t kMinuteDigit = 12;
inline constexpr uint8_t kSecondDigit = 13;
inline constexpr uint8_t kAmPmSecond = 14;       // second letter of the AM/PM text
inline constexpr uint8_t kWeekdayName = 15;      // weekday-name letter
inline constexpr uint8_t kKeyDigit = 16;         // @K "#": a digit
inline constexpr uint8_t kKeyDigitOrSpace = 17;  // @K "<": a digit or a space
inline constexpr uint8_t kKeyLetter = 18;        // @K "@": a letter
inline constexpr uint8_t kSeparator = 19;        // separator literal
inline constexpr uint8_t kAmPmFirst = 20;        // first letter of the AM/PM text
inline constexpr uint8_t kExponentSign = 21;
inline constexpr uint8_t kImpliedPoint = 22;  // @N implied point; not displayed
inline constexpr uint8_t kContinuation = 23;  // further byte of a UTF-8 literal
inline constexpr uint8_t kKeyUpper = 24;      // @K "^": a letter, upper-cased
inline constexpr uint8_t kKeyLower = 25;      // @K "_": a letter, lower-cased
inline constexpr uint8_t kKeyAny = 26;        // @K "?": any character
inline constexpr uint8_t kKeyStop = 27;       // @K "|": the rest is optional; not displayed

// Option bits of CompiledPicture::options (@N).
inline constexpr uint8_t kNumericImplied = 1;       // "v": implied decimal point
inline constexpr uint8_t kNumericLeadingSign = 2;   // "-" before the width
inline constexpr uint8_t kNumericParens = 4;        // "(" ... ")"
inline constexpr uint8_t kNumericTrailingSign = 8;  // "-" after the places
inline constexpr uint8_t kNumericLeadCurrency = 16;
inline constexpr uint8_t kNumericTrailCurrency = 32;

inline constexpr int kMaxPictureEntries = 255;

struct PictureEntry {
  uint8_t fill;
  uint8_t code;
};

struct CompiledPicture {
  uint8_t flags;
  uint8_t width;
  uint8_t number;
  uint8_t separator;
  uint8_t window;
  uint8_t count;
  uint8_t fill;
  uint8_t decimal;
  uint8_t grouping;
  uint8_t options;
  PictureEntry entries[kMaxPictureEntries];

  static constexpr uint8_t kKindMask = 7;
  static constexpr uint8_t kBlankWhenZero = 8;
  static constexpr uint8_t kFreeForm = 16;
  static constexpr uint8_t kWindowForward = 32;

  PictureKind kind() const { return static_cast<PictureKind>(flags & kKindMask); }
  bool valid() const { return width != 0; }
  bool blank_when_zero() const { return (flags & kBlankWhenZero) != 0; }
  bool free_form() const { return (flags & kFreeForm) != 0; }
  // The window in the backward sense of ExpandTwoDigitYear: "<n" is n,
  // ">n" (a window reaching n years ahead) is 99 - n.
  int year_window() const { return (flags & kWindowForward) ? 99 - window : window; }
};
static_assert(sizeof(CompiledPicture) == 520, "the compiled picture is a 520-byte record");

// Compiles `text`. Any error gives an all-zero picture (width 0).
CompiledPicture CompilePicture(std::string_view text);

// FORMAT of a number given as decimal text ("-1234.5", "1e3"; leading
// spaces and a sign allowed, anything after the number ignored, no number at
// all is 0). Rounds exactly, halves away from zero. Invalid picture: "".
std::string FormatNumber(const CompiledPicture& pic, std::string_view decimal_text);

// FORMAT of a standard date / standard time with a date or time picture.
std::string FormatDate(const CompiledPicture& pic, int32_t date);
std::string FormatTime(const CompiledPicture& pic, int32_t time);

// FORMAT of text with a string or key-in picture.
std::string FormatString(const CompiledPicture& pic, std::string_view text);

// FORMAT by the picture's kind: `value` is taken as a number (decimal text)
// for @N, @E, @P, @D and @T, and as text for @S and @K.
std::string Format(const CompiledPicture& pic, std::string_view value);
std::string Format(const CompiledPicture& pic, int64_t value);

// DEFORMAT: the value behind display text. Numbers (@N, @E, @P) come back as
// canonical decimal text ("-1234.5", "0"), dates and times as their standard
// numbers in decimal ("0" when the text is blank or no valid date or time),
// @S and @K as text. An invalid picture returns `text` unchanged.
std::string Deformat(std::string_view text, const CompiledPicture& pic);

// The language's spellings over picture texts.
std::string FORMAT(std::string_view value, std::string_view picture);
std::string DEFORMAT(std::string_view text, std::string_view picture);

// ---- Locale pictures ---------------------------------------------------------

// Compiles a short or long date format of the [intl] profile ("MM/dd/yy",
// "ddd', 'MMMM' 'dd', 'yyyy") into a date picture with number `number`
// (17 or 18). Width 0 when the format has no date field or is too long.
CompiledPicture CompileWindowsDateFormat(std::string_view format, int number);

// Builds the short (number 7: hours and minutes) or long (number 8: with
// seconds) time picture from the [intl] settings: `twelve_hour` (iTime 0),
// `leading_zero` (iTLzero 1) and the separator text sTime.
CompiledPicture BuildWindowsTimePicture(int number, bool twelve_hour, bool leading_zero,
                                        std::string_view separator);

}  // namespace qzr

#endif  // QZR_RUNTIME_PICTURE_H_
