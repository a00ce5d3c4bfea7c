// The fault plan's counts, rules and the power-cut model. One mutex guards
// every plan's bookkeeping; the observer runs outside it.

#include "runtime/os/fault_plan.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>

namespace qzr {
namespace {

std::atomic<FaultPlan*> g_process_plan{nullptr};
std::mutex g_plan_mutex;

// Whole-file read and write beside the seam: the power-cut model puts files
// back as the device would have kept them.
void SlurpFile(const std::string& path, std::vector<uint8_t>* out) {
  out->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  uint8_t buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->insert(out->end(), buf, buf + n);
  }
  ::close(fd);
}

void ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;  // renamed or removed since: nothing to put back
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
}

// Marks the plan stopped, first undoing unsynced writes when it loses them.
// REQUIRES: g_plan_mutex held.
void Stop(FaultPlan* plan) {
  if (plan->stopped) return;
  plan->stopped = true;
  if (plan->lose_unsynced) {
    // Each unsynced write reached the device or not, independently; a later
    // write that survives lands over whatever the earlier ones left.
    std::mt19937 rng(plan->loss_seed);
    for (auto& [path, pending] : plan->pending) {
      std::vector<uint8_t> bytes = pending.synced_bytes;
      for (const FaultPlan::PendingWrite& w : pending.writes) {
        if (rng() % 2 == 0) {
          ++plan->lost_writes;
          continue;
        }
        if (bytes.size() < w.offset + w.data.size()) bytes.resize(w.offset + w.data.size());
        std::copy(w.data.begin(), w.data.end(), bytes.begin() + static_cast<ptrdiff_t>(w.offset));
      }
      ReplaceFile(path, bytes);
    }
    plan->pending.clear();
  }
  if (plan->exit_on_stop) ::_exit(kFaultExitCode);
}

}  // namespace

FaultPlan* SetProcessFaultPlan(FaultPlan* plan) {
  return g_process_plan.exchange(plan);
}

FaultPlan* ProcessFaultPlan() {
  return g_process_plan.load();
}

bool ProcessPoint(const char* name) {
  return os_internal::Point(g_process_plan.load(), name);
}

namespace os_internal {

int Enter(FaultPlan* plan, const OsCallInfo& info) {
  if (plan == nullptr) return 0;
  {
    std::lock_guard<std::mutex> lock(g_plan_mutex);
    const int n = ++plan->counts[static_cast<size_t>(info.call)];
    if (info.call == OsCall::kWrite && plan->stop_before_write != 0 &&
        n >= plan->stop_before_write) {
      Stop(plan);
    }
    if (info.call == OsCall::kSync || info.call == OsCall::kDirectorySync) {
      if (plan->stop_before_sync != 0 && plan->syncs() >= plan->stop_before_sync) Stop(plan);
    }
    // A dead process does nothing more: not even a read or an open may let
    // the code behind it carry on as though it had lived.
    if (plan->stopped) return kStoppedErrno;
    for (const FaultPlan::Failure& f : plan->failures) {
      if (f.call == info.call && (n == f.at || (f.onward && n >= f.at))) return f.err;
    }
  }
  return plan->observe ? plan->observe(info) : 0;
}

bool Stopped(FaultPlan* plan) {
  if (plan == nullptr) return false;
  std::lock_guard<std::mutex> lock(g_plan_mutex);
  return plan->stopped;
}

bool Point(FaultPlan* plan, const char* name) {
  if (plan == nullptr) return true;
  std::lock_guard<std::mutex> lock(g_plan_mutex);
  if (!plan->stopped && !plan->stop_at.empty() && plan->stop_at == name) Stop(plan);
  return !plan->stopped;
}

void Journal(FaultPlan* plan, const std::string& path, uint64_t offset, const void* data,
             size_t len) {
  if (plan == nullptr || !plan->lose_unsynced) return;
  std::lock_guard<std::mutex> lock(g_plan_mutex);
  auto [it, fresh] = plan->pending.try_emplace(path);
  if (fresh) SlurpFile(path, &it->second.synced_bytes);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  it->second.writes.push_back({offset, std::vector<uint8_t>(p, p + len)});
}

void Synced(FaultPlan* plan, const std::string& path) {
  if (plan == nullptr) return;
  std::lock_guard<std::mutex> lock(g_plan_mutex);
  plan->pending.erase(path);
}

}  // namespace os_internal
}  // namespace qzr
