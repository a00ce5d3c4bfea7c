// Soundex codes. Pure functions; safe from any thread.

#include "runtime/core/soundex.h"

#include "runtime/core/text.h"

namespace qzr {
namespace {

// Digit class of an upper-case letter: '0' for vowels and Y, 'h' for H and W
// (which neither code nor separate), else '1'..'6'.
char LetterClass(char upper) {
  static constexpr std::string_view kClasses = "0123012h02245501262301h202";
  //                                            ABCDEFGHIJKLMNOPQRSTUVWXYZ
  return kClasses[static_cast<size_t>(upper - 'A')];
}

bool IsAsciiLetter(char c) {
  c = AsciiUpper(c);
  return c >= 'A' && c <= 'Z';
}

}  // namespace

SoundexCode Soundex(std::string_view text) {
  SoundexCode code = {'!', '0', '0', '0'};
  size_t i = 0;
  while (i < text.size() && !IsAsciiLetter(text[i])) ++i;
  if (i == text.size()) return code;
  code[0] = AsciiUpper(text[i]);
  char previous = LetterClass(code[0]);
  int out = 1;
  for (++i; i < text.size() && out < 4; ++i) {
    if (!IsAsciiLetter(text[i])) continue;
    char cls = LetterClass(AsciiUpper(text[i]));
    if (cls == 'h') continue;  // H and W keep `previous` alive
    if (cls != '0' && cls != previous) code[out++] = cls;
    previous = cls;
  }
  return code;
}

}  // namespace qzr
