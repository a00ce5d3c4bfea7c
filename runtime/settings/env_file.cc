// Reading the environment file. See env_file.h for the format.

#include "runtime/settings/env_file.h"

#include <cstdint>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"

namespace qzr {
namespace {

bool IsFieldSeparator(char c) {
  return c == ' ' || c == ',';
}

// Decodes a "<n" escape at value[*i] == '<' into `out` and advances *i past
// it. A "<" without digits, or with a code the mode cannot write (above 255
// for bytes, beyond Unicode or a surrogate for UTF-8), stands for itself.
void DecodeEscape(std::string_view value, size_t* i, EnvEscapes escapes, std::string* out) {
  size_t j = *i + 1;
  uint32_t code = 0;
  bool too_big = false;
  while (j < value.size() && value[j] >= '0' && value[j] <= '9') {
    if (code > 0x10FFFF) {
      too_big = true;
    } else {
      code = code * 10 + static_cast<uint32_t>(value[j] - '0');
    }
    ++j;
  }
  const bool has_digits = j > *i + 1;
  const bool fits = escapes == EnvEscapes::kBytes
                        ? code <= 255
                        : code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  if (!has_digits || too_big || !fits) {
    out->push_back('<');
    ++*i;
    return;
  }
  if (escapes == EnvEscapes::kBytes) {
    out->push_back(static_cast<char>(code));
  } else {
    AppendUtf8(code, out);
  }
  *i = j;
}

// Codes 128..255 of code page 437.
constexpr uint16_t kOem437High[128] = {
    0xC7,   0xFC,   0xE9,   0xE2,   0xE4,   0xE0,   0xE5,   0xE7,   0xEA,   0xEB,   0xE8,   0xEF,
    0xEE,   0xEC,   0xC4,   0xC5,   0xC9,   0xE6,   0xC6,   0xF4,   0xF6,   0xF2,   0xFB,   0xF9,
    0xFF,   0xD6,   0xDC,   0xA2,   0xA3,   0xA5,   0x20A7, 0x192,  0xE1,   0xED,   0xF3,   0xFA,
    0xF1,   0xD1,   0xAA,   0xBA,   0xBF,   0x2310, 0xAC,   0xBD,   0xBC,   0xA1,   0xAB,   0xBB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x3B1,  0xDF,   0x393,  0x3C0,  0x3A3,  0x3C3,  0xB5,   0x3C4,  0x3A6,  0x398,  0x3A9,  0x3B4,
    0x221E, 0x3C6,  0x3B5,  0x2229, 0x2261, 0xB1,   0x2265, 0x2264, 0x2320, 0x2321, 0xF7,   0x2248,
    0xB0,   0x2219, 0xB7,   0x221A, 0x207F, 0xB2,   0x25A0, 0xA0};

}  // namespace

std::vector<EnvEntry> ParseEnvFile(std::string_view bytes) {
  if (const size_t eof = bytes.find('\x1A'); eof != std::string_view::npos) {
    bytes = bytes.substr(0, eof);
  }
  std::vector<EnvEntry> entries;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    EnvEntry entry;
    for (char c : line.substr(0, eq)) {
      if (c == ' ') continue;
      entry.key.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
    }
    if (entry.key.empty() || Utf8Length(entry.key) > kMaxEnvKey) continue;
    std::string_view value = line.substr(eq + 1);
    value = value.substr(0, Utf8Prefix(value, kMaxEnvValue));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
      value.remove_suffix(1);
    }
    entry.value = std::string(value);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> SplitEnvFields(std::string_view value, EnvEscapes escapes) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && IsFieldSeparator(value[i])) ++i;
    if (i >= value.size()) break;
    std::string field;
    if (value[i] == '"') {
      ++i;
      while (i < value.size()) {
        if (value[i] == '"') {
          if (i + 1 < value.size() && value[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (value[i] == '<') {
          DecodeEscape(value, &i, escapes, &field);
        } else {
          field.push_back(value[i++]);
        }
      }
    }
    // Unquoted text, or whatever follows a closing quote up to the next
    // separator, belongs to the same field.
    while (i < value.size() && !IsFieldSeparator(value[i])) {
      if (value[i] == '<') {
        DecodeEscape(value, &i, escapes, &field);
      } else {
        field.push_back(value[i++]);
      }
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

std::string DecodeEnvText(std::string_view value, EnvEscapes escapes) {
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  std::string out;
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (quoted) value = value.substr(1, value.size() - 2);
  size_t i = 0;
  while (i < value.size()) {
    if (quoted && value[i] == '"' && i + 1 < value.size() && value[i + 1] == '"') {
      out.push_back('"');
      i += 2;
    } else if (value[i] == '<') {
      DecodeEscape(value, &i, escapes, &out);
    } else {
      out.push_back(value[i++]);
    }
  }
  return out;
}

std::string EnvFilePathFor(std::string_view program_path) {
  const size_t dir = program_path.find_last_of("/\\:");
  const size_t start = dir == std::string_view::npos ? 0 : dir + 1;
  const size_t dot = program_path.rfind('.');
  std::string path(program_path);
  if (dot != std::string_view::npos && dot >= start) path.resize(dot);
  return path + ".ENV";
}

std::string OemToUtf8(std::string_view oem) {
  std::string out;
  out.reserve(oem.size());
  for (char ch : oem) {
    const auto b = static_cast<uint8_t>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      AppendUtf8(kOem437High[b - 0x80], &out);
    }
  }
  return out;
}

}  // namespace qzr
