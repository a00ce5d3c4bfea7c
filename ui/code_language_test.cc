#include "ui/code_language.h"

#include <gtest/gtest.h>

#include <string>

namespace qzr {
namespace {

struct Case {
  const char* why;
  const char* code;
  CodeLanguage expected;
};

TEST(CodeLanguageTest, GuessesFromTypicalSnippets) {
  const Case cases[] = {
      {"c with includes", "#include <stdio.h>\n\nint main(void) {\n  printf(\"hi\\n\");\n}\n",
       CodeLanguage::kCpp},
      {"c++ with std", "template <typename T>\nT Max(T a, T b) { return std::max(a, b); }\n",
       CodeLanguage::kCpp},
      {"c++ class with access labels",
       "class Stack {\n public:\n  void Push(int v);\n private:\n  std::vector<int> v_;\n};\n",
       CodeLanguage::kCpp},
      {"python function",
       "def mean(xs):\n    if not xs:\n        return None\n    return sum(xs) / len(xs)\n",
       CodeLanguage::kPython},
      {"python class",
       "from os import path\n\nclass Walker(object):\n    def __init__(self):\n"
       "        self.seen = set()\n",
       CodeLanguage::kPython},
      {"javascript",
       "function debounce(fn, ms) {\n  let t;\n  return (...a) => {\n"
       "    clearTimeout(t);\n    t = setTimeout(() => fn(...a), ms);\n  };\n}\n",
       CodeLanguage::kJavaScript},
      {"typescript",
       "import { readFile } from 'fs';\nexport function size(p: string): number {\n"
       "  return readFile(p).length;\n}\n",
       CodeLanguage::kJavaScript},
      {"java",
       "package demo;\n\nimport java.util.List;\n\npublic class Hello {\n"
       "  public static void main(String[] args) {\n"
       "    System.out.println(\"hi\");\n  }\n}\n",
       CodeLanguage::kJava},
      {"c#",
       "using System;\n\nnamespace Demo\n{\n  class Program\n  {\n"
       "    static void Main(string[] args)\n    {\n"
       "      Console.WriteLine(\"hi\");\n    }\n  }\n}\n",
       CodeLanguage::kCSharp},
      {"c# property", "public class Person\n{\n  public string Name { get; set; }\n}\n",
       CodeLanguage::kCSharp},
      {"sql upper", "SELECT id, name\nFROM users\nWHERE active = 1\nORDER BY name;\n",
       CodeLanguage::kSql},
      {"sql lower",
       "create table t (id integer primary key, name text);\n"
       "insert into t values (1, 'a');\n",
       CodeLanguage::kSql},
      {"shell without shebang",
       "for f in *.txt; do\n  echo \"$f\"\ndone\nif [ -d x ]; then\n"
       "  rm -r x\nfi\n",
       CodeLanguage::kShell},
      {"shebang bash", "#!/bin/bash\nls\n", CodeLanguage::kShell},
      {"shebang env python", "#!/usr/bin/env python3\nx = 1\n", CodeLanguage::kPython},
      {"shebang node", "#!/usr/bin/env node\nx = 1\n", CodeLanguage::kJavaScript},
      {"prose", "This routine formats a date the long way.\nCall it with a day number.\n",
       CodeLanguage::kPlainText},
      {"4gl source",
       "MyProc PROCEDURE(LONG pDate)\n  CODE\n  IF pDate = 0 THEN RETURN ''.\n"
       "  RETURN FORMAT(pDate, @D6)\n",
       CodeLanguage::kPlainText},
      {"empty", "", CodeLanguage::kPlainText},
      {"blank lines only", "\n\n  \n", CodeLanguage::kPlainText},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodeLanguageName(GuessCodeLanguage(c.code)), CodeLanguageName(c.expected)) << c.why;
  }
}

TEST(CodeLanguageTest, AnyBytesGiveAnAnswer) {
  // Invalid UTF-8, NULs and a lone carriage return.
  std::string junk = "\xff\xfe\x80#include\0\r\xc3";
  junk.push_back('\0');
  EXPECT_EQ(GuessCodeLanguage(junk), CodeLanguage::kPlainText);
  EXPECT_EQ(GuessCodeLanguage(std::string(1, '\n')), CodeLanguage::kPlainText);
}

TEST(CodeLanguageTest, OnlyTheBeginningOfALongMemoCounts) {
  // Given prose filling the guess window, when C follows it, the C is not seen.
  std::string code(kGuessWindow, 'x');
  code += "\n#include <a.h>\n#include <b.h>\n";
  EXPECT_EQ(GuessCodeLanguage(code), CodeLanguage::kPlainText);
  EXPECT_EQ(GuessCodeLanguage(code.substr(kGuessWindow)), CodeLanguage::kCpp);
}

}  // namespace
}  // namespace qzr
