// The byte-range lock seam: open-file-description locks on an operating-
// system file, with a fault-injection hook.
//
// Locks are taken with fcntl F_OFD_SETLK and probed with F_OFD_GETLK. They
// belong to the open file description, not to the process: two descriptors
// opened separately on one file conflict with each other even inside one
// process (as two handles of one file do on systems with per-handle locks),
// and closing some other descriptor of the file never drops them. Classic
// process-wide F_SETLK locks are never used: a close of any descriptor of the
// file anywhere in the process would silently release them.
//
// Only a descriptor open for writing can take an exclusive lock; on a
// read-only descriptor the lock is shared. Ranges may lie far beyond the end
// of the file; nothing is written there.
//
// Every call goes through the process-wide hook when one is set, so tests can
// fail a lock call with any errno, count attempts, or observe the retry
// sleeps. Threads: the functions are safe from any thread; the hook is
// swapped under a mutex and called outside it.

#ifndef QZR_DRIVERS_PALISADE_FILE_LOCK_H_
#define QZR_DRIVERS_PALISADE_FILE_LOCK_H_

#include <cstdint>
#include <functional>

namespace qzr::palisade {

enum class LockOp : uint8_t {
  kLock,    // OsTryLock
  kUnlock,  // OsUnlock
  kTest,    // OsTestLock
  kSleep,   // OsLockSleep (start and length are 0; the pause is `length` ms)
};

struct LockCall {
  LockOp op;
  int fd;
  uint64_t start;
  uint64_t length;
  bool exclusive;
};

// Sees every call before the system does. Returning 0 lets the call proceed;
// any other value fails it with that errno without calling the system (for a
// sleep: the pause is skipped).
using LockFaultHook = std::function<int(const LockCall&)>;

// Installs `hook` (an empty one removes it) and returns the previous one.
LockFaultHook SetLockFaultHook(LockFaultHook hook);

// Tries to lock [start, start + length) without waiting: exclusively when
// `exclusive` (and the descriptor is writable), shared otherwise. Returns 0,
// EAGAIN when another open file description holds a conflicting lock, or the
// errno of another failure (EBADF, ENOLCK, ...). A range this descriptor
// already holds is taken over (merged or converted), never refused.
int OsTryLock(int fd, uint64_t start, uint64_t length, bool exclusive);

// Releases [start, start + length) for this descriptor; parts not held are
// ignored. Returns 0 or errno.
int OsUnlock(int fd, uint64_t start, uint64_t length);

// Asks whether a lock of the kind would be refused now. Returns 0 and sets
// *conflict, or errno.
int OsTestLock(int fd, uint64_t start, uint64_t length, bool exclusive, bool* conflict);

// Pauses between lock attempts.
void OsLockSleep(int milliseconds);

// Returns true iff the descriptor is open for writing (so can lock
// exclusively).
bool OsLockCanBeExclusive(int fd);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_FILE_LOCK_H_
