// The quick find's settings and record filter.

#include "app/quick_find.h"

#include <array>
#include <cstring>
#include <mutex>

#include "app/func_file.h"
#include "runtime/locale_data.h"
#include "runtime/picture.h"

namespace qzr {
namespace {

std::mutex g_mu;
QuickFindSettings g_settings;

std::string_view ClipTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// True when `needle` occurs in `hay`, comparing each byte of `hay` through
// `fold` (the needle is given folded already). Horspool's skip over folded
// bytes keeps a miss over a long code text cheap.
bool FoldedContains(std::string_view hay, std::string_view needle,
                    const std::array<uint8_t, 256>* fold) {
  size_t n = needle.size();
  if (n == 0 || n > hay.size()) return false;
  if (fold == nullptr) return hay.find(needle) != std::string_view::npos;
  std::array<size_t, 256> skip;
  skip.fill(n);
  for (size_t i = 0; i + 1 < n; ++i) skip[static_cast<uint8_t>(needle[i])] = n - 1 - i;
  const auto& f = *fold;
  const uint8_t* h = reinterpret_cast<const uint8_t*>(hay.data());
  const uint8_t* p = reinterpret_cast<const uint8_t*>(needle.data());
  const uint8_t last = p[n - 1];
  for (size_t at = 0; at + n <= hay.size();) {
    uint8_t c = f[h[at + n - 1]];
    if (c == last) {
      size_t i = 0;
      while (i + 1 < n && f[h[at + i]] == p[i]) ++i;
      if (i + 1 >= n) return true;
    }
    at += skip[c];
  }
  return false;
}

}  // namespace

QuickFindSettings GlobalQuickFind() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_settings;
}

void SetGlobalQuickFind(const QuickFindSettings& settings) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_settings = settings;
  if (g_settings.text.size() > kGlobalFindTextSize) {
    g_settings.text.resize(CutAtCharBoundary(g_settings.text, kGlobalFindTextSize).size());
  }
}

void ClearGlobalQuickFind() {
  SetGlobalQuickFind(QuickFindSettings());
}

bool FindTextHasDigit(std::string_view text) {
  for (char c : ClipTrailingBlanks(text)) {
    if (c >= '0' && c <= '9') return true;
  }
  return false;
}

std::string UpperCaseText(std::string_view text) {
  const auto& upper = Locale().upper;
  std::string out(text);
  for (char& c : out) c = static_cast<char>(upper[static_cast<uint8_t>(c)]);
  return out;
}

QuickFindSettings MakeQuickFind(std::string_view text, bool ignore_case, bool include_memo) {
  QuickFindSettings s;
  std::string_view cut = CutAtCharBoundary(text, kFindTextSize);
  s.text = ignore_case ? UpperCaseText(cut) : std::string(cut);
  s.active = true;
  s.ignore_case = ignore_case;
  s.include_memo = include_memo;
  s.has_digit = FindTextHasDigit(s.text);
  return s;
}

bool QuickFindPasses(const FileDescriptor& func, const QuickFindSettings& settings) {
  if (!settings.active) return true;
  std::string_view needle = ClipTrailingBlanks(settings.text);
  const std::array<uint8_t, 256>* fold = settings.ignore_case ? &Locale().upper : nullptr;

  std::string_view record(reinterpret_cast<const char*>(func.record.data()), func.record.size());
  if (FoldedContains(record, needle, fold)) return true;

  if (settings.has_digit) {
    static const CompiledPicture kIdPicture = CompilePicture("@n-14");
    static const CompiledPicture kFullCodePicture = CompilePicture("@n3");
    int32_t id = 0;
    std::memcpy(&id, func.FieldData(kFunId), sizeof id);
    if (Format(kIdPicture, static_cast<int64_t>(id)).find(needle) != std::string::npos &&
        !needle.empty()) {
      return true;
    }
    int64_t full = *func.FieldData(kFunFullCode);
    if (!needle.empty() && Format(kFullCodePicture, full).find(needle) != std::string::npos) {
      return true;
    }
  }

  if (settings.include_memo && !func.memo_values.empty()) {
    std::string_view code = func.memo_values[kFunExampleCode];
    if (code.size() > kFunExampleCodeSize) code = code.substr(0, kFunExampleCodeSize);
    if (FoldedContains(code, needle, fold)) return true;
  }
  return false;
}

}  // namespace qzr
