// The quick find's settings and record filter.

#include "app/quick_find.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// ASCII A-Z to a-z, every other byte as it is.
inline uint8_t FoldAscii(uint8_t c) {
  return static_cast<uint8_t>(c | (static_cast<uint8_t>(c - 'A') < 26 ? 0x20 : 0));
}

// True iff every byte of `text` is ASCII.
bool AllAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The answer QuickFindContains gives for ignore_case when `needle` (folded,
// not empty) is all ASCII, without folding `hay` into a copy: positions
// where the needle's first and last bytes both match, sixteen at a time,
// are compared in full, folding as they go. Returns 1 (found), 0 (not
// found) or -1 when a byte past ASCII comes before the answer is known:
// from there the folding goes character by character (a letter past ASCII
// may fold to an ASCII one, the KELVIN SIGN to "k"), and the caller folds.
// Every byte before a match found is ASCII, so a match here is one in the
// folded text.
int FindFoldedAscii(std::string_view hay, std::string_view needle) {
  const auto* h = reinterpret_cast<const uint8_t*>(hay.data());
  const auto* nd = reinterpret_cast<const uint8_t*>(needle.data());
  const size_t n = hay.size();
  const size_t m = needle.size();
  if (m > n) return AllAscii(hay) ? 0 : -1;
  // Bytes 1 .. m-2 of the needle at p (the first and last already match).
  auto middle_matches = [&](size_t p) {
    for (size_t k = 1; k + 1 < m; ++k) {
      if (FoldAscii(h[p + k]) != nd[k]) return false;
    }
    return true;
  };
  size_t p = 0;
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(static_cast<char>(nd[0]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(nd[m - 1]));
  const __m128i before_a = _mm_set1_epi8('A' - 1);
  const __m128i after_z = _mm_set1_epi8('Z' + 1);
  const __m128i case_bit = _mm_set1_epi8(0x20);
  // Bytes below 0x80 compare as signed bytes the same as unsigned ones, and
  // no block holding another byte gets that far.
  auto fold = [&](__m128i v) {
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, before_a), _mm_cmplt_epi8(v, after_z));
    return _mm_or_si128(v, _mm_and_si128(upper, case_bit));
  };
  // Blocks at p (first bytes) and p + m - 1 (last bytes): between them they
  // have covered every byte before p + m + 15 once checked here.
  for (; p + m - 1 + 16 <= n; p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p + m - 1));
    if (_mm_movemask_epi8(_mm_or_si128(a, b)) != 0) return -1;
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(fold(a), first), _mm_cmpeq_epi8(fold(b), last))));
    while (hits != 0) {
      if (middle_matches(p + static_cast<size_t>(__builtin_ctz(hits)))) return 1;
      hits &= hits - 1;
    }
  }
#endif
  if (!AllAscii(hay.substr(p))) return -1;
  for (; p + m <= n; ++p) {
    if (FoldAscii(h[p]) == nd[0] && FoldAscii(h[p + m - 1]) == nd[m - 1] && middle_matches(p)) {
      return 1;
    }
  }
  return 0;
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
  // An ASCII needle in ASCII text (nearly every catalogue text) is looked
  // for in place.
  if (AllAscii(needle)) {
    const int found = FindFoldedAscii(hay, needle);
    if (found >= 0) return found == 1;
  }
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
