// Tests of the standard date and time conversions, the clock seam and the
// two-digit-year window.

#include "runtime/values/date_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "runtime/os/fault_plan.h"

namespace qzr {
namespace {

class WindowYear2026 : public ::testing::Test {
 protected:
  void SetUp() override { SetWindowYearForTesting(2026); }
  void TearDown() override { SetWindowYearForTesting(0); }
};

TEST(DateTime, EveryDayAgreesWithTheCivilCalendar) {
  using namespace std::chrono;
  const sys_days first = sys_days{year{1801} / January / 1};
  for (int32_t date = kFirstDate; date <= kLastDate; ++date) {
    const sys_days day = first + days{date - kFirstDate};
    const year_month_day ymd{day};
    int y, m, d;
    ASSERT_EQ(DateToParts(date, &y, &m, &d), 0) << date;
    ASSERT_EQ(y, static_cast<int>(ymd.year())) << date;
    ASSERT_EQ(m, static_cast<int>(static_cast<unsigned>(ymd.month()))) << date;
    ASSERT_EQ(d, static_cast<int>(static_cast<unsigned>(ymd.day()))) << date;
    ASSERT_EQ(DateFromParts(m, d, y), date) << y << "-" << m << "-" << d;
    ASSERT_EQ(Weekday(date), static_cast<int>(weekday{day}.c_encoding())) << date;
  }
  EXPECT_EQ(year_month_day{first + days{kLastDate - kFirstDate}},
            year_month_day{year{9999} / December / 31});
}

TEST_F(WindowYear2026, DateFromPartsEdges) {
  struct Case {
    int month, day, year;
    int32_t date;
  } cases[] = {
      {1, 1, 1801, 4},
      {12, 31, 9999, 2994626},
      {12, 28, 1800, -1},
      {2, 29, 1900, -1},
      {2, 29, 2000, DateFromParts(2, 28, 2000) + 1},
      {1, 1, 10000, -1},
      {0, 1, 2000, -1},
      {13, 1, 2000, -1},
      {4, 31, 2026, -1},
      {4, 0, 2026, -1},
      {2, 29, 2024, DateFromParts(3, 1, 2024) - 1},
      {7, 4, 26, DateFromParts(7, 4, 2026)},  // a two-digit year is expanded
      {7, 4, -5, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateFromParts(c.month, c.day, c.year), c.date)
        << c.month << "/" << c.day << "/" << c.year;
  }
}

TEST(DateTime, PartsFromDateOutsideTheRangeFail) {
  for (int32_t date : {0, 3, -1, 2994627, INT32_MIN, INT32_MAX}) {
    int y = 7, m = 7, d = 7;
    EXPECT_EQ(DateToParts(date, &y, &m, &d), -1) << date;
    EXPECT_EQ(y, 0);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(d, 0);
  }
}

TEST_F(WindowYear2026, LeapYears) {
  struct Case {
    int year;
    bool leap;
  } cases[] = {{1900, false}, {2000, true}, {2024, true}, {2026, false}, {2100, false},
               {2400, true},  {1804, true}, {0, true},    {96, true},    {44, true}};
  // Two-digit years are expanded first: 0 is 2000, 96 is 1996, 44 is 2044.
  for (const Case& c : cases) EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
}

TEST(DateTime, DaysInMonth) {
  EXPECT_EQ(DaysInMonth(2, 2024), 29);
  EXPECT_EQ(DaysInMonth(2, 2100), 28);
  EXPECT_EQ(DaysInMonth(12, 2026), 31);
  EXPECT_EQ(DaysInMonth(0, 2026), 0);
  EXPECT_EQ(DaysInMonth(13, 2026), 0);
}

TEST_F(WindowYear2026, TwoDigitYearWindow) {
  struct Case {
    int year, window, expanded;
  } cases[] = {
      {45, 80, 2045},  {46, 80, 1946},  {0, 80, 2000},  {99, 80, 1999},   {26, 80, 2026},
      {45, 0, 2045},   {26, 0, 2026},   {25, 0, 2125},  {27, 99, 1927},   {26, 99, 2026},
      {10, -20, 2110}, {50, -20, 2050}, {100, 80, 100}, {1999, 80, 1999}, {-1, 80, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandTwoDigitYear(c.year, c.window), c.expanded) << c.year << " w" << c.window;
  }
}

LocalDateTime FakeNow2030() {
  return {2030, 5, 6, 7, 8, 9, 10};
}

TEST(DateTime, WindowYearIsReadOnceAndKept) {
  SetWindowYearForTesting(0);
  FaultPlan clock;
  clock.local_clock = &FakeNow2030;
  FaultPlan* const old = SetProcessFaultPlan(&clock);
  EXPECT_EQ(WindowYear(), 2030);
  SetProcessFaultPlan(nullptr);  // the real clock now says another year
  EXPECT_EQ(WindowYear(), 2030);
  EXPECT_EQ(ExpandTwoDigitYear(51), 1951);
  EXPECT_EQ(ExpandTwoDigitYear(49), 2049);
  SetProcessFaultPlan(old);
  SetWindowYearForTesting(0);
}

TEST(DateTime, TimeFromPartsEdges) {
  struct Case {
    int h, m, s, hs;
    int32_t time;
  } cases[] = {
      {0, 0, 0, 0, 0},         {0, 0, 0, 1, 2},   {24, 0, 0, 0, -1}, {23, 59, 59, 99, 8640000},
      {12, 30, 0, 0, 4500001}, {0, 60, 0, 0, -1}, {0, 0, 60, 0, -1}, {0, 0, 0, 100, -1},
      {-1, 0, 0, 0, -1},       {0, 0, 1, 0, 101},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimeFromParts(c.h, c.m, c.s, c.hs), c.time) << c.h << ":" << c.m << ":" << c.s;
  }
}

TEST(DateTime, PartsFromTimeRoundTripAndFailures) {
  for (int32_t t = 1; t <= kLastTime; t += 997) {
    int h, m, s, hs;
    ASSERT_EQ(TimeToParts(t, &h, &m, &s, &hs), 0);
    ASSERT_EQ(TimeFromParts(h, m, s, hs), t == 1 ? 0 : t);
  }
  for (int32_t t : {0, -5, 8640001}) {
    int h = 1, m = 1, s = 1, hs = 1;
    EXPECT_EQ(TimeToParts(t, &h, &m, &s, &hs), -1);
    EXPECT_EQ(h + m + s + hs, 0);
  }
  int h, m, s, hs;
  ASSERT_EQ(TimeToParts(8640000, &h, &m, &s, &hs), 0);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(m, 59);
  EXPECT_EQ(s, 59);
  EXPECT_EQ(hs, 99);
}

TEST(DateTime, ClockSeamIsUsed) {
  FaultPlan clock;
  clock.local_clock = &FakeNow2030;
  clock.epoch_clock = [] { return int64_t{1234567}; };
  FaultPlan* const old = SetProcessFaultPlan(&clock);
  const LocalDateTime now = LocalNow();
  EXPECT_EQ(now.year, 2030);
  EXPECT_EQ(now.millisecond, 10);
  EXPECT_EQ(EpochMillisecondsNow(), 1234567);
  SetProcessFaultPlan(old);
  const LocalDateTime real = LocalNow();
  EXPECT_GE(real.year, 2000);
  EXPECT_GE(real.month, 1);
  EXPECT_LE(real.month, 12);
}

TEST(DateTime, ClockStampConvertsTheMomentItWasTaken) {
  // Under the fault plan the plan's time is taken at once: a later change
  // of the plan's clock does not move a stamp already taken.
  LocalDateTime fake{2030, 1, 2, 3, 4, 5, 600};
  FaultPlan clock;
  clock.local_clock = [&fake] { return fake; };
  FaultPlan* const old = SetProcessFaultPlan(&clock);
  const ClockStamp stamp = ClockStamp::Now();
  fake.hour = 9;
  EXPECT_EQ(stamp.Local().hour, 3);
  EXPECT_EQ(stamp.Local().millisecond, 600);
  SetProcessFaultPlan(old);
  // On the system clock a stamp reads as LocalNow() did around it.
  auto key = [](const LocalDateTime& t) {
    return std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  };
  const LocalDateTime before = LocalNow();
  const ClockStamp real = ClockStamp::Now();
  const LocalDateTime after = LocalNow();
  EXPECT_LE(key(before), key(real.Local()));
  EXPECT_LE(key(real.Local()), key(after));
}

}  // namespace
}  // namespace qzr
