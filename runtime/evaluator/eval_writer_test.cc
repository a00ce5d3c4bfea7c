#include <gtest/gtest.h>

#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateEvaluator();
    title_field_.SetText("x");
    ASSERT_TRUE(BIND("FUN:ID", &id_field_));
    ASSERT_TRUE(BIND("FUN:Title", &title_field_));
    ASSERT_TRUE(BIND("A", &a_field_));
    ASSERT_TRUE(BIND("B", &b_field_));
    ASSERT_TRUE(BIND("C", &c_field_));
  }
  void TearDown() override {
    DestroyEvaluator();
    ClearError();
  }

  int32_t id_ = 1, a_ = 1, b_ = 2, c_ = 3;
  char title_[50] = {};
  UfoLong id_field_{&id_}, a_field_{&a_}, b_field_{&b_}, c_field_{&c_};
  UfoCString title_field_{title_, sizeof title_};
};

struct Case {
  const char* source;
  const char* written;
};

TEST_F(WriterTest, TextIsNormalAndReadsBackTheSame) {
  const Case cases[] = {
      {"1+2*3", "1 + 2 * 3"},
      {"(1+2)*3", "(1 + 2) * 3"},
      {"A-(B-C)", "A - (B - C)"},
      {"(A-B)-C", "A - B - C"},
      {"2^(3^2)", "2 ^ (3 ^ 2)"},
      {"-2^2", "-2 ^ 2"},
      {"-(2^2)", "-(2 ^ 2)"},
      {"NOT A=B", "NOT A = B"},
      {"NOT (A OR B)", "NOT (A OR B)"},
      {"A ~= B", "A <> B"},
      {"A =< B", "A <= B"},
      {"A ~> B", "A <= B"},
      {"A AND B OR C", "A AND B OR C"},
      {"A AND (B OR C)", "A AND (B OR C)"},
      {"A XOR B", "A XOR B"},
      {"'a'&'b'", "'a' & 'b'"},
      {"7%2", "7 % 2"},
      {"INSTRING('x',FUN:Title,1,1)", "INSTRING('x', FUN:Title, 1, 1)"},
      {"INSTRING('x',FUN:Title,,1)", "INSTRING('x', FUN:Title, , 1)"},
      {"FUN:Title[1:3]", "FUN:Title[1 : 3]"},
      {"(A & B)[2]", "(A & B)[2]"},
      {"'it''s'", "'it''s'"},
      {"FORMAT(A,@N9.2)", "FORMAT(A, @N9.2)"},
      {"FORMAT(A, @N(9.2) )", "FORMAT(A, @N(9.2))"},
      // A picture ends at "," or ")", so outside an argument list it keeps
      // brackets of its own.
      {"(@N9.2) & 'x'", "(@N9.2) & 'x'"},
      {"(@S3)[2]", "(@S3)[2]"},
      {"0FFH + 1.50", "0FFH + 1.50"},
      {"today()", "today()"},
  };
  for (const Case& c : cases) {
    auto e = Expression::Parse(c.source);
    ASSERT_NE(e, nullptr) << c.source << ": " << ERRORDETAIL();
    EXPECT_EQ(e->Text(), c.written) << c.source;
    auto again = Expression::Parse(e->Text());
    ASSERT_NE(again, nullptr) << e->Text();
    EXPECT_EQ(again->Text(), c.written);
    EXPECT_EQ(again->EvaluateText(), e->EvaluateText()) << c.source;
  }
}

TEST_F(WriterTest, SqlVariant) {
  const Case cases[] = {
      {"FUN:Title = 'abc'", "Title = 'abc'"},
      {"SUB(FUN:Title,1,3) = 'abc'", "Title LIKE 'abc%'"},
      {"'ab' = FUN:Title[1:2]", "Title LIKE 'ab%'"},
      {"SUB(FUN:Title,1,2) = 'abc'", "SUBSTR(Title, 1, 2) = 'abc'"},
      {"SUB(FUN:Title,1,3) = 'a%c'", "SUBSTR(Title, 1, 3) = 'a%c'"},
      {"UPPER(FUN:Title) = 'ABC'", "UPPER(Title) = 'ABC'"},
      {"MATCH(FUN:Title, 'abc', 16)", "UPPER(Title) = UPPER('abc')"},
      {"MATCH(FUN:Title, 'ab*', 1)", "Title LIKE 'ab%'"},
      {"MATCH(FUN:Title, 'a?*', 17)", "UPPER(Title) LIKE UPPER('a_%')"},
      {"MATCH(FUN:Title, 'Smith', 3)", "SOUNDEX(Title) = SOUNDEX('Smith')"},
      {"NULL(FUN:Title)", "Title IS NULL"},
      {"NOT NULL(FUN:Title)", "Title IS NOT NULL"},
      {"NOT FUN:ID = 1", "NOT (ID = 1)"},
      {"INSTRING('ab', FUN:Title, 1, 1)", "Title LIKE '%ab%'"},
      {"INSTRING('ab', UPPER(FUN:Title))", "UPPER(Title) LIKE '%ab%'"},
      {"FUN:ID > 0FFH AND FUN:ID <= 300", "ID > 255 AND ID <= 300"},
      {"A XOR B", "((A) OR (B)) AND NOT ((A) AND (B))"},
      {"A ^ 2", "POWER(A, 2)"},
      {"'a' & FUN:Title", "'a' || Title"},
      {"SUB(FUN:Title, 2, 3) = 'bcd'", "SUBSTR(Title, 2, 3) = 'bcd'"},
  };
  for (const Case& c : cases) {
    auto e = Expression::Parse(c.source);
    ASSERT_NE(e, nullptr) << c.source << ": " << ERRORDETAIL();
    EXPECT_EQ(e->SqlText(), c.written) << c.source;
  }
}

TEST_F(WriterTest, SqlOrderItems) {
  auto descending = Expression::Parse("-FUN:Title");
  auto ascending = Expression::Parse("FUN:ID");
  ASSERT_NE(descending, nullptr);
  ASSERT_NE(ascending, nullptr);
  EXPECT_EQ(descending->SqlOrderText(), "Title DESC");
  EXPECT_EQ(ascending->SqlOrderText(), "ID");
}

}  // namespace
}  // namespace qzr
