// Standard dates and times: the calendar arithmetic and the two-digit-year
// window.
//
// The day arithmetic counts leap days with leaps(y) = y/4 + y/400 - y/100,
// the number of leap years in 1..y. Everything is computed in 64 bits where
// a caller's value could push an int32 past its range. Stateless apart from
// the kept window year, an atomic.

#include "runtime/values/date_time.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace qzr {
namespace {

constexpr int64_t Leaps(int64_t y) {
  return y / 4 + y / 400 - y / 100;
}

constexpr bool IsLeapFull(int64_t y) {
  return y % 4 == 0 && (y % 400 == 0 || y % 100 != 0);
}

std::atomic<int> g_window_year{0};

// The date of the first day of (month, year), both already in range, as the
// day number formula gives it; no validity check.
int64_t FirstOfMonth(int month, int64_t year) {
  int64_t date =
      (year - 1801) * 365 + kDaysBeforeMonth[month - 1] + 1 + 3 + Leaps(year) - Leaps(1800);
  if (month <= 2 && IsLeapFull(year)) --date;
  return date;
}

}  // namespace

int ExpandTwoDigitYear(int year, int window) {
  if (year < 0 || year > 99) return year;
  const int lo = WindowYear() - window;
  // The year ending in `year` at or above `lo`: floor lo to its century
  // (lo may be negative for an odd window), then step up once if needed.
  int century = lo >= 0 ? lo - lo % 100 : lo - (100 + lo % 100) % 100;
  int result = century + year;
  if (result < lo) result += 100;
  return result;
}

bool IsLeapYear(int year) {
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year, kDefaultYearWindow);
  return IsLeapFull(year);
}

int DaysInMonth(int month, int year) {
  if (month < 1 || month > 12) return 0;
  return kDaysInMonth[month - 1] + (month == 2 && IsLeapFull(year) ? 1 : 0);
}

bool IsValidDate(int month, int day, int year) {
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year, kDefaultYearWindow);
  if (year < kFirstYear || year > kLastYear) return false;
  if (month < 1 || month > 12) return false;
  return day >= 1 && day <= DaysInMonth(month, year);
}

int32_t DateFromParts(int month, int day, int year) {
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year, kDefaultYearWindow);
  if (!IsValidDate(month, day, year)) return -1;
  return static_cast<int32_t>(FirstOfMonth(month, year) + day - 1);
}

int DateToParts(int32_t date, int* year, int* month, int* day) {
  *year = *month = *day = 0;
  if (date < kFirstDate || date > kLastDate) return -1;
  const int64_t x = int64_t{date} + 365 * 1801 + Leaps(1800) - 4;
  int64_t y = x / 365;
  while (365 * y + Leaps(y - 1) > x) --y;
  int64_t rest = x + 1 - (365 * y + Leaps(y - 1));  // day of the year, 1-based
  int m = 1;
  for (; m < 12; ++m) {
    const int len = kDaysInMonth[m - 1] + (m == 2 && IsLeapFull(y) ? 1 : 0);
    if (rest <= len) break;
    rest -= len;
  }
  *year = static_cast<int>(y);
  *month = m;
  *day = static_cast<int>(rest);
  return 0;
}

int Weekday(int32_t date) {
  // Day 4, 1 January 1801, was a Thursday (4 when Sunday is 0).
  return date % 7;
}

int32_t TimeFromParts(int hours, int minutes, int seconds, int hundredths) {
  if (hours == 0 && minutes == 0 && seconds == 0 && hundredths == 0) return 0;
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
      hundredths < 0 || hundredths > 99) {
    return -1;
  }
  return ((hours * 60 + minutes) * 60 + seconds) * 100 + hundredths + 1;
}

int TimeToParts(int32_t time, int* hours, int* minutes, int* seconds, int* hundredths) {
  *hours = *minutes = *seconds = *hundredths = 0;
  if (time <= 0 || time > kLastTime) return -1;
  const int32_t t = time - 1;
  *hours = t / 360000;
  *minutes = t % 360000 / 6000;
  *seconds = t % 6000 / 100;
  *hundredths = t % 100;
  return 0;
}

int WindowYear() {
  int year = g_window_year.load(std::memory_order_acquire);
  if (year != 0) return year;
  // Two threads may both read the clock the first time; the first store wins
  // so every caller sees the same year afterwards.
  int expected = 0;
  const int now = LocalNow().year;
  if (g_window_year.compare_exchange_strong(expected, now, std::memory_order_acq_rel)) return now;
  return expected;
}

void SetWindowYearForTesting(int year) {
  g_window_year.store(year, std::memory_order_release);
}

}  // namespace qzr
