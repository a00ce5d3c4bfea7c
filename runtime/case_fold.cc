// Simple case folding over the generated table of runs.

#include "runtime/case_fold.h"

#include <algorithm>
#include <iterator>

#include "runtime/case_fold_table.h"

namespace qzr {
namespace {

using case_fold_internal::FoldRun;
using case_fold_internal::kFoldRuns;

// Decodes one UTF-8 sequence at the start of `s`: the code point and its
// length, or length 0 when the bytes are not a well-formed sequence
// (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeOne(std::string_view s, uint32_t* cp) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
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
  if (s.size() < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (b(i) & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return len;
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

}  // namespace

uint32_t SimpleCaseFold(uint32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
  // The last run that starts at or before cp.
  const FoldRun* end = std::end(kFoldRuns);
  const FoldRun* run = std::upper_bound(std::begin(kFoldRuns), end, cp,
                                        [](uint32_t c, const FoldRun& r) { return c < r.first; });
  if (run == std::begin(kFoldRuns)) return cp;
  --run;
  if (cp > run->last) return cp;
  if (run->stride > 1 && (cp - run->first) % run->stride != 0) return cp;
  return static_cast<uint32_t>(static_cast<int64_t>(cp) + run->delta);
}

void AppendFoldedCase(std::string_view text, std::string* out) {
  out->reserve(out->size() + text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c < 0x80) {
      out->push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t len = DecodeOne(text.substr(i), &cp);
    if (len == 0) {
      out->push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    const uint32_t folded = SimpleCaseFold(cp);
    if (folded == cp) {
      out->append(text.substr(i, len));
    } else {
      AppendUtf8(folded, out);
    }
    i += len;
  }
}

std::string FoldCase(std::string_view text) {
  std::string out;
  AppendFoldedCase(text, &out);
  return out;
}

bool EqualsFoldedCase(std::string_view a, std::string_view b) {
  return FoldCase(a) == FoldCase(b);
}

}  // namespace qzr
