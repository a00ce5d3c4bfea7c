// Guessing the programming language of a piece of code from its content, so
// that a code view can pick a highlighter. Catalogue entries carry no
// language field; the guess looks at a shebang line and at tell-tale tokens.
//
// The guess is a score over a table of markers (line starts, line ends and
// tokens anywhere), looking at the first kGuessWindow bytes only: a long
// memo is decided by its beginning, and the cost stays bounded. A text that
// scores too little for every language is plain text. The function never
// fails: any bytes, invalid UTF-8 included, give some answer.
//
// Threads: pure functions, callable from any thread.

#ifndef QZR_UI_CODE_LANGUAGE_H_
#define QZR_UI_CODE_LANGUAGE_H_

#include <cstddef>
#include <string_view>

namespace qzr {

enum class CodeLanguage {
  kPlainText,
  kCpp,  // C and C++
  kPython,
  kJavaScript,  // JavaScript and TypeScript
  kJava,
  kCSharp,
  kSql,
  kShell,
};

inline constexpr size_t kGuessWindow = 16 * 1024;

CodeLanguage GuessCodeLanguage(std::string_view code);

// A short name for traces and tests: "plain", "cpp", "python", "javascript",
// "java", "csharp", "sql", "shell".
std::string_view CodeLanguageName(CodeLanguage language);

}  // namespace qzr

#endif  // QZR_UI_CODE_LANGUAGE_H_
