#include "runtime/evaluator/evaluator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/values/decimal.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

class EvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateEvaluator(); }
  void TearDown() override {
    DestroyEvaluator();
    ClearError();
  }

  // EVALUATE, expecting success.
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

TEST_F(EvaluatorTest, PrecedenceAndArithmetic) {
  const Case cases[] = {
      {"1+2*3", "7"},          {"(1+2)*3", "9"},       {"2^3^2", "64"},
      {"-2^2", "4"},           {"-(2^2)", "-4"},       {"--2", "2"},
      {"+-+-3", "3"},          {"10-4-3", "3"},        {"2*3%4", "2"},
      {"7%3", "1"},            {"-7%3", "-1"},         {"7/2", "3.5"},
      {"10/2", "5"},           {"1/3", "0.333333333333333"},
      {"10/0", "0"},           {"5%0", "0"},           {"2^-1", "0.5"},
      {"2^0", "1"},            {"(-1)^7", "-1"},       {"2^31", "2147483648"},
      {"2147483647+1", "2147483648"},                  {"-2147483647-2", "-2147483649"},
      {"65536*65536", "4294967296"},                   {"2147483648", "2147483648"},
      {"1.5E3", "1500"},       {"1E3", "1000"},        {"2.5e-1", "0.25"},
      {".5+.5", "1"},          {"0.1+0.2", "0.3"},     {"'5'+3", "8"},
      {"'abc'+1", "1"},        {"' 2.5x'*2", "5"},     {"1+2 & 3", "33"},
      {"'a' & 1.5", "a1.5"},   {"0FFH", "255"},        {"0ffh", "255"},
      {"17O", "15"},           {"101B", "5"},          {"0FFFFFFFFH", "-1"},
      {"00012", "12"},         {"'it''s'", "it's"},    {"''", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
}

TEST_F(EvaluatorTest, LogicAndComparison) {
  const Case cases[] = {
      // Truth: non-zero numbers and non-blank texts.
      {"NOT 1=2", "1"},        {"NOT 0 AND 0", "0"},   {"1 OR 0 AND 0", "1"},
      {"1 XOR 1", "0"},        {"1 XOR 0", "1"},       {"~1", "0"},
      {"NOT NOT 5", "5"},      {"NOT '  '", "1"},      {"NOT 'x'", "0"},
      {"1 and 1", "1"},        {"0 or 2", "1"},
      // Adjacent operator tokens combine.
      {"1 <> 2", "1"},         {"1 ~= 2", "1"},        {"1 < > 1", "0"},
      {"1 =< 1", "1"},         {"2 ~> 1", "0"},        {"1 ~< 2", "0"},
      {"1 => 1", "1"},         {"2 >= 3", "0"},        {"2 <= 3", "1"},
      // Texts compare with trailing spaces ignored; numbers numerically; a
      // text against a number numerically when it is a number.
      {"'abc' = 'abc   '", "1"}, {"'12' < '12A'", "1"}, {"'B' > 'A'", "1"},
      {"'2' < '10'", "0"},     {"2 < 10", "1"},        {"'12' = 12", "1"},
      {"' 12.0 ' = 12", "1"},  {"'12A' = 12", "0"},    {"'abc' > 5", "1"},
      {"1 = 1.0", "1"},        {"1 < 2 < 3", "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
}

TEST_F(EvaluatorTest, SlicesAndIndexes) {
  char buffer[20] = {};
  UfoCString s(buffer, sizeof buffer);
  s.SetText("Hello World");
  ASSERT_TRUE(BIND("S", &s));
  const Case cases[] = {
      {"S[1:5]", "Hello"}, {"S[7]", "W"},       {"S[0:3]", "Hel"},     {"S[9:50]", "rld"},
      {"S[5:2]", ""},      {"S[99]", ""},       {"'abc'[2]", "b"},     {"12345[2:3]", "23"},
      {"(S & '!')[11:12]", "d!"},               {"S[1+1:2*2]", "ell"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expression), c.expected) << c.expression;
}

TEST_F(EvaluatorTest, ErrorsCarryTheirDetail) {
  struct ErrorCase {
    const char* expression;
    int code;
    const char* detail;
  } cases[] = {
      {"1 +", 1010, "at pos 3"},          {"", 1010, "at pos 0"},
      {"12A", 1010, "at pos 0"},          {"(1", 1010, "at pos 2"},
      {"1)", 1010, "at pos 1"},           {"'abc", 1010, "at pos 0"},
      {"1 # 2", 1010, "at pos 2"},        {"1 2", 1010, "at pos 2"},
      {"ABS()", 1010, "at pos 4"},        {"ABS(1, 2)", 1010, "at pos 7"},
      {"DATE(1,2)", 1010, "at pos 8"},    {"1.5.3", 1010, "at pos 0"},
      {"0FFFFFFFFFH", 1010, "at pos 0"},  {"19O", 1010, "at pos 0"},
      {"X", 1011, "X"},                   {"1 + Foo:Bar(2)", 1011, "Foo:Bar"},
      {"SUB('a', , 1)", 1015, "SUB"},     {"INSTRING(, 'a')", 1015, "INSTRING"},
      {"1 ~ 2", 1010, "at pos 4"},        {"S[1:2", 1011, "S"},
      {"FORMAT(1, @N(9.2", 1010, "at pos 10"}, {"1 & @N~kr", 1010, "at pos 4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EVALUATE(c.expression), "") << c.expression;
    EXPECT_EQ(ERRORCODE(), c.code) << c.expression;
    EXPECT_EQ(ERRORDETAIL(), c.detail) << c.expression;
  }
  EXPECT_EQ(RuntimeString(1015), "Not-omittable parameter of built-in function is omitted");
}

TEST_F(EvaluatorTest, ARegularExpressionPastTheMatchLimitIsAnErrorNotNoMatch) {
  for (const char* expression :
       {"MATCH(ALL('a', 5000), '{a*}*[bc]', 2)", "STRPOS(ALL('a', 5000), '{a*}*[bc]')"}) {
    EXPECT_EQ(EVALUATE(expression), "") << expression;
    EXPECT_EQ(ERRORCODE(), 1016) << expression;
    EXPECT_EQ(ERROR(), "Regular expression exceeds the match limit");
    EXPECT_EQ(ERRORDETAIL(), "{a*}*[bc]");
  }
  EXPECT_EQ(EVALUATE("MATCH(ALL('a', 5000), 'a*b', 2)"), "0");
  EXPECT_EQ(ERRORCODE(), 0);
}

TEST_F(EvaluatorTest, SuccessClearsAnEarlierError) {
  EVALUATE("1 +");
  ASSERT_EQ(ERRORCODE(), 1010);
  EXPECT_EQ(EVALUATE("1 + 1"), "2");
  EXPECT_EQ(ERRORCODE(), 0);
}

TEST_F(EvaluatorTest, OmittableArgumentsTakeTheirDefault) {
  EXPECT_EQ(Eval("INSTRING('C', 'ABCABC', , 4)"), "6");
  EXPECT_EQ(Eval("LEFT('  ab', )"), "ab  ");
}

TEST_F(EvaluatorTest, DeepNestingIsRefusedNotCrashed) {
  std::string deep(5000, '(');
  deep += "1";
  deep += std::string(5000, ')');
  EXPECT_EQ(EVALUATE(deep), "");
  EXPECT_EQ(ERRORCODE(), 1010);
  std::string chain = "1";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_EQ(EVALUATE(chain), "");
  EXPECT_EQ(ERRORCODE(), 1010);
  // Within the limits both work.
  EXPECT_EQ(Eval(std::string(30, '(') + "2" + std::string(30, ')')), "2");
}

TEST_F(EvaluatorTest, BoundVariablesAreReadAtEachEvaluation) {
  int32_t id = 7;
  char title[100] = {};
  char padded[10];
  UfoLong id_field(&id);
  UfoCString title_field(title, sizeof title);
  UfoString padded_field(padded, sizeof padded);
  padded_field.SetText("abc");
  title_field.SetText("Quick Sort");
  ASSERT_TRUE(BIND("FUN:ID", &id_field));
  ASSERT_TRUE(BIND("FUN:Title", &title_field));
  ASSERT_TRUE(BIND("Pad", &padded_field));

  auto e = Expression::Parse("FUN:ID > 5 AND INSTRING('SORT', UPPER(FUN:Title), 1, 1)");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->EvaluateBool());
  id = 3;
  EXPECT_FALSE(e->EvaluateBool());
  id = 9;
  title_field.SetText("Bubble");
  EXPECT_FALSE(e->EvaluateBool());

  // Names are found without regard to case; a STRING keeps its padding.
  EXPECT_EQ(Eval("fun:id * 2"), "18");
  EXPECT_EQ(Eval("LEN(Pad)"), "10");
  EXPECT_EQ(Eval("Pad = 'abc'"), "1");
  EXPECT_EQ(Eval("CLIP(pad) & '|'"), "abc|");
}

TEST_F(EvaluatorTest, DecimalVariablesComputeExactly) {
  uint8_t price[3] = {};
  UfoDecimal price_field(price, 3, 2);
  price_field.SetText("12.34");
  uint8_t big[4] = {};
  UfoULong big_field(big);
  big_field.SetText("4294967295");
  ASSERT_TRUE(BIND("Price", &price_field));
  ASSERT_TRUE(BIND("Big", &big_field));
  EXPECT_EQ(Eval("Price + 0.01"), "12.35");
  EXPECT_EQ(Eval("Price * 2"), "24.68");
  EXPECT_EQ(Eval("Big + 1"), "4294967296");
  EXPECT_EQ(Eval("Big > 2147483647"), "1");
  EXPECT_EQ(Eval("-Price"), "-12.34");
  EXPECT_EQ(Eval("Price = '12.34'"), "1");
  EXPECT_EQ(Eval("BAND(Big, 0FFH)"), "255");
}

TEST_F(EvaluatorTest, PushbindAndPopbindScopeTheNames) {
  int32_t outer = 1, inner = 2;
  UfoLong outer_field(&outer), inner_field(&inner);
  ASSERT_TRUE(BIND("X", &outer_field));

  // Given a new scope, the outer binding stays visible until shadowed.
  ASSERT_TRUE(PUSHBIND());
  EXPECT_EQ(Eval("X"), "1");
  ASSERT_TRUE(BIND("X", &inner_field));
  EXPECT_EQ(Eval("X"), "2");
  // When the scope closes, the outer binding is back.
  ASSERT_TRUE(POPBIND());
  EXPECT_EQ(Eval("X"), "1");

  // A clean scope hides everything bound before it, but not the built-ins.
  ASSERT_TRUE(PUSHBIND(true));
  EXPECT_EQ(EVALUATE("X"), "");
  EXPECT_EQ(ERRORCODE(), 1011);
  EXPECT_EQ(Eval("ABS(-1)"), "1");
  ASSERT_TRUE(POPBIND());
  EXPECT_EQ(Eval("X"), "1");

  // One POPBIND too many.
  EXPECT_FALSE(POPBIND());
  EXPECT_EQ(ERRORCODE(), 1012);

  // UNBIND removes the innermost visible binding.
  EXPECT_TRUE(UNBIND("x"));
  EXPECT_FALSE(UNBIND("x"));
  EXPECT_EQ(EVALUATE("X"), "");
  EXPECT_EQ(ERRORCODE(), 1011);
  EXPECT_EQ(ERRORDETAIL(), "X");
}

TEST_F(EvaluatorTest, NamesThatCannotBeReferencedAreRefused) {
  int32_t v = 0;
  UfoLong f(&v);
  EXPECT_FALSE(BIND("AND", &f));
  EXPECT_FALSE(BIND("1abc", &f));
  EXPECT_FALSE(BIND("a b", &f));
  EXPECT_FALSE(BIND("", &f));
  EXPECT_TRUE(BIND("?Name$", &f));
  EXPECT_TRUE(BIND("Cost#", &f));
}

TEST_F(EvaluatorTest, BoundNamesMayHideBuiltins) {
  int32_t v = 41;
  UfoLong f(&v);
  ASSERT_TRUE(BIND("ABS", &f));
  EXPECT_EQ(Eval("ABS + 1"), "42");
}

TEST_F(EvaluatorTest, BoundProceduresAreCalledWithTheirArguments) {
  BoundProcedure twice;
  twice.result = ResultKind::Long;
  twice.min_args = 1;
  twice.max_args = 1;
  twice.fn = [](const EvalValue* args, int, std::string*) { return EvalValue::Long(AsLong(args[0]) * 2); };
  ASSERT_TRUE(BIND("Twice", std::move(twice)));

  BoundProcedure join;
  join.result = ResultKind::String;
  join.min_args = 0;
  join.max_args = 3;
  join.fn = [](const EvalValue* args, int count, std::string* scratch) {
    scratch->clear();
    for (int i = 0; i < count; ++i) {
      std::string part;
      *scratch += args[i].kind == EvalKind::Omitted ? std::string_view("-") : AsText(args[i], &part);
    }
    return EvalValue::Text(*scratch);
  };
  ASSERT_TRUE(BIND("Join", std::move(join)));

  // A parsed expression says whether evaluating it again repeats it: not
  // when it calls a procedure or draws a random number.
  for (const auto& [text, repeatable] : std::vector<std::pair<const char*, bool>>{
           {"Twice(20) + 2", false},
           {"1 + ABS(-2)", true},
           {"'Twice'", true},
           {"RANDOM(1, 2) = 1", false},
           {"LEN('RANDOM') + CLOCK()", true}}) {
    const std::unique_ptr<Expression> e = Expression::Parse(text);
    ASSERT_NE(e, nullptr) << text;
    EXPECT_EQ(e->Repeatable(), repeatable) << text;
  }

  EXPECT_EQ(Eval("Twice(20) + 2"), "42");
  EXPECT_EQ(Eval("Join('a', , 3)"), "a-3");
  EXPECT_EQ(Eval("Join()"), "");
  EXPECT_EQ(Eval("Join"), "");
  EXPECT_EQ(EVALUATE("Twice(1, 2)"), "");
  EXPECT_EQ(ERRORCODE(), 1010);
  EXPECT_EQ(EVALUATE("Twice()"), "");
  EXPECT_EQ(ERRORCODE(), 1010);
}

TEST(EvaluatorContextTest, WithoutAContextEverythingPosts1013) {
  DestroyEvaluator();
  int32_t v = 0;
  UfoLong f(&v);
  struct Step {
    const char* name;
    std::function<bool()> run;
  } steps[] = {
      {"BIND", [&] { return BIND("A", &f); }},
      {"UNBIND", [&] { return UNBIND("A"); }},
      {"PUSHBIND", [&] { return PUSHBIND(); }},
      {"POPBIND", [&] { return POPBIND(); }},
      {"EVALUATE", [&] { return !EVALUATE("1").empty(); }},
      {"Parse", [&] { return Expression::Parse("1") != nullptr; }},
  };
  for (const auto& s : steps) {
    ClearError();
    EXPECT_FALSE(s.run()) << s.name;
    EXPECT_EQ(ERRORCODE(), 1013) << s.name;
  }
  ClearError();
}

TEST(EvaluatorContextTest, ATreeOutlivingItsContextPosts1014) {
  CreateEvaluator();
  auto e = Expression::Parse("1 + 1");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->EvaluateText(), "2");
  DestroyEvaluator();
  ClearError();
  EXPECT_FALSE(e->EvaluateBool());
  EXPECT_EQ(ERRORCODE(), 1014);
  ClearError();
}

TEST(EvaluatorContextTest, EachThreadHasItsOwnNames) {
  CreateEvaluator();
  int32_t v = 5;
  UfoLong f(&v);
  ASSERT_TRUE(BIND("V", &f));
  std::string other_result;
  int other_error = 0;
  std::thread t([&] {
    CreateEvaluator();
    other_result = EVALUATE("V");
    other_error = ERRORCODE();
    DestroyEvaluator();
  });
  t.join();
  EXPECT_EQ(other_result, "");
  EXPECT_EQ(other_error, 1011);
  EXPECT_EQ(EVALUATE("V"), "5");
  DestroyEvaluator();
  ClearError();
}

TEST_F(EvaluatorTest, ResultKindsAreStatic) {
  struct KindCase {
    const char* expression;
    ResultKind kind;
  } cases[] = {
      {"1 + 2", ResultKind::Long},   {"1 / 2", ResultKind::Real},    {"1.5", ResultKind::Real},
      {"'a' & 1", ResultKind::String}, {"1 = 2", ResultKind::Long},  {"UPPER('a')", ResultKind::String},
      {"SQRT(2)", ResultKind::Real}, {"-3", ResultKind::Long},
  };
  for (const auto& c : cases) {
    auto e = Expression::Parse(c.expression);
    ASSERT_NE(e, nullptr) << c.expression;
    EXPECT_EQ(e->Kind(), c.kind) << c.expression;
  }
}

}  // namespace
}  // namespace qzr
