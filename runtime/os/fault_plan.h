// The one fault plan of the operating-system seam.
//
// Every call the seam makes (opens, reads, writes, syncs, directory syncs,
// truncations, renames, links, unlinks, folder creation, byte-range locks,
// lock pauses) is first counted against a FaultPlan when one is attached:
// the process's plan (SetProcessFaultPlan), or a file's own
// (OsFile::set_fault_plan). With it a test can
//   - fail the n-th call of a kind, or every call of a kind from the n-th
//     on, with a chosen errno (FailAt, FailFrom);
//   - see every call and fail any of them (observe);
//   - "kill the process" before the k-th write or sync, or at a named point
//     of a multi-step update (Point): from then on nothing more reaches the
//     disk and every call of the seam fails (opens, reads, locks and name
//     questions as well as changes), leaving the files exactly as a killed
//     process would and letting no code run on as if it had lived; with
//     exit_on_stop the process really ends;
//   - model a power cut instead (lose_unsynced): at the stop, each write
//     made since its file's last sync is kept or undone at random, so a test
//     can prove that each step which must be durable before the next is
//     separated from it by a sync;
//   - set the clock (local_clock, epoch_clock) while the plan is the
//     process's.
//
// Threads: the plan's counts are kept under one mutex, so the seam may be
// used from several threads while a plan is attached; `observe` runs outside
// that mutex and must do its own locking. Attach and detach plans while no
// other thread is inside a test's critical section.

#ifndef QZR_RUNTIME_OS_FAULT_PLAN_H_
#define QZR_RUNTIME_OS_FAULT_PLAN_H_

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/os/clock.h"

namespace qzr {

// The kinds of call the seam makes.
enum class OsCall : uint8_t {
  kOpen,
  kRead,
  kWrite,
  kSync,
  kDirectorySync,
  kTruncate,
  kRename,
  kLink,
  kUnlink,
  kMakeDirectory,
  kLock,      // OsTryLock
  kUnlock,    // OsUnlock
  kTestLock,  // OsTestLock
  kSleep,     // OsLockSleep (the pause is `length` milliseconds)
  kStat,      // a question about a name (runtime/os/file_system.h)
};
inline constexpr size_t kOsCallKinds = 15;

// One call, as a plan's observer sees it.
struct OsCallInfo {
  explicit OsCallInfo(OsCall kind) : call(kind) {}

  OsCall call;
  std::string_view path;   // the file or name ("" for a lock by descriptor)
  int fd = -1;             // the descriptor, when the call has one
  uint64_t start = 0;      // a read's or write's offset; a lock range's start
  uint64_t length = 0;     // bytes; a lock range's length; a pause in ms
  bool exclusive = false;  // an exclusive lock; an open that may create
};

// The exit status of a process that a plan with exit_on_stop ended.
inline constexpr int kFaultExitCode = 42;

struct FaultPlan {
  // ---- What goes wrong. Counts are 1-based and start when the plan is made.

  // The n-th call of `call`'s kind fails with `err`; later ones succeed.
  void FailAt(OsCall call, int n, int err = EIO) { failures.push_back({call, n, err, false}); }
  // The n-th call of the kind and every later one fail with `err`.
  void FailFrom(OsCall call, int n, int err = EIO) { failures.push_back({call, n, err, true}); }

  struct Failure {
    OsCall call;
    int at;
    int err;
    bool onward;
  };
  std::vector<Failure> failures;

  int stop_before_write = 0;  // this write and everything after it never happen
  int stop_before_sync = 0;   // this sync (file or directory) and everything after
  std::string stop_at;        // stop when the code passes this named point

  // A real death: at the stop the process ends at once with
  // _exit(kFaultExitCode), without unwinding (crash tests in children).
  bool exit_on_stop = false;

  // Power cut: at the stop, each write since its file's last sync survives
  // with probability 1/2, drawn from `loss_seed`.
  bool lose_unsynced = false;
  uint32_t loss_seed = 1;

  // Sees every call after the counts and rules above; returning 0 lets it
  // proceed, any other value fails it with that errno without calling the
  // system (a failed pause is skipped).
  std::function<int(const OsCallInfo&)> observe;

  // The clock while this is the process's plan (empty: the system's).
  std::function<LocalDateTime()> local_clock;
  std::function<int64_t()> epoch_clock;  // milliseconds since 1970 (UTC)

  // ---- Observed.

  // Calls of a kind made through the plan.
  int count(OsCall call) const { return counts[static_cast<size_t>(call)]; }
  // Syncs of files and of folders (what stop_before_sync counts).
  int syncs() const { return count(OsCall::kSync) + count(OsCall::kDirectorySync); }
  bool stopped = false;  // the simulated process has died
  int lost_writes = 0;   // unsynced writes undone at the stop

  // ---- The seam's bookkeeping.
  std::array<int, kOsCallKinds> counts{};
  struct PendingWrite {
    uint64_t offset;
    std::vector<uint8_t> data;
  };
  struct Pending {
    std::vector<uint8_t> synced_bytes;  // the whole file at its last sync
    std::vector<PendingWrite> writes;   // in order
  };
  std::map<std::string, Pending> pending;  // unsynced writes per path (lose_unsynced)
};

// Attaches `plan` as the process's (nullptr detaches; not owned) and returns
// the previous one. Test-only.
FaultPlan* SetProcessFaultPlan(FaultPlan* plan);
FaultPlan* ProcessFaultPlan();

// A named point of an update, checked against the process's plan. Returns
// false when the plan stops the process there (or had stopped it before).
bool ProcessPoint(const char* name);

// Attaches a plan for a scope and restores the previous one.
class ScopedFaultPlan {
 public:
  explicit ScopedFaultPlan(FaultPlan* plan) : previous_(SetProcessFaultPlan(plan)) {}
  ~ScopedFaultPlan() { SetProcessFaultPlan(previous_); }
  ScopedFaultPlan(const ScopedFaultPlan&) = delete;
  ScopedFaultPlan& operator=(const ScopedFaultPlan&) = delete;

 private:
  FaultPlan* previous_;
};

namespace os_internal {

// The errno every call sees once the simulated process has died.
inline constexpr int kStoppedErrno = EIO;

// Counts `info` against `plan` (nullptr: none) and applies its rules.
// Returns 0 to go ahead, or the errno to fail with.
int Enter(FaultPlan* plan, const OsCallInfo& info);
// True iff `plan`'s simulated process has died.
bool Stopped(FaultPlan* plan);
// A named point against `plan`; false when it stops (or has stopped) there.
bool Point(FaultPlan* plan, const char* name);
// Records a write about to be made to `path` (power-cut model).
void Journal(FaultPlan* plan, const std::string& path, uint64_t offset, const void* data,
             size_t len);
// The file at `path` was synced: its journal is durable.
void Synced(FaultPlan* plan, const std::string& path);

}  // namespace os_internal
}  // namespace qzr

#endif  // QZR_RUNTIME_OS_FAULT_PLAN_H_
