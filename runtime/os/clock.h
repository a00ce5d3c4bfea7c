// The clock seam: every read of the wall clock goes through here, so that a
// test's fault plan can set the time (FaultPlan::local_clock, epoch_clock).
//
// Threads: safe from any thread.

#ifndef QZR_RUNTIME_OS_CLOCK_H_
#define QZR_RUNTIME_OS_CLOCK_H_

#include <cstdint>

namespace qzr {

struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;  // 0..59 (a leap second reads as 59)
  int millisecond = 0;
};

// The local date and time: the process fault plan's local_clock when it has
// one, else the system clock (localtime_r).
LocalDateTime LocalNow();

// Milliseconds since 1970-01-01 00:00 UTC: the process fault plan's
// epoch_clock when it has one, else the system clock.
int64_t EpochMillisecondsNow();

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_CLOCK_H_
