// The process's locale data: month and weekday names, AM/PM texts, the
// locale date and time pictures (@D17, @D18, @T7, @T8), the collating
// sequence, case tables, digraphs, and the runtime-message overrides.
//
// Filled once, by the first call of Locale(), under a process-wide lock: the
// [intl] section of the user profile (GetProfileString/GetProfileInt) gives
// the time settings and the date formats, then the environment file (the
// program's path with ".ENV", see env_file.h) may change the rest. When the
// file cannot be read the defaults stay. Afterwards the data is only read,
// from any thread; the returned reference stays valid for the life of the
// process (the testing re-initialisers keep every earlier set alive).

#ifndef QZR_RUNTIME_LOCALE_DATA_H_
#define QZR_RUNTIME_LOCALE_DATA_H_

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/pictures/picture.h"

namespace qzr {

namespace locale_internal {
constexpr std::array<uint8_t, 256> Identity() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  return t;
}
constexpr std::array<uint8_t, 256> AsciiCase(bool to_upper) {
  std::array<uint8_t, 256> t = Identity();
  for (int c = 'a'; c <= 'z'; ++c) {
    if (to_upper) {
      t[c] = static_cast<uint8_t>(c - 32);
    } else {
      t[c - 32] = static_cast<uint8_t>(c);
    }
  }
  return t;
}
constexpr std::array<uint8_t, 256> AsciiClasses() {
  std::array<uint8_t, 256> t{};
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = 1;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = 2;
  for (int c = '0'; c <= '9'; ++c) t[c] = 4;
  return t;
}
}  // namespace locale_internal

inline constexpr uint8_t kClassUpper = 1;
inline constexpr uint8_t kClassLower = 2;
inline constexpr uint8_t kClassDigit = 4;

// First message number of the standard button captions ("MORBUTTON").
inline constexpr int kButtonMessageBase = 0x7F00;

struct LocaleData {
  // Up to 12 characters each.
  std::array<std::string, 12> long_month_names = {"January",   "February", "March",    "April",
                                                  "May",       "June",     "July",     "August",
                                                  "September", "October",  "November", "December"};
  // Up to 3 characters each.
  std::array<std::string, 12> short_month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Sunday first.
  std::array<std::string, 7> long_day_names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};
  std::array<std::string, 7> short_day_names = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  // Up to 2 characters each.
  std::string am_text = "AM";
  std::string pm_text = "PM";
  // The locale pictures, compiled from the [intl] settings.
  CompiledPicture short_date_picture{};  // @D17
  CompiledPicture long_date_picture{};   // @D18
  CompiledPicture short_time_picture{};  // @T7
  CompiledPicture long_time_picture{};   // @T8
  bool oem_charset = false;
  // Weight of each byte in string comparison; the identity by default.
  std::array<uint8_t, 256> collating_sequence = locale_internal::Identity();
  std::array<uint8_t, 256> upper = locale_internal::AsciiCase(true);   // upper-case partner
  std::array<uint8_t, 256> lower = locale_internal::AsciiCase(false);  // lower-case partner
  // 1 upper-case letter, 2 lower-case, 4 digit.
  std::array<uint8_t, 256> char_class = locale_internal::AsciiClasses();
  bool digraph_on = false;
  int digraph_count = 0;
  // Each digraph is three bytes: the character and the two it sorts as.
  std::array<std::array<uint8_t, 3>, 16> digraphs{};
  bool long_file_names = false;
  bool right_to_left = false;
  // "MORSYSTEMCHARSET": the window system's font character set, as given.
  std::string system_charset;
  // Runtime messages replaced by "MORMSG<n>" and "MORBUTTON".
  std::map<int, std::string> message_overrides;
};

// The [intl] profile settings the locale pictures are built from.
struct IntlSettings {
  int iTime = 0;    // 0: 12-hour clock with AM/PM; 1: 24-hour
  int iTLzero = 1;  // 1: hours keep a leading zero
  std::string sTime = ":";
  std::string s1159 = "AM";
  std::string s2359 = "PM";
  std::string sShortDate = "MM/dd/yy";
  std::string sLongDate = "ddd', 'MMMM' 'dd', 'yyyy";
};

// The locale data, initialised on first use.
const LocaleData& Locale();

// `text` in upper case through the locale's table, as the evaluator's UPPER
// makes it (letters above 127 fold where the environment file says so).
std::string LocaleUpper(std::string_view text);

// Reads the [intl] section of the user profile; missing entries keep the
// defaults above.
IntlSettings ReadIntlSettings();

// The locale data that `intl` and the environment-file bytes `env` (nullopt
// when there is no file) give. No global state is touched.
LocaleData BuildLocaleData(const IntlSettings& intl, std::optional<std::string_view> env);

// The environment file of this program: its own path (/proc/self/exe) with
// the extension replaced by ".ENV".
std::string ProgramEnvFilePath();

// Replaces the process's locale data with the one built from `intl` and the
// environment file at `env_path` (an unreadable path means no file). For
// tests; references handed out earlier stay valid.
void InitLocaleForTesting(const IntlSettings& intl, const std::string& env_path);

// Forgets the locale data so that the next Locale() initialises it again
// from the profile and the program's environment file. For tests.
void ResetLocaleForTesting();

// The text that replaces runtime message `n` ("MORMSG<n>", or a button
// caption for kButtonMessageBase + j), if the environment file gave one.
std::optional<std::string> RuntimeMessageOverride(int n);

}  // namespace qzr

#endif  // QZR_RUNTIME_LOCALE_DATA_H_
