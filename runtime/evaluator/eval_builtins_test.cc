#include "runtime/evaluator/eval_builtins.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/settings/profile.h"

namespace qzr {
namespace {

class BuiltinTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateEvaluator(); }
  void TearDown() override {
    DestroyEvaluator();
    ClearError();
  }
  std::string Eval(std::string_view text) {
    std::string result = EVALUATE(text);
    EXPECT_EQ(ERRORCODE(), 0) << text << ": " << ERRORDETAIL();
    return result;
  }
};

struct Case {
  const char* expression;
  const char* expected;
};

TEST(BuiltinTableTest, IsSortedAndComplete) {
  auto table = Builtins();
  EXPECT_EQ(table.size(), 53u);
  for (size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1].name, table[i].name);
  const BuiltinInfo* instring = FindBuiltin("instring");
  ASSERT_NE(instring, nullptr);
  EXPECT_EQ(instring->number, 3);
  EXPECT_EQ(instring->min_args, 2);
  EXPECT_EQ(instring->max_args, 4);
  EXPECT_EQ(FindBuiltin("NOPE"), nullptr);
  EXPECT_EQ(FindBuiltin("SHORTPATHX"), nullptr);
}

TEST_F(BuiltinTest, Numbers) {
  const Case cases[] = {
      {"ABS(-3)", "3"},          {"ABS(-2.5)", "2.5"},       {"ABS('-4')", "4"},
      {"ABS(-2147483647-1)", "2147483648"},
      {"INT(-3.7)", "-3"},       {"INT(3.7)", "3"},          {"INT(1E12)", "1000000000000"},
      {"ROUND(5.2567, .01)", "5.26"}, {"ROUND(2.675, .01)", "2.68"}, {"ROUND(-2.5, 1)", "-3"},
      {"ROUND(1234, 100)", "1200"},   {"ROUND(7, 0)", "7"},
      {"SQRT(16)", "4"},         {"SQRT(-1)", "0"},          {"LOG10(1000)", "3"},
      {"LOGE(1)", "0"},          {"LOG10(0)", "0"},          {"COS(0)", "1"},
      {"SIN(0)", "0"},           {"TAN(0)", "0"},            {"ATAN(0)", "0"},
      {"ACOS(1)", "0"},          {"ASIN(2)", "0"},
      {"BAND(12, 10)", "8"},     {"BOR(12, 10)", "14"},      {"BXOR(12, 10)", "6"},
      {"BSHIFT(1, 4)", "16"},    {"BSHIFT(16, -2)", "4"},    {"BSHIFT(-1, -28)", "15"},
      {"BSHIFT(1, 32)", "0"},
      {"INRANGE(5, 1, 10)", "1"}, {"INRANGE(11, 1, 10)", "0"}, {"INRANGE('5', 1, 10)", "1"},
      {"NUMERIC('12.5')", "1"},  {"NUMERIC(' -3 ')", "1"},   {"NUMERIC('12x')", "0"},
      {"NUMERIC('')", "0"},      {"NUMERIC(7)", "1"},
      {"RANDOM(3, 3)", "3"},     {"NULL(1)", "0"},           {"SQL()", "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
  for (int i = 0; i < 50; ++i) {
    int r = std::stoi(Eval("RANDOM(5, 1)"));
    EXPECT_GE(r, 1);
    EXPECT_LE(r, 5);
  }
  EXPECT_GT(std::stoll(Eval("MEMORY(0)")), 0);
}

TEST_F(BuiltinTest, Texts) {
  const Case cases[] = {
      {"ALL('ab', 5)", "ababa"},     {"LEN(ALL('-'))", "255"},     {"ALL('', 5)", ""},
      {"CENTER('ab', 6)", "  ab  "}, {"CENTER('abc', 6)", " abc  "}, {"CENTER(' x ')", " x "},
      {"CENTER('abcdef', 3)", "abc"},
      {"LEFT('  ab', 5)", "ab   "},  {"LEFT('  ab')", "ab  "},     {"LEFT('abcdef', 2)", "ab"},
      {"RIGHT('ab  ', 5)", "   ab"}, {"RIGHT('ab  ')", "  ab"},    {"RIGHT('abcdef', 2)", "ef"},
      {"CLIP('ab  ') & '|'", "ab|"}, {"CLIP('  ') & '|'", "|"},
      {"CHR(65)", "A"},              {"CHR(321)", "A"},            {"VAL('A')", "65"},
      {"VAL('')", "0"},              {"LEN('abc')", "3"},          {"LEN(1234)", "4"},
      {"UPPER('aBc1')", "ABC1"},     {"LOWER('aBc1')", "abc1"},
      {"SUB('ABCDEF', 2, 3)", "BCD"}, {"SUB('ABCDEF', -2, 2)", "EF"}, {"SUB('ABC', 3, 10)", "C"},
      {"SUB('ABC', 4, 1)", ""},      {"SUB('ABC', 0, 2)", "AB"},    {"SUB('ABC', 1, -1)", ""},
      {"SUB(12345, 2, 2)", "23"},
      {"INSTRING('DEF', 'ABCDEFGHIJ', 1, 1)", "4"}, {"INSTRING('DEF', 'ABCDEFGHIJ', 3, 1)", "2"},
      {"INSTRING('DEF', 'ABCDEFGHIJ')", "4"},       {"INSTRING('X', 'ABC')", "0"},
      {"INSTRING('B', 'ABAB', -1)", "4"},          {"INSTRING('B', 'ABAB', -1, 3)", "2"},
      {"INSTRING('b', 'ABC')", "0"},                {"INSTRING('', 'ABC')", "0"},
      {"INSTRING('C', 'ABCABC', 1, 4)", "6"},       {"INSTRING('ABCD', 'ABC')", "0"},
      {"INSTRING('A', 'ABA', 0)", "1"},
      {"INLIST('b', 'a', 'b', 'c')", "2"},          {"INLIST('z', 'a', 'b')", "0"},
      {"INLIST(2, '1', '2')", "2"},                 {"INLIST('c', 'a', 'b', , 'c')", "4"},
      {"CHOOSE(2, 'a', 'b', 'c')", "b"},            {"CHOOSE(9, 'a', 'b', 'c')", "c"},
      {"CHOOSE(0, 'a', 'b')", "b"},                 {"CHOOSE(1 = 1)", "1"},
      {"CHOOSE(1 = 2, 'yes', 'no')", "no"},         {"CHOOSE(1 = 1, 'yes', 'no')", "yes"},
      {"CHOOSE(2, 10, 20) + 1", "21"},
      {"QUOTE('it''s', 0)", "it''s"},               {"QUOTE('<a{', 1)", "<<a{{"},
      {"QUOTE('<a', 0)", "<a"},                     {"UNQUOTE('it''''s <<x')", "it's <x"},
      {"MATCH('abc', 'A*', 17)", "1"},              {"MATCH('Smith', 'Smyth', 3)", "1"},
      {"MATCH('abc', 'A*')", "0"},                  {"MATCH('abc', 'b', 2)", "1"},
      {"STRPOS('hello world', 'wor')", "7"},       {"STRPOS('hello', 'L+', 1)", "3"},
      {"STRPOS('hello', 'z')", "0"},
      {"DEFORMAT('$1,234.50')", "1234.50"},         {"DEFORMAT('-12')", "-12"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
}

TEST_F(BuiltinTest, LengthsAreCappedNotHonouredToExhaustion) {
  EXPECT_EQ(Eval("LEN(ALL('x', 2000000000))"), "65535");
  EXPECT_EQ(Eval("LEN(LEFT('x', -5))"), "0");
}

TEST_F(BuiltinTest, DatesAndPictures) {
  const Case cases[] = {
      {"DATE(1, 1, 1801)", "4"},          {"DATE(12, 31, 9999)", "2994626"},
      {"DATE(13, 1, 2025) = DATE(1, 1, 2026)", "1"},
      {"DATE(1, 32, 2026) = DATE(2, 1, 2026)", "1"},
      {"DAY(DATE(7, 4, 2026))", "4"},     {"MONTH(DATE(7, 4, 2026))", "7"},
      {"YEAR(DATE(7, 4, 2026))", "2026"}, {"DAY(3)", "0"},
      {"AGE(DATE(1, 1, 2026), DATE(1, 31, 2026))", "30 DAYS"},
      {"AGE(DATE(1, 1, 2023), DATE(1, 1, 2026))", "3 YRS"},
      {"FORMAT(DATE(7, 4, 2026), @D2)", " 7/04/2026"},
      {"FORMAT(DATE(7, 4, 2026), @D2-)", " 7-04-2026"},
      {"FORMAT(DATE(7, 4, 2026), @D19)", ""},
      {"DEFORMAT(' 7/04/2026', @D2) = DATE(7, 4, 2026)", "1"},
      {"FORMAT('abc', @S5) & '|'", "abc  |"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
  EXPECT_GT(std::stol(Eval("TODAY()")), 4);
  EXPECT_EQ(Eval("TODAY = TODAY()"), "1");
  EXPECT_GE(std::stol(Eval("CLOCK()")), 1);
}

TEST_F(BuiltinTest, GetiniReadsAProfileFile) {
  std::string dir = ::testing::TempDir() + "/eval_getini_" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  std::string file = dir + "/test.ini";
  ASSERT_TRUE(WritePrivateProfileString("Main", "Colour", "blue", file));
  EXPECT_EQ(Eval("GETINI('Main', 'Colour', 'none', '" + file + "')"), "blue");
  EXPECT_EQ(Eval("GETINI('Main', 'Size', 'none', '" + file + "')"), "none");
  std::filesystem::remove_all(dir);
}

TEST_F(BuiltinTest, Paths) {
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(Eval("PATH()"), cwd);
  EXPECT_EQ(Eval("LONGPATH('x.txt')"), cwd + "/x.txt");
  EXPECT_EQ(Eval("SHORTPATH()"), cwd);
  EXPECT_EQ(Eval("PATH('sub/x.txt')"), cwd + "/sub");
}

}  // namespace
}  // namespace qzr
