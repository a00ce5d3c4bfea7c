// Standard dates and times and their calendar parts.
//
// A standard date is a day number: 4 is 1 January 1801, 2994626 is
// 31 December 9999, 0 is no date. A standard time is hundredths of a second
// since midnight plus one: 1 is 00:00:00.00, 8640000 is 23:59:59.99, 0 is no
// time.
//
// This file also owns the two-digit-year window, whose current year is read
// from the clock seam (runtime/os/clock.h) once and kept for the life of the
// process.
//
// Threads: the conversions keep no state. The kept window year is an atomic,
// so any thread may read it; its testing setter is meant for single-threaded
// test set-up.

#ifndef QZR_RUNTIME_DATE_TIME_H_
#define QZR_RUNTIME_DATE_TIME_H_

#include <cstdint>

#include "runtime/os/clock.h"

namespace qzr {

inline constexpr int32_t kFirstDate = 4;       // 1 January 1801
inline constexpr int32_t kLastDate = 2994626;  // 31 December 9999
inline constexpr int32_t kLastTime = 8640000;  // 23:59:59.99
inline constexpr int kFirstYear = 1801;
inline constexpr int kLastYear = 9999;
// The window a two-digit year is expanded with when none is given.
inline constexpr int kDefaultYearWindow = 80;

// Days per month of a common year, and days before each month.
inline constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
inline constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Standard date of (month, day, year), or -1 when the parts are invalid. A
// year below 100 is expanded with the two-digit-year window 80.
int32_t DateFromParts(int month, int day, int year);

// Splits `date` into its parts. Returns 0, or -1 (parts all 0) when `date`
// lies outside kFirstDate..kLastDate.
int DateToParts(int32_t date, int* year, int* month, int* day);

// Standard time of the parts: 0 when all four are 0, -1 when one is out of
// range.
int32_t TimeFromParts(int hours, int minutes, int seconds, int hundredths);

// Splits `time` into its parts. Returns 0, or -1 (parts all 0) when `time` is
// not in 1..kLastTime.
int TimeToParts(int32_t time, int* hours, int* minutes, int* seconds, int* hundredths);

// True iff `year` is a leap year; a year 0..99 is first expanded with the
// window 80.
bool IsLeapYear(int year);

// True iff (month, day, year) names a real day between 1 January 1801 and
// 31 December 9999; a year 0..99 is first expanded with the window 80.
bool IsValidDate(int month, int day, int year);

// Days in `month` (1..12) of `year` (four digits); 0 for a bad month.
int DaysInMonth(int month, int year);

// Day of the week of a valid standard date: 0 Sunday .. 6 Saturday.
// REQUIRES: kFirstDate <= date <= kLastDate.
int Weekday(int32_t date);

// Expands a year 0..99 to the year with the same last two digits inside
// c - window .. c - window + 99, where c is the kept current year. Other
// years are returned unchanged. `window` may be negative or above 99 (a
// window reaching into the future).
int ExpandTwoDigitYear(int year, int window = kDefaultYearWindow);

// ---- The two-digit-year window ---------------------------------------------

// The current year used by the two-digit-year window: read from LocalNow()
// at first use and kept.
int WindowYear();

// Sets the kept window year (0 forgets it, so the next use reads the clock
// again). For tests.
void SetWindowYearForTesting(int year);

}  // namespace qzr

#endif  // QZR_RUNTIME_DATE_TIME_H_
