// Simple case folding over the generated table of runs.

#include "runtime/core/case_fold.h"

#include <algorithm>
#include <iterator>

#include "runtime/core/case_fold_table.h"
#include "runtime/core/text.h"

namespace qzr {
namespace {

using case_fold_internal::FoldRun;
using case_fold_internal::kFoldRuns;

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
    const size_t len = DecodeUtf8(text.substr(i), &cp);
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
