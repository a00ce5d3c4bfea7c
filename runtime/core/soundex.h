// Soundex: the four-character sound-alike code of a text.
//
// The code is the text's first letter in upper case followed by three digits
// taken from the letter classes below, padded with "0". A text without any
// letter codes as "!000". Pure functions over their arguments; safe from any
// thread.
//
//   class 1  B F P V          class 4  L
//   class 2  C G J K Q S X Z  class 5  M N
//   class 3  D T              class 6  R
//   A E I O U Y H W carry no digit.

#ifndef QZR_RUNTIME_SOUNDEX_H_
#define QZR_RUNTIME_SOUNDEX_H_

#include <array>
#include <string_view>

namespace qzr {

using SoundexCode = std::array<char, 4>;

// The Soundex code of `text`. Characters that are not ASCII letters are
// skipped. As in the usual American rule, a letter whose digit equals the
// previous coded letter's is dropped when only H or W (or nothing) stands
// between them, but coded again after a vowel.
SoundexCode Soundex(std::string_view text);

// The code as a 4-character string view over `code`.
inline std::string_view SoundexText(const SoundexCode& code) { return {code.data(), code.size()}; }

}  // namespace qzr

#endif  // QZR_RUNTIME_SOUNDEX_H_
