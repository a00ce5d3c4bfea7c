// FuzzyMatcher: the program-wide matcher of typed text against documents,
// with its table of base scores.
//
// The matcher keeps the query and document it works on and the words and
// scores of the last comparison in its upper-case fields. BASEVALUE is the
// score table: row n (1..10) holds the scores given to the 1st .. nth word
// of an n-word query, so that earlier words weigh more; the rest of a row is
// 0. Option 1 (NOCASE) compares without regard to case, option 2 (WORDONLY)
// matches whole words only.
//
// Match(document, query) gives a score of 0..100: the query is split into
// words (at most ten count); each word found in the document adds its
// BASEVALUE score for the query's word count. That scoring is the program's
// own choice; nothing outside the matcher depends on it.
//
// Threads: one matcher serves the process; Init, SetOption and Match run
// under CRITSECT, so threads may share it.

#ifndef QZR_APP_FUZZY_MATCHER_H_
#define QZR_APP_FUZZY_MATCHER_H_

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qzr {

inline constexpr int kMatchOptionNoCase = 1;
inline constexpr int kMatchOptionWordOnly = 2;
inline constexpr int kMatcherMaxWords = 10;

class FuzzyMatcher {
 public:
  // Fills BASEVALUE.
  FuzzyMatcher();
  FuzzyMatcher(const FuzzyMatcher&) = delete;
  FuzzyMatcher& operator=(const FuzzyMatcher&) = delete;

  // Both options off; the working fields emptied.
  void Init();
  // Empties the working fields.
  void Kill();
  // Option 1 or 2: any non-zero value stores 1. Other options are ignored.
  void SetOption(int option, int value);
  int GetOption(int option);
  // The score (0..100) of `query` against `document`.
  int Match(std::string_view document, std::string_view query);

  // BASEVALUE[n-1][i-1]: the score of word i of an n-word query.
  std::array<std::array<uint8_t, kMatcherMaxWords>, kMatcherMaxWords> BASEVALUE{};
  uint8_t NOCASE = 0;
  uint8_t WORDONLY = 0;
  std::string DOC;
  std::string QUERY;
  std::vector<int32_t> QWORDPOS;  // where each query word was found (1-based; 0 none)
  int32_t RES = 0;                // the score of the last Match
  int32_t RESULTINDEX = 0;
  int32_t RET = 0;
  int32_t RETURNINDEX = 0;
  uint8_t RETURNINDEXDONE = 0;
  int32_t WORDCNT = 0;             // words in QUERY (at most 10)
  std::vector<std::string> WORDS;  // the query's words

  std::mutex CRITSECT;
};

}  // namespace qzr

#endif  // QZR_APP_FUZZY_MATCHER_H_
