// The system clock behind the process fault plan's override.

#include "runtime/os/clock.h"

#include <chrono>
#include <ctime>

#include "runtime/os/fault_plan.h"

namespace qzr {

LocalDateTime LocalNow() {
  if (FaultPlan* plan = ProcessFaultPlan(); plan != nullptr && plan->local_clock) {
    return plan->local_clock();
  }
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
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
  t.millisecond = static_cast<int>(ms < 0 ? ms + 1000 : ms);
  return t;
}

int64_t EpochMillisecondsNow() {
  if (FaultPlan* plan = ProcessFaultPlan(); plan != nullptr && plan->epoch_clock) {
    return plan->epoch_clock();
  }
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace qzr
