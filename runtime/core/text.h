// Small text helpers shared by every layer: trimming, ASCII case, prefixes,
// and "%XX" escaping; with utf8.h (included), UTF-8 lengths and cuts at a
// character boundary.
//
// Case here is ASCII only and never depends on the process's locale (the
// runtime's own upper-case table, which an environment file can extend
// above 127, lives in locale_data.h). UTF-8 functions take any bytes: a
// malformed sequence counts as one character and is never split further.
//
// Threads: plain functions over the caller's data.

#ifndef QZR_RUNTIME_TEXT_H_
#define QZR_RUNTIME_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/core/utf8.h"

namespace qzr {

// ---- Trimming ----------------------------------------------------------------

// What the trimming functions strip: spaces only, blanks (space and tab), or
// all white space (blanks, line ends, vertical tab and form feed).
inline constexpr std::string_view kSpaces = " ";
inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

std::string_view TrimLeft(std::string_view text, std::string_view strip = kBlanks);
std::string_view TrimRight(std::string_view text, std::string_view strip = kBlanks);
std::string_view Trim(std::string_view text, std::string_view strip = kBlanks);

// ---- ASCII case ----------------------------------------------------------------

inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with its ASCII letters in upper case; other bytes as they are.
std::string Upper(std::string_view text);
// `text` with its ASCII letters in lower case; other bytes as they are.
std::string Lower(std::string_view text);

// True iff `a` and `b` are equal with ASCII letters compared blind to case.
bool EqualNoCase(std::string_view a, std::string_view b);

// ---- Prefixes and searching -------------------------------------------------------

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// The first offset at which `word` stands in `text`, ASCII case ignored;
// npos when nowhere. An empty word stands at 0.
size_t FindNoCase(std::string_view text, std::string_view word);
inline bool ContainsNoCase(std::string_view text, std::string_view word) {
  return FindNoCase(text, word) != std::string_view::npos;
}

// ---- "%XX" escaping ---------------------------------------------------------------------

// The value of a hexadecimal digit (either case); -1 for any other byte.
int HexDigitValue(char c);

// Appends "%XX" for `byte`, in upper-case hexadecimal.
void AppendPercentEscape(uint8_t byte, std::string* out);

// The byte a "%XX" at text[at] stands for; -1 when no such escape stands
// there (no '%', fewer than two bytes after it, or a byte that is not a
// hexadecimal digit).
int PercentEscapeAt(std::string_view text, size_t at);

// `text` with every byte for which `needs(byte)` holds written as "%XX".
template <typename Needs>
std::string PercentEscape(std::string_view text, Needs needs) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (needs(byte)) {
      AppendPercentEscape(byte, &out);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qzr

#endif  // QZR_RUNTIME_TEXT_H_
