// MATCH: comparing a text against a pattern in one of four modes, and the
// regular-expression search behind STRPOS.
//
// Regular expressions are written in the runtime's own small dialect and
// translated into PCRE2 syntax, then compiled (with the JIT where the library
// has one). The last compiled pattern is kept process-wide and reused when the
// next call has the same pattern and flags; it is replaced, under a mutex, by
// the next call with a different one. A thread matching with the old pattern
// keeps it alive through a shared reference, so replacement never pulls a
// pattern out from under a running match. The other modes keep no state.
//
// Regular-expression dialect:
//   ^ start   $ end   . any character   * + ? repetition   | alternatives
//   { } grouping   [ ] a character class with - ranges, negated by ^ or ~
//   right after the [   \ takes the next character literally.
// Every other character stands for itself.

#ifndef QZR_RUNTIME_MATCH_H_
#define QZR_RUNTIME_MATCH_H_

#include <optional>
#include <string>
#include <string_view>

namespace qzr {

// Mode values of MATCH: bits 0..3 select the kind, bit 4 drops case.
inline constexpr int kMatchSimple = 0;
inline constexpr int kMatchWild = 1;
inline constexpr int kMatchRegular = 2;
inline constexpr int kMatchSoundex = 3;
inline constexpr int kMatchNoCase = 16;

// Returns true iff `text` matches `pattern` in `mode`.
//  - simple: both without trailing spaces are equal;
//  - wildcard: "*" matches any run of characters, "?" any one character;
//  - regular: the pattern is found somewhere in the text;
//  - sound-alike: both have the same Soundex code.
// Trailing spaces of the text are ignored in every mode, since the text is
// often a space-padded STRING field; those of the pattern are ignored in all
// but the regular mode, where a space can be meaningful. A kind above 3 is
// compared as simple. An invalid regular expression matches nothing. A
// regular expression that needs more backtracking than the match limit
// allows gives up: false, with *limit_hit set (when given), so a caller can
// tell "no match" from "could not decide".
bool Match(std::string_view text, std::string_view pattern, int mode, bool* limit_hit = nullptr);

// The 1-based position of the first match of the regular expression
// `pattern` in `text`, 0 when there is none or the pattern is invalid (or,
// with *limit_hit set, when the search hit the match limit).
int RegexPosition(std::string_view text, std::string_view pattern, bool no_case,
                  bool* limit_hit = nullptr);

// The PCRE2 form of a pattern in the dialect above; nullopt when the pattern
// is malformed in a way the translation can see (an unclosed class or group).
std::optional<std::string> TranslateRegex(std::string_view pattern);

}  // namespace qzr

#endif  // QZR_RUNTIME_MATCH_H_
