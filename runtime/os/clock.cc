// The system clock behind the process fault plan's override.

#include "runtime/os/clock.h"

#include <chrono>
#include <ctime>

#include "runtime/os/fault_plan.h"

namespace qzr {

ClockStamp ClockStamp::Now() {
  ClockStamp stamp;
  if (FaultPlan* plan = ProcessFaultPlan(); plan != nullptr && plan->local_clock) {
    stamp.has_local_ = true;
    stamp.local_ = plan->local_clock();
    return stamp;
  }
  using namespace std::chrono;
  const auto now = system_clock::now();
  stamp.seconds_ = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  stamp.millisecond_ = static_cast<int>(ms < 0 ? ms + 1000 : ms);
  return stamp;
}

LocalDateTime ClockStamp::Local() const {
  if (has_local_) return local_;
  const std::time_t secs = static_cast<std::time_t>(seconds_);
  std::tm tm{};
  localtime_r(&secs, &tm);
  LocalDateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  // A leap second (tm_sec 60) is shown as the last second of the minute.
  t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  t.millisecond = millisecond_;
  return t;
}

LocalDateTime LocalNow() {
  return ClockStamp::Now().Local();
}

int64_t EpochMillisecondsNow() {
  if (FaultPlan* plan = ProcessFaultPlan(); plan != nullptr && plan->epoch_clock) {
    return plan->epoch_clock();
  }
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace qzr
