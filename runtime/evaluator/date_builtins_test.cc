// Tests of TODAY, CLOCK, DATE, DAY, MONTH, YEAR and AGE.

#include "runtime/evaluator/date_builtins.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "runtime/os/fault_plan.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

LocalDateTime FakeNoon() {
  return {2026, 7, 4, 12, 34, 56, 789};
}
LocalDateTime FakeMidnight() {
  return {2026, 7, 4, 0, 0, 0, 0};
}

class DateBuiltins : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_.local_clock = &FakeNoon;
    old_ = SetProcessFaultPlan(&clock_);
    SetWindowYearForTesting(2026);
  }
  void TearDown() override {
    SetProcessFaultPlan(old_);
    SetWindowYearForTesting(0);
  }
  FaultPlan clock_;
  FaultPlan* old_ = nullptr;
};

TEST_F(DateBuiltins, TodayAndClockReadTheLocalClock) {
  EXPECT_EQ(TODAY(), DateFromParts(7, 4, 2026));
  EXPECT_EQ(CLOCK(), TimeFromParts(12, 34, 56, 78));
  clock_.local_clock = &FakeMidnight;
  EXPECT_EQ(CLOCK(), 1);  // midnight is a time, not "no time"
}

TEST_F(DateBuiltins, DateCarriesMonthsAndDays) {
  struct Case {
    int64_t month, day, year;
    int32_t expected;
  } cases[] = {
      {13, 1, 2025, DateFromParts(1, 1, 2026)},
      {1, 32, 2026, DateFromParts(2, 1, 2026)},
      {2, 30, 2024, DateFromParts(3, 1, 2024)},
      {25, 1, 2024, DateFromParts(1, 1, 2026)},
      {3, 0, 2024, DateFromParts(2, 29, 2024)},  // day 0 is the day before the first
      {1, -30, 2026, DateFromParts(12, 1, 2025)},
      {7, 4, 26, DateFromParts(7, 4, 2026)},
      {0, 1, 2026, -1},
      {-1, 1, 2026, -1},
      {1, 1, 1800, -1},
      {12, 32, 9999, -1},
      {1, 1, 1801, 4},
      {1, 0, 1801, -1},
      // Huge arguments neither wrap nor loop for long.
      {std::numeric_limits<int64_t>::max(), 1, 2026, -1},
      {1, std::numeric_limits<int32_t>::max(), 2026, -1},
      {1, std::numeric_limits<int32_t>::min(), 2026, -1},
      {120000, 1, 2026, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DATE(c.month, c.day, c.year), c.expected) << c.month << "/" << c.day << "/" << c.year;
  }
}

TEST_F(DateBuiltins, DayMonthYear) {
  const int32_t d = DateFromParts(7, 4, 2026);
  EXPECT_EQ(DAY(d), 4);
  EXPECT_EQ(MONTH(d), 7);
  EXPECT_EQ(YEAR(d), 2026);
  EXPECT_EQ(DAY(0), 0);
  EXPECT_EQ(MONTH(3), 0);
  EXPECT_EQ(YEAR(2994627), 0);
}

TEST_F(DateBuiltins, Age) {
  const int32_t base = DateFromParts(7, 4, 2026);
  struct Case {
    int32_t birth;
    std::string text;
  } cases[] = {
      {base - 30, "30 DAYS"},
      {base, "0 DAYS"},
      {base - 60, "60 DAYS"},
      {base - 70, "2 MOS"},
      {DateFromParts(7, 4, 2024), "24 MOS"},
      {DateFromParts(7, 5, 2024), "23 MOS"},
      {DateFromParts(7, 4, 2023), "3 YRS"},
      {DateFromParts(7, 5, 2023), "2 YRS"},
      {DateFromParts(6, 1, 1950), "76 YRS"},
      // A birth date after the base is taken a century earlier.
      {DateFromParts(1, 1, 2030), "96 YRS"},
  };
  for (const Case& c : cases) EXPECT_EQ(AGE(c.birth, base), c.text) << c.birth;
}

TEST_F(DateBuiltins, AgeWithoutAnAgeIsStars) {
  const std::string stars(255, '*');
  const int32_t base = DateFromParts(7, 4, 2026);
  EXPECT_EQ(AGE(DateFromParts(1, 1, 1850), DateFromParts(1, 1, 1849)), stars);
  EXPECT_EQ(AGE(0, base), stars);
  EXPECT_EQ(AGE(base, 0), stars);
  EXPECT_EQ(AGE(base, 2994627), stars);
  // 29 February moved to a year without one.
  EXPECT_EQ(AGE(DateFromParts(2, 29, 2000), DateFromParts(7, 4, 1999)), stars);
}

TEST_F(DateBuiltins, AgeDefaultsToToday) {
  EXPECT_EQ(AGE(DateFromParts(6, 24, 2026)), "10 DAYS");
  EXPECT_EQ(AGE(DateFromParts(6, 24, 2026), -1), "10 DAYS");
}

}  // namespace
}  // namespace qzr
