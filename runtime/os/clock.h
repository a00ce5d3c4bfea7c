// The clock seam: every read of the wall clock goes through here, so that a
// test's fault plan can set the time (FaultPlan::local_clock, epoch_clock).
//
// Local time costs the time-zone rules, which the C library reads from the
// system's zone file on first use; ClockStamp takes the moment without them
// and converts it only when someone asks for the local time.
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

// A moment of the local clock, taken now and turned into local time only
// when Local() is asked (at most once per stamp is typical; each call
// converts again). Taking one reads the system clock and nothing else;
// under a process fault plan with a local_clock the plan's time is taken at
// once, so a test's clock decides as for LocalNow().
class ClockStamp {
 public:
  static ClockStamp Now();
  // The local date and time of the moment taken (what LocalNow() returned
  // then).
  LocalDateTime Local() const;

 private:
  bool has_local_ = false;  // local_ holds the fault plan's time
  LocalDateTime local_;
  int64_t seconds_ = 0;  // since 1970-01-01 00:00 UTC
  int millisecond_ = 0;
};

// Milliseconds since 1970-01-01 00:00 UTC: the process fault plan's
// epoch_clock when it has one, else the system clock.
int64_t EpochMillisecondsNow();

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_CLOCK_H_
