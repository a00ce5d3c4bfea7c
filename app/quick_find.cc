// The quick find's settings and record filter.

#include "app/quick_find.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "app/func_file.h"
#include "runtime/core/case_fold.h"
#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"

namespace qzr {
namespace {

std::mutex g_mu;
QuickFindSettings g_settings;

// Appends `text` folded as AppendFoldedCase folds it, ASCII eight bytes at a
// time (A-Z to a-z); from the first byte past ASCII on, through
// AppendFoldedCase itself (folding goes character by character, and every
// byte before was a whole character).
void AppendFoldedQuickly(std::string_view text, std::string* out) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const size_t start = out->size();
  out->resize(start + text.size());
  char* to = out->data() + start;
  size_t i = 0;
  while (i < text.size()) {
    if (i + 8 <= text.size()) {
      uint64_t w;
      std::memcpy(&w, text.data() + i, sizeof w);
      if ((w & kHigh) == 0) {
        // A byte's high bit after adding: >= 'A' in the first sum, > 'Z'
        // in the second (no byte carries: each is below 0x80).
        const uint64_t upper = (w + kOnes * (0x80 - 'A')) & ~(w + kOnes * (0x80 - 'Z' - 1)) & kHigh;
        w |= upper >> 2;
        std::memcpy(to, &w, sizeof w);
        to += 8;
        i += 8;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) break;
    *to++ = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    ++i;
  }
  out->resize(static_cast<size_t>(to - out->data()));
  if (i < text.size()) AppendFoldedCase(text.substr(i), out);
}

// A CSTRING field of the record: its bytes up to the terminator.
std::string_view TextField(const FileDescriptor& func, int field, size_t size) {
  const char* data = reinterpret_cast<const char*>(func.FieldData(field));
  return std::string_view(data, strnlen(data, size));
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
    g_settings.text.resize(Utf8Cut(g_settings.text, kGlobalFindTextSize).size());
    g_settings.folded.clear();
  }
}

void ClearGlobalQuickFind() {
  SetGlobalQuickFind(QuickFindSettings());
}

bool FindTextHasDigit(std::string_view text) {
  for (char c : TrimRight(text, kSpaces)) {
    if (c >= '0' && c <= '9') return true;
  }
  return false;
}

QuickFindSettings MakeQuickFind(std::string_view text, bool ignore_case, bool include_memo) {
  QuickFindSettings s;
  std::string_view cut = Utf8Cut(text, kFindTextSize);
  s.text = ignore_case ? LocaleUpper(cut) : std::string(cut);
  if (ignore_case) s.folded = FoldCase(cut);
  s.active = true;
  s.ignore_case = ignore_case;
  s.include_memo = include_memo;
  s.has_digit = FindTextHasDigit(s.text);
  return s;
}

bool QuickFindContains(std::string_view hay, std::string_view needle, bool ignore_case) {
  if (needle.empty()) return false;
  if (!ignore_case) return hay.find(needle) != std::string_view::npos;
  // Folding may change a text's length in bytes, so the needle is looked
  // for in the folded haystack rather than compared position by position.
  thread_local std::string folded;
  folded.clear();
  AppendFoldedQuickly(hay, &folded);
  return std::string_view(folded).find(needle) != std::string_view::npos;
}

bool QuickFindPasses(const FileDescriptor& func, const QuickFindSettings& settings) {
  if (!settings.active) return true;
  std::string folded_needle;
  std::string_view needle = TrimRight(settings.text, kSpaces);
  if (settings.ignore_case) {
    folded_needle = settings.folded.empty() ? FoldCase(needle) : settings.folded;
    needle = TrimRight(folded_needle, kSpaces);
  }
  if (needle.empty()) return false;
  const bool fold = settings.ignore_case;

  for (const auto& [field, size] : {std::pair{kFunName, kFunNameSize},
                                    {kFunDescription, kFunDescriptionSize},
                                    {kFunForumLink, kFunForumLinkSize},
                                    {kFunUser, kFunUserSize}}) {
    if (QuickFindContains(TextField(func, field, size), needle, fold)) return true;
  }

  if (settings.has_digit) {
    static const CompiledPicture kIdPicture = CompilePicture("@n-14");
    static const CompiledPicture kFullCodePicture = CompilePicture("@n3");
    int32_t id = 0;
    std::memcpy(&id, func.FieldData(kFunId), sizeof id);
    if (Format(kIdPicture, static_cast<int64_t>(id)).find(needle) != std::string::npos) {
      return true;
    }
    int64_t full = *func.FieldData(kFunFullCode);
    if (Format(kFullCodePicture, full).find(needle) != std::string::npos) return true;
  }

  if (settings.include_memo && !func.memo_values.empty()) {
    std::string_view code = func.memo_values[kFunExampleCode];
    if (code.size() > kFunExampleCodeSize) code = code.substr(0, kFunExampleCodeSize);
    if (QuickFindContains(code, needle, fold)) return true;
  }
  return false;
}

}  // namespace qzr
