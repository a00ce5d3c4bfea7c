// The date and time built-ins of the language: TODAY, CLOCK, DATE, DAY,
// MONTH, YEAR and AGE.
//
// TODAY and CLOCK read the local clock through LocalNow (date_time.h), so
// tests can fake it. Nothing else keeps state; safe from any thread.

#ifndef QZR_RUNTIME_DATE_BUILTINS_H_
#define QZR_RUNTIME_DATE_BUILTINS_H_

#include <cstdint>
#include <string>

#include "runtime/os/clock.h"

namespace qzr {

// The standard date of the local date.
int32_t TODAY();

// The standard time of the local time; hundredths are milliseconds / 10.
int32_t CLOCK();

// The standard time of `t`, as CLOCK gives it for that moment.
int32_t StandardTimeOf(const LocalDateTime& t);

// The standard date of (month, day, year): a year below 100 is expanded with
// the window 80, months above 12 carry into the following years, and days
// beyond the month's end (or below 1) carry into the neighbouring months.
// Returns -1 when the month is below 1, the first of the month is not a
// valid date, or the result lies outside 1 January 1801..31 December 9999.
int32_t DATE(int64_t month, int64_t day, int64_t year);

// The parts of a standard date; 0 for a date outside the valid range.
int DAY(int32_t date);
int MONTH(int32_t date);
int YEAR(int32_t date);

// The age at `base` of someone born on `birth`, as text: "<n> DAYS" below 61
// days, "<n> MOS" up to 24 months, else "<n> YRS". `base` -1 means today.
// A birth date later than the base is taken 100 years earlier; when that is
// still later, or either date is not valid, the result is 255 "*".
std::string AGE(int32_t birth, int32_t base = -1);

}  // namespace qzr

#endif  // QZR_RUNTIME_DATE_BUILTINS_H_
