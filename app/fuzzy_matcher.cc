// FuzzyMatcher: the score table and the word scoring.

#include "app/fuzzy_matcher.h"

#include "runtime/settings/locale_data.h"

namespace qzr {
namespace {

constexpr uint8_t kBaseRows[kMatcherMaxWords][kMatcherMaxWords] = {
    {100},
    {65, 35},
    {50, 30, 20},
    {40, 30, 20, 10},
    {34, 27, 20, 13, 6},
    {29, 24, 19, 14, 9, 5},
    {25, 21, 17, 14, 11, 8, 4},
    {20, 18, 15, 14, 11, 10, 7, 5},
    {20, 17, 15, 13, 11, 9, 7, 5, 3},
    {19, 17, 15, 13, 11, 9, 7, 5, 3, 1},
};

std::string Fold(std::string_view text, bool nocase) {
  return nocase ? LocaleUpper(text) : std::string(text);
}

bool IsWordByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
         u == '_';
}

// 1-based position of `word` in `doc` (whole words only when asked), or 0.
size_t Find(const std::string& doc, const std::string& word, bool whole) {
  size_t at = doc.find(word);
  while (at != std::string::npos) {
    bool left = at == 0 || !IsWordByte(doc[at - 1]);
    size_t end = at + word.size();
    bool right = end >= doc.size() || !IsWordByte(doc[end]);
    if (!whole || (left && right)) return at + 1;
    at = doc.find(word, at + 1);
  }
  return 0;
}

}  // namespace

FuzzyMatcher::FuzzyMatcher() {
  for (int r = 0; r < kMatcherMaxWords; ++r) {
    for (int c = 0; c < kMatcherMaxWords; ++c) BASEVALUE[r][c] = kBaseRows[r][c];
  }
}

void FuzzyMatcher::Init() {
  std::lock_guard<std::mutex> lock(CRITSECT);
  NOCASE = 0;
  WORDONLY = 0;
  DOC.clear();
  QUERY.clear();
  QWORDPOS.clear();
  WORDS.clear();
  RES = RESULTINDEX = RET = RETURNINDEX = WORDCNT = 0;
  RETURNINDEXDONE = 0;
}

void FuzzyMatcher::Kill() {
  std::lock_guard<std::mutex> lock(CRITSECT);
  DOC.clear();
  QUERY.clear();
  QWORDPOS.clear();
  WORDS.clear();
}

void FuzzyMatcher::SetOption(int option, int value) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  if (option == kMatchOptionNoCase) NOCASE = value != 0 ? 1 : 0;
  if (option == kMatchOptionWordOnly) WORDONLY = value != 0 ? 1 : 0;
}

int FuzzyMatcher::GetOption(int option) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  if (option == kMatchOptionNoCase) return NOCASE;
  if (option == kMatchOptionWordOnly) return WORDONLY;
  return 0;
}

int FuzzyMatcher::Match(std::string_view document, std::string_view query) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  DOC = Fold(document, NOCASE != 0);
  QUERY = Fold(query, NOCASE != 0);
  WORDS.clear();
  size_t i = 0;
  while (i < QUERY.size() && static_cast<int>(WORDS.size()) < kMatcherMaxWords) {
    while (i < QUERY.size() && QUERY[i] == ' ') ++i;
    size_t start = i;
    while (i < QUERY.size() && QUERY[i] != ' ') ++i;
    if (i > start) WORDS.push_back(QUERY.substr(start, i - start));
  }
  WORDCNT = static_cast<int32_t>(WORDS.size());
  QWORDPOS.assign(WORDS.size(), 0);
  RES = 0;
  for (size_t w = 0; w < WORDS.size(); ++w) {
    QWORDPOS[w] = static_cast<int32_t>(Find(DOC, WORDS[w], WORDONLY != 0));
    if (QWORDPOS[w] != 0) RES += BASEVALUE[static_cast<size_t>(WORDCNT - 1)][w];
  }
  RET = RES;
  return RES;
}

}  // namespace qzr
