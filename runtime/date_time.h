// Standard dates and times and their calendar parts.
//
// A standard date is a day number: 4 is 1 January 1801, 2994626 is
// 31 December 9999, 0 is no date. A standard time is hundredths of a second
// since midnight plus one: 1 is 00:00:00.00, 8640000 is 23:59:59.99, 0 is no
// time. The conversions keep no state and are safe from any thread.

#ifndef QZR_RUNTIME_DATE_TIME_H_
#define QZR_RUNTIME_DATE_TIME_H_

#include <cstdint>

namespace qzr {

inline constexpr int32_t kFirstDate = 4;        // 1 January 1801
inline constexpr int32_t kLastDate = 2994626;   // 31 December 9999
inline constexpr int32_t kLastTime = 8640000;   // 23:59:59.99

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

}  // namespace qzr

#endif  // QZR_RUNTIME_DATE_TIME_H_
