// MATCH in its four modes and the cached regular-expression search.

#define PCRE2_CODE_UNIT_WIDTH 8
#include "runtime/core/match.h"

#include <pcre2.h>

#include <cctype>
#include <memory>
#include <mutex>

#include "runtime/core/soundex.h"
#include "runtime/core/text.h"
#include "runtime/settings/locale_data.h"

namespace qzr {
namespace {

// Case folding through the locale's upper-case table, so that letters above
// 127 that the environment declares fold as well.
struct Folder {
  explicit Folder(bool no_case) : upper(no_case ? &Locale().upper : nullptr) {}
  unsigned char operator()(char c) const {
    auto u = static_cast<unsigned char>(c);
    return upper ? (*upper)[u] : u;
  }
  const std::array<uint8_t, 256>* upper;
};

bool SimpleMatch(std::string_view text, std::string_view pattern, const Folder& fold) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (fold(text[i]) != fold(pattern[i])) return false;
  }
  return true;
}

// Iterative wildcard match: on a mismatch, go back to the last "*" and let it
// swallow one more character. Linear in practice, O(n*m) at worst, no
// recursion, so no pattern can exhaust the stack.
bool WildMatch(std::string_view text, std::string_view pattern, const Folder& fold) {
  size_t t = 0, p = 0;
  size_t star = std::string_view::npos, star_t = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_t = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Appends `c` so that PCRE2 reads it literally. Letters and digits stand for
// themselves (escaping them would give them a meaning); any other ASCII
// character may be escaped; bytes above 127 and control characters are
// written as \x{..} so that no byte of the pattern is left to interpretation.
void AppendLiteral(std::string& out, char c) {
  auto u = static_cast<unsigned char>(c);
  if (IsAsciiAlnum(c)) {
    out += c;
  } else if (u < 0x20 || u >= 0x7f) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x{";
    out += kHex[u >> 4];
    out += kHex[u & 15];
    out += '}';
  } else {
    out += '\\';
    out += c;
  }
}

// A compiled pattern with what it was compiled from.
struct CompiledRegex {
  std::string pattern;
  bool no_case = false;
  pcre2_code* code = nullptr;  // null when the pattern did not compile
  ~CompiledRegex() {
    if (code) pcre2_code_free(code);
  }
};

std::mutex g_regex_mutex;
std::shared_ptr<const CompiledRegex> g_last_regex;  // guarded by g_regex_mutex

std::shared_ptr<const CompiledRegex> CompiledFor(std::string_view pattern, bool no_case) {
  {
    std::lock_guard<std::mutex> lock(g_regex_mutex);
    if (g_last_regex && g_last_regex->no_case == no_case && g_last_regex->pattern == pattern) {
      return g_last_regex;
    }
  }
  auto compiled = std::make_shared<CompiledRegex>();
  compiled->pattern.assign(pattern);
  compiled->no_case = no_case;
  if (auto translated = TranslateRegex(pattern)) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    // DOTALL: "." is any character, line breaks in memo-like text included.
    // DOLLAR_ENDONLY: "$" is the end of the text, not before a final newline.
    uint32_t options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY | (no_case ? PCRE2_CASELESS : 0);
    compiled->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated->data()),
                                   translated->size(), options, &error, &offset, nullptr);
    if (compiled->code) pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);  // optional
  }
  std::lock_guard<std::mutex> lock(g_regex_mutex);
  g_last_regex = compiled;
  return compiled;
}

// Per-thread match data and limits, made on a thread's first search and then
// reused, so that repeated searches do not allocate.
struct MatchScratch {
  MatchScratch() {
    data = pcre2_match_data_create(1, nullptr);
    context = pcre2_match_context_create(nullptr);
    // A pathological pattern gives up (as no match) instead of running for
    // minutes on a long text.
    if (context) pcre2_set_match_limit(context, 1000000);
  }
  ~MatchScratch() {
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
  }
  pcre2_match_data* data;
  pcre2_match_context* context;
};

// Offset of the first match, or -1 (*limit_hit set when the search gave up
// at one of the engine's limits rather than finding no match).
long RegexSearch(std::string_view text, std::string_view pattern, bool no_case, bool* limit_hit) {
  if (limit_hit != nullptr) *limit_hit = false;
  std::shared_ptr<const CompiledRegex> compiled = CompiledFor(pattern, no_case);
  if (!compiled->code) return -1;
  thread_local MatchScratch scratch;
  if (!scratch.data) return -1;
  int rc = pcre2_match(compiled->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                       scratch.data, scratch.context);
  if (rc < 0) {
    const bool limit = rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                       rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
                       rc == PCRE2_ERROR_NOMEMORY;
    if (limit && limit_hit != nullptr) *limit_hit = true;
    return -1;
  }
  return static_cast<long>(pcre2_get_ovector_pointer(scratch.data)[0]);
}

}  // namespace

std::optional<std::string> TranslateRegex(std::string_view pattern) {
  std::string out;
  out.reserve(pattern.size() * 2);
  int groups = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    switch (c) {
      case '^':
      case '$':
      case '.':
      case '*':
      case '+':
      case '?':
      case '|':
        out += c;
        break;
      case '{':
        out += "(?:";
        ++groups;
        break;
      case '}':
        if (groups == 0) return std::nullopt;
        out += ')';
        --groups;
        break;
      case '\\':
        // A trailing backslash stands for itself.
        AppendLiteral(out, i + 1 < pattern.size() ? pattern[++i] : '\\');
        break;
      case '[': {
        out += '[';
        ++i;
        if (i < pattern.size() && (pattern[i] == '^' || pattern[i] == '~')) {
          out += '^';
          ++i;
        }
        // A "]" first in the class is a member, not the end.
        bool first = true;
        for (;; ++i, first = false) {
          if (i >= pattern.size()) return std::nullopt;
          char m = pattern[i];
          if (m == ']' && !first) break;
          if (m == '-' && !first && i + 1 < pattern.size() && pattern[i + 1] != ']') {
            out += '-';
          } else if (m == '\\' && i + 1 < pattern.size()) {
            AppendLiteral(out, pattern[++i]);
          } else {
            AppendLiteral(out, m);
          }
        }
        out += ']';
        break;
      }
      default:
        AppendLiteral(out, c);
    }
  }
  if (groups != 0) return std::nullopt;
  return out;
}

bool Match(std::string_view text, std::string_view pattern, int mode, bool* limit_hit) {
  if (limit_hit != nullptr) *limit_hit = false;
  text = TrimRight(text, kSpaces);
  bool no_case = (mode & kMatchNoCase) != 0;
  switch (mode & 15) {
    case kMatchWild:
      return WildMatch(text, TrimRight(pattern, kSpaces), Folder(no_case));
    case kMatchRegular:
      return RegexSearch(text, pattern, no_case, limit_hit) >= 0;
    case kMatchSoundex:
      return Soundex(text) == Soundex(pattern);
    default:
      return SimpleMatch(text, TrimRight(pattern, kSpaces), Folder(no_case));
  }
}

int RegexPosition(std::string_view text, std::string_view pattern, bool no_case, bool* limit_hit) {
  long offset = RegexSearch(text, pattern, no_case, limit_hit);
  return offset < 0 ? 0 : static_cast<int>(offset + 1);
}

}  // namespace qzr
