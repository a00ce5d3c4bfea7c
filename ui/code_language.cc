// Guessing a code's language: see code_language.h.
//
// Each line (trimmed of blanks) is matched against the marker table; a marker
// counts at most once per line and adds its weight to its language. Markers
// shared between languages ("namespace", "=>", "import") carry small weights
// or a second condition, so that a distinctive token decides.

#include "ui/code_language.h"

#include <algorithm>
#include <array>
#include <string>

#include "runtime/core/text.h"

namespace qzr {
namespace {

enum class Where {
  kStart,  // the trimmed line starts with the text
  kEnd,    // the trimmed line ends with the text
  kAny,    // the text occurs in the line
  kWhole,  // the trimmed line is the text
};

struct Marker {
  CodeLanguage language;
  Where where;
  std::string_view text;
  int weight;
  bool nocase = false;           // compare ASCII letters without regard to case
  std::string_view also = {};    // the line must also contain this
  std::string_view unless = {};  // ... and must not end with this
};

using L = CodeLanguage;
using W = Where;

constexpr Marker kMarkers[] = {
    // C and C++
    {L::kCpp, W::kStart, "#include", 4},
    {L::kCpp, W::kStart, "#define", 3},
    {L::kCpp, W::kStart, "#ifndef", 2},
    {L::kCpp, W::kStart, "#ifdef", 2},
    {L::kCpp, W::kStart, "#endif", 2},
    {L::kCpp, W::kStart, "#pragma", 2},
    {L::kCpp, W::kAny, "std::", 3},
    {L::kCpp, W::kAny, "nullptr", 2},
    {L::kCpp, W::kAny, "printf(", 1},
    {L::kCpp, W::kAny, "->", 1},
    {L::kCpp, W::kStart, "template", 1, false, "<"},
    {L::kCpp, W::kAny, "int main(", 2},
    {L::kCpp, W::kAny, "cout <<", 3},
    {L::kCpp, W::kAny, "malloc(", 2},
    {L::kCpp, W::kAny, "sizeof(", 1},
    {L::kCpp, W::kAny, "unsigned ", 1},
    {L::kCpp, W::kAny, "::", 1},
    {L::kCpp, W::kStart, "namespace ", 1, false, "{"},
    {L::kCpp, W::kAny, "char *", 2},
    {L::kCpp, W::kAny, "void *", 2},
    // Python
    {L::kPython, W::kStart, "def ", 2, false, "):"},
    {L::kPython, W::kStart, "elif ", 3},
    {L::kPython, W::kStart, "except", 2, false, ":"},
    {L::kPython, W::kAny, "self.", 2},
    {L::kPython, W::kAny, "__init__", 3},
    {L::kPython, W::kAny, "__name__", 3},
    {L::kPython, W::kStart, "from ", 3, false, " import "},
    {L::kPython, W::kStart, "import ", 1, false, {}, ";"},
    {L::kPython, W::kStart, "class ", 1, false, "):"},
    {L::kPython, W::kEnd, ":", 1},
    {L::kPython, W::kAny, " None", 1},
    {L::kPython, W::kStart, "print(", 1, false, {}, ";"},
    // JavaScript and TypeScript
    {L::kJavaScript, W::kStart, "function ", 2},
    {L::kJavaScript, W::kAny, "function(", 2},
    {L::kJavaScript, W::kAny, "=>", 1},
    {L::kJavaScript, W::kStart, "const ", 1, false, " = "},
    {L::kJavaScript, W::kStart, "let ", 2},
    {L::kJavaScript, W::kAny, "console.log", 4},
    {L::kJavaScript, W::kAny, "document.", 2},
    {L::kJavaScript, W::kAny, "window.", 1},
    {L::kJavaScript, W::kAny, "require(", 2},
    {L::kJavaScript, W::kStart, "export ", 2},
    {L::kJavaScript, W::kStart, "module.exports", 3},
    {L::kJavaScript, W::kAny, "===", 2},
    {L::kJavaScript, W::kAny, "!==", 2},
    {L::kJavaScript, W::kStart, "import ", 3, false, " from "},
    {L::kJavaScript, W::kAny, ": string", 1},
    {L::kJavaScript, W::kAny, ": number", 2},
    // Java
    {L::kJava, W::kStart, "package ", 3, false, ";"},
    {L::kJava, W::kStart, "import java", 4},
    {L::kJava, W::kAny, "System.out.print", 4},
    {L::kJava, W::kAny, "public static void main", 3},
    {L::kJava, W::kStart, "@Override", 3},
    {L::kJava, W::kAny, " extends ", 1},
    {L::kJava, W::kAny, " implements ", 2},
    {L::kJava, W::kAny, "String[] ", 2},
    {L::kJava, W::kAny, "new ArrayList", 2},
    {L::kJava, W::kAny, " throws ", 2},
    // C#
    {L::kCSharp, W::kStart, "using System", 4},
    {L::kCSharp, W::kStart, "using ", 1, false, ";"},
    {L::kCSharp, W::kAny, "Console.Write", 4},
    {L::kCSharp, W::kAny, "{ get;", 3},
    {L::kCSharp, W::kAny, "get;", 1},
    {L::kCSharp, W::kAny, "string[] args", 3},
    {L::kCSharp, W::kStart, "namespace ", 1, false, {}, "{"},
    {L::kCSharp, W::kAny, "public override ", 2},
    {L::kCSharp, W::kAny, "foreach (", 2, false, " in "},
    {L::kCSharp, W::kAny, "async Task", 3},
    {L::kCSharp, W::kAny, "static void Main", 3},
    // SQL
    {L::kSql, W::kStart, "SELECT ", 3, true},
    {L::kSql, W::kStart, "INSERT INTO", 4, true},
    {L::kSql, W::kStart, "UPDATE ", 3, true, " SET "},
    {L::kSql, W::kStart, "DELETE FROM", 4, true},
    {L::kSql, W::kStart, "CREATE TABLE", 4, true},
    {L::kSql, W::kStart, "CREATE INDEX", 4, true},
    {L::kSql, W::kStart, "CREATE VIEW", 4, true},
    {L::kSql, W::kStart, "CREATE PROCEDURE", 4, true},
    {L::kSql, W::kStart, "ALTER TABLE", 4, true},
    {L::kSql, W::kStart, "DROP TABLE", 4, true},
    {L::kSql, W::kStart, "FROM ", 1, true},
    {L::kSql, W::kStart, "WHERE ", 2, true},
    {L::kSql, W::kAny, " JOIN ", 1, true},
    {L::kSql, W::kStart, "ORDER BY", 2, true},
    {L::kSql, W::kStart, "GROUP BY", 2, true},
    // Shell
    {L::kShell, W::kStart, "echo ", 2},
    {L::kShell, W::kWhole, "fi", 3},
    {L::kShell, W::kWhole, "done", 2},
    {L::kShell, W::kWhole, "esac", 3},
    {L::kShell, W::kWhole, "then", 2},
    {L::kShell, W::kEnd, "; then", 3},
    {L::kShell, W::kEnd, "; do", 2},
    {L::kShell, W::kStart, "if [", 3},
    {L::kShell, W::kStart, "set -e", 3},
    {L::kShell, W::kAny, "$(", 1},
    {L::kShell, W::kAny, "\"$", 1},
    {L::kShell, W::kStart, "export ", 1, false, "=", ";"},
};

// A language needs at least this score to be named.
constexpr int kThreshold = 3;
constexpr size_t kLanguages = static_cast<size_t>(CodeLanguage::kShell) + 1;

bool Matches(const Marker& m, std::string_view line, std::string_view upper) {
  std::string_view s = m.nocase ? upper : line;
  bool hit = false;
  switch (m.where) {
    case W::kStart:
      hit = StartsWith(s, m.text);
      break;
    case W::kEnd:
      hit = s.ends_with(m.text);
      break;
    case W::kAny:
      hit = s.find(m.text) != std::string_view::npos;
      break;
    case W::kWhole:
      hit = s == m.text;
      break;
  }
  if (!hit) return false;
  if (!m.also.empty() && s.find(m.also) == std::string_view::npos) return false;
  if (!m.unless.empty() && s.ends_with(m.unless)) return false;
  return true;
}

// A line without its leading blanks and its trailing blanks and carriage
// return.
std::string_view TrimLine(std::string_view s) {
  return TrimRight(TrimLeft(s, kBlanks), " \t\r");
}

// The interpreter named by a "#!" first line decides outright.
bool FromShebang(std::string_view first, CodeLanguage* out) {
  if (!StartsWith(first, "#!")) return false;
  auto has = [&](std::string_view w) { return first.find(w) != std::string_view::npos; };
  if (has("python")) {
    *out = L::kPython;
  } else if (has("node") || has("deno")) {
    *out = L::kJavaScript;
  } else if (has("sh")) {  // sh, bash, zsh, ksh, dash
    *out = L::kShell;
  } else {
    return false;
  }
  return true;
}

}  // namespace

CodeLanguage GuessCodeLanguage(std::string_view code) {
  code = code.substr(0, std::min(code.size(), kGuessWindow));
  // Skip leading blank lines for the shebang check.
  size_t first_start = code.find_first_not_of(" \t\r\n");
  if (first_start == std::string_view::npos) return L::kPlainText;
  std::string_view rest = code.substr(first_start);
  CodeLanguage decided;
  if (FromShebang(TrimLine(rest.substr(0, rest.find('\n'))), &decided)) return decided;

  std::array<int, kLanguages> score{};
  std::string upper;
  while (!rest.empty()) {
    size_t nl = rest.find('\n');
    std::string_view line = TrimLine(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (line.empty()) continue;
    upper = Upper(line);
    for (const Marker& m : kMarkers) {
      if (Matches(m, line, upper)) score[static_cast<size_t>(m.language)] += m.weight;
    }
  }
  // The highest score wins; on a tie the language listed first in the enum.
  size_t best = 0;
  for (size_t i = 1; i < kLanguages; ++i) {
    if (score[i] > score[best]) best = i;
  }
  if (best == 0 || score[best] < kThreshold) return L::kPlainText;
  return static_cast<CodeLanguage>(best);
}

std::string_view CodeLanguageName(CodeLanguage language) {
  switch (language) {
    case L::kPlainText:
      return "plain";
    case L::kCpp:
      return "cpp";
    case L::kPython:
      return "python";
    case L::kJavaScript:
      return "javascript";
    case L::kJava:
      return "java";
    case L::kCSharp:
      return "csharp";
    case L::kSql:
      return "sql";
    case L::kShell:
      return "shell";
  }
  return "plain";
}

}  // namespace qzr
