// The byte-range lock seam: open-file-description locks on an operating-
// system file.
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
// Every call is counted against the process fault plan (OsCall::kLock,
// kUnlock, kTestLock, kSleep), so tests can fail a lock call with any errno,
// count attempts, or observe and skip the retry pauses. Threads: safe from
// any thread.

#ifndef QZR_RUNTIME_OS_FILE_LOCK_H_
#define QZR_RUNTIME_OS_FILE_LOCK_H_

#include <cstdint>

#include "runtime/os/os_status.h"

namespace qzr {

// Tries to lock [start, start + length) without waiting: exclusively when
// `exclusive` (and the descriptor is writable), shared otherwise. Returns ok,
// EAGAIN when another open file description holds a conflicting lock, or the
// errno of another failure (EBADF, ENOLCK, ...). A range this descriptor
// already holds is taken over (merged or converted), never refused.
OsStatus OsTryLock(int fd, uint64_t start, uint64_t length, bool exclusive);

// Releases [start, start + length) for this descriptor; parts not held are
// ignored.
OsStatus OsUnlock(int fd, uint64_t start, uint64_t length);

// Asks whether a lock of the kind would be refused now; sets *conflict.
OsStatus OsTestLock(int fd, uint64_t start, uint64_t length, bool exclusive, bool* conflict);

// Pauses between lock attempts.
void OsLockSleep(int milliseconds);

// Returns true iff the descriptor is open for writing (so can lock
// exclusively).
bool OsLockCanBeExclusive(int fd);

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_FILE_LOCK_H_
