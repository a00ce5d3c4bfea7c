// Checking typed text against a picture.

#include "ui/picture_input.h"

#include <cctype>

#include "runtime/core/text.h"

namespace qzr {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsDigitEntry(uint8_t code) {
  return code == kDigitShowFill || code == kDigitBlank;
}

bool ValidNumber(const CompiledPicture& pic, std::string_view text) {
  char point = static_cast<char>(pic.decimal);
  if (point == 0 && pic.grouping != '.') point = '.';
  const bool implied = (pic.options & kNumericImplied) != 0;
  // Bytes the picture itself shows: currency text, literals, sign places.
  bool literal[256] = {};
  int int_places = 0;
  bool seen_point = false;
  for (int i = 0; i < pic.count; ++i) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kDecimalPoint || e.code == kImpliedPoint) seen_point = true;
    if (IsDigitEntry(e.code) && !seen_point) ++int_places;
    if (e.code == kLiteral || e.code == kCurrency || e.code == kContinuation ||
        e.code == kSeparator) {
      literal[e.fill] = true;
    }
  }
  if (implied && !seen_point) int_places = -1;  // the places are the typed digits' own
  int int_digits = 0;
  bool after_point = false, leading = true;
  for (char c : text) {
    if (IsDigit(c)) {
      if (!after_point) {
        if (c != '0' || !leading) ++int_digits;
        if (c != '0') leading = false;
      }
    } else if (point != 0 && c == point) {
      if (after_point) return false;
      after_point = true;
    } else if (c == ' ' || c == '-' || c == '+' || c == '(' || c == ')' ||
               (pic.grouping != 0 && c == static_cast<char>(pic.grouping)) ||
               literal[static_cast<unsigned char>(c)]) {
      // allowed
    } else {
      return false;
    }
  }
  return int_places < 0 || int_digits <= int_places;
}

bool ValidExponent(std::string_view text, const CompiledPicture& pic) {
  const char point = pic.decimal != 0 ? static_cast<char>(pic.decimal) : '.';
  bool digit = false;
  for (char c : text) {
    if (IsDigit(c)) {
      digit = true;
    } else if (!(c == point || c == '-' || c == '+' || c == 'e' || c == 'E' || c == ' ')) {
      return false;
    }
  }
  return digit;
}

bool ValidPattern(const CompiledPicture& pic, std::string_view text) {
  int places = 0;
  for (int i = 0; i < pic.count; ++i) places += IsDigitEntry(pic.entries[i].code);
  int digits = 0;
  bool only_digits = true;
  for (char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c != ' ') {
      only_digits = false;
    }
  }
  if (only_digits) return digits <= places;
  // Laid out as the picture shows it.
  return TrimRight(Format(pic, Deformat(text, pic)), kSpaces) == TrimRight(text, kSpaces);
}

bool IsKeyInput(uint8_t code) {
  return code == kKeyDigit || code == kKeyDigitOrSpace || code == kKeyLetter || code == kKeyUpper ||
         code == kKeyLower || code == kKeyAny;
}

bool MatchesKeyIn(const CompiledPicture& pic, std::string_view text, bool with_literals) {
  size_t t = 0;
  for (int i = 0; i < pic.count; ++i) {
    const PictureEntry& e = pic.entries[i];
    if (e.code == kContinuation) continue;
    if (e.code == kKeyStop) {
      if (t == text.size()) return true;
      continue;
    }
    if (IsKeyInput(e.code)) {
      if (t >= text.size()) return false;
      const size_t n = Utf8Prefix(text.substr(t), 1);
      const unsigned char c = static_cast<unsigned char>(text[t]);
      bool ok = true;
      switch (e.code) {
        case kKeyDigit:
          ok = n == 1 && IsDigit(static_cast<char>(c));
          break;
        case kKeyDigitOrSpace:
          ok = n == 1 && (IsDigit(static_cast<char>(c)) || c == ' ');
          break;
        case kKeyLetter:
        case kKeyUpper:
        case kKeyLower:
          ok = n > 1 || std::isalpha(c);
          break;
        default:
          break;
      }
      if (!ok) return false;
      t += n;
      continue;
    }
    if (!with_literals) continue;
    std::string bytes(1, static_cast<char>(e.fill));
    for (int k = i + 1; k < pic.count && pic.entries[k].code == kContinuation; ++k) {
      bytes += static_cast<char>(pic.entries[k].fill);
    }
    if (text.substr(t, bytes.size()) != bytes) return false;
    t += bytes.size();
  }
  return t == text.size();
}

bool ValidKeyIn(const CompiledPicture& pic, std::string_view text) {
  for (std::string_view candidate : {text, TrimRight(text, kSpaces)}) {
    if (MatchesKeyIn(pic, candidate, true) || MatchesKeyIn(pic, candidate, false)) return true;
  }
  return false;
}

}  // namespace

bool ParseInput(const CompiledPicture& pic, std::string_view text, std::string* value) {
  if (!pic.valid()) {
    *value = std::string(text);
    return true;
  }
  const PictureKind kind = pic.kind();
  if (Trim(text, kSpaces).empty()) {
    *value = (kind == PictureKind::String || kind == PictureKind::KeyIn) ? "" : "0";
    return true;
  }
  bool ok = true;
  switch (kind) {
    case PictureKind::String:
      ok = Utf8Length(text) <= pic.width;
      break;
    case PictureKind::Numeric:
      ok = ValidNumber(pic, Trim(text, kSpaces));
      break;
    case PictureKind::Exponent:
      ok = ValidExponent(Trim(text, kSpaces), pic);
      break;
    case PictureKind::Date:
    case PictureKind::Time:
      ok = Deformat(text, pic) != "0";
      break;
    case PictureKind::Pattern:
      ok = ValidPattern(pic, text);
      break;
    case PictureKind::KeyIn:
      ok = ValidKeyIn(pic, text);
      break;
  }
  if (!ok) return false;
  *value = kind == PictureKind::String ? std::string(text) : Deformat(text, pic);
  return true;
}

std::string DisplayText(const CompiledPicture& pic, std::string_view value) {
  if (!pic.valid()) return std::string(TrimRight(value, kSpaces));
  const std::string shown = Format(pic, value);
  if (pic.kind() == PictureKind::String || pic.kind() == PictureKind::KeyIn) {
    return std::string(TrimRight(shown, kSpaces));
  }
  return std::string(Trim(shown, kSpaces));
}

}  // namespace qzr
