// Text helpers: see text.h.

#include "runtime/core/text.h"

namespace qzr {

std::string_view TrimLeft(std::string_view text, std::string_view strip) {
  const size_t start = text.find_first_not_of(strip);
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

std::string_view TrimRight(std::string_view text, std::string_view strip) {
  const size_t last = text.find_last_not_of(strip);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text, std::string_view strip) {
  return TrimRight(TrimLeft(text, strip), strip);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(std::string_view text, std::string_view word) {
  for (size_t at = 0; at + word.size() <= text.size(); ++at) {
    if (EqualNoCase(text.substr(at, word.size()), word)) return at;
  }
  return std::string_view::npos;
}

size_t Utf8Prefix(std::string_view text, size_t chars) {
  size_t i = 0;
  for (size_t c = 0; c < chars && i < text.size(); ++c) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t len = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
    size_t k = 1;
    while (k < len && i + k < text.size() && (static_cast<uint8_t>(text[i + k]) & 0xC0) == 0x80) {
      ++k;
    }
    i += k;
  }
  return i;
}

size_t Utf8Length(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) i += Utf8Prefix(text.substr(i), 1);
  return count;
}

std::string_view Utf8Cut(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t n = max_bytes;
  for (int back = 0; n > 0 && back < 3 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80; ++back) {
    --n;
  }
  return text.substr(0, n);
}

size_t DecodeUtf8(std::string_view text, uint32_t* cp) {
  if (text.empty()) return 0;
  const auto b = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = b(0);
  size_t len;
  uint32_t min;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, min = 0x80, *cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, min = 0x800, *cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, min = 0x10000, *cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (b(i) & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return len;
}

size_t InvalidUtf8At(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(text.substr(i), &cp);
    if (len == 0) return i;
    i += len;
  }
  return std::string_view::npos;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendPercentEscape(uint8_t byte, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  *out += '%';
  *out += kHex[byte >> 4];
  *out += kHex[byte & 0xF];
}

int PercentEscapeAt(std::string_view text, size_t at) {
  if (at >= text.size() || text.size() - at < 3 || text[at] != '%') return -1;
  const int hi = HexDigitValue(text[at + 1]);
  const int lo = HexDigitValue(text[at + 2]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace qzr
