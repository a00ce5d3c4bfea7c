// The process's locale data: month names, AM/PM texts, the collating
// sequence, case tables and digraphs.
//
// Filled once, by the first call of Locale(), under a process-wide lock, from
// the settings layer's [intl] profile section and the environment file (the
// program's path with ".ENV"); afterwards only read, from any thread.

#ifndef QZR_RUNTIME_LOCALE_DATA_H_
#define QZR_RUNTIME_LOCALE_DATA_H_

#include <array>
#include <cstdint>
#include <string>

namespace qzr {

struct LocaleData {
  std::array<std::string, 12> long_month_names;   // "January" ... (up to 12 characters)
  std::array<std::string, 12> short_month_names;  // "Jan" ... (up to 3 characters)
  std::string am_text = "AM";
  std::string pm_text = "PM";
  bool oem_charset = false;
  // Weight of each byte in string comparison; the identity by default.
  std::array<uint8_t, 256> collating_sequence{};
  std::array<uint8_t, 256> upper{};       // upper-case partner of each byte
  std::array<uint8_t, 256> lower{};       // lower-case partner of each byte
  std::array<uint8_t, 256> char_class{};  // 1 upper-case letter, 2 lower-case, 4 digit
  bool digraph_on = false;
  int digraph_count = 0;
  std::array<std::array<uint8_t, 3>, 16> digraphs{};
  bool long_file_names = false;
  bool right_to_left = false;
};

// The locale data, initialised on first use.
const LocaleData& Locale();

}  // namespace qzr

#endif  // QZR_RUNTIME_LOCALE_DATA_H_
