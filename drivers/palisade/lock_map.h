// The lock map of one open Palisade file object: reader slots, the writer
// byte, the slot range taken while changes are written out, and the hold and
// lock bytes of rows and tables.
//
// All ranges lie far past any data (the file never grows that far):
//
//   OFFSET                 LENGTH  MEANING
//   0x80000000 + s         1       reader slot s (0..1022): held during a
//                                  reading operation; one per file object
//   0x80000000             1023    all reader slots: taken, waiting, while
//                                  changes are written out
//   0x800003FF             1       writer byte: held during a changing
//                                  operation (and while recovery commits)
//   0x80000400 + n         1       hold or lock n = row or table number + 1
//
// A lock attempt that fails because another file object holds the range is
// retried after 1 ms; without `wait` the attempt gives up after 3 tries, with
// `wait` it goes on until it succeeds. A reader-slot attempt that fails moves
// the object to the next slot (s + 1 modulo 1023) before the next try, so two
// file objects never settle on one slot. Any other failure (a bad
// descriptor, no lock resources) is not contention: it ends the attempt at
// once, even with `wait`, and is reported as the operating-system error.
//
// Invariants (CheckInvariants):
//   1. The reader slot is held iff a reading operation is open; the writer
//      byte iff a changing operation is open (recovery inside a reading
//      operation may take the writer byte too).
//   2. The slot range is held only inside an operation, and releasing it
//      leaves this object's own reader slot as it was.
//   3. holds_ lists exactly the hold bytes held; locks_ the table bytes with
//      their counts (each at least 1).
//
//   idle --BeginOperation(false)--> reading --EndOperation--> idle
//   idle --BeginOperation(true)---> changing --EndOperation--> idle
//   reading/changing --BeginWriteOut--> writing out --EndWriteOut--> back
//   any state: Hold/Release, Lock/Unlock; ReleaseAll --> idle, nothing held
//
// Locks belong to the descriptor's open file description (file_lock.h), so a
// LockMap is bound to the descriptor of its own file object and conflicts
// with every other file object on the same file, in this process or another.
//
// Threads: a LockMap belongs to one file object, whose calls the driver
// serialises; it does no locking of its own.

#ifndef QZR_DRIVERS_PALISADE_LOCK_MAP_H_
#define QZR_DRIVERS_PALISADE_LOCK_MAP_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "runtime/os/os_status.h"

namespace qzr::palisade {

inline constexpr uint64_t kReaderSlotBase = 0x80000000;
inline constexpr uint32_t kReaderSlotCount = 1023;
inline constexpr uint64_t kWriterByte = 0x800003FF;
inline constexpr uint64_t kHoldBase = 0x80000400;
inline constexpr int kLockAttempts = 3;
inline constexpr int kLockRetryMilliseconds = 1;

// Corruption check: a hold position given with a kind other than the writer
// kind.
inline constexpr int kCheckLockKind = 2328;

enum class LockKind : int {
  kWriter = 0,      // the writer byte, or with a position > 0 a hold byte
  kReaderSlot = 1,  // this object's reader slot
  kAllSlots = 2,    // every reader slot
};

class LockMap {
 public:
  // Binds to `fd` (not owned; the file object's own descriptor) with a
  // reader slot chosen at random.
  explicit LockMap(int fd);
  // Binds with the given starting slot (taken modulo 1023).
  LockMap(int fd, uint32_t slot);
  // Touches nothing: closing the descriptor releases every lock of its open
  // file description, and the descriptor may already be closed (its number
  // even reused) when the map goes.
  ~LockMap() = default;
  LockMap(const LockMap&) = delete;
  LockMap& operator=(const LockMap&) = delete;

  // A slot drawn from the system's random source (so that a forked process
  // does not repeat its parent's draw).
  static uint32_t RandomSlot();

  // The primitive: position n > 0 locks hold byte 0x80000400 + n (kind must
  // be kWriter, else check 2328); position 0 locks the range of `kind`.
  // Returns ok, EAGAIN when other file objects kept it for every attempt, or
  // the errno of a failure that is not contention. A failed attempt is
  // traced as "LockFile failed with error <code>" (the operating-system
  // error number). The state of position-0 kinds is tracked here; hold and
  // table bytes are counted only through Hold and Lock.
  OsStatus LockRange(uint64_t position, LockKind kind, bool wait);
  void UnlockRange(uint64_t position, LockKind kind);

  // Opens an operation on a shared file: the reader slot for a reading one,
  // the writer byte for a changing one. Returns 0; 5 ("Access Denied") when
  // the lock stayed taken; 90 on any other failure. Codes other than 90 are
  // only returned, for the operation to report; 90 is also posted with the
  // operating-system error (FILEERRORCODE), as are the 90s below.
  int BeginOperation(bool changing, bool wait);
  void EndOperation();

  // Takes every reader slot, waiting until no reader is inside an
  // operation, before changes are written out. Returns 0, or 90 (posted).
  int BeginWriteOut();
  void EndWriteOut();

  // HOLD and RELEASE of a row. Holding a row this object already holds
  // succeeds. Returns 0; 43 ("Record Is Already Held") when another file
  // object holds it after 3 attempts; 90 (posted) on any other failure.
  int Hold(uint32_t row);
  void Release(uint32_t row);
  bool IsHeld(uint32_t row) const { return holds_.count(row) != 0; }

  // LOCK and UNLOCK of a table, counted: each Lock needs its Unlock.
  // Returns 0; 32 ("File Is Already Locked"); 90 (posted).
  int Lock(uint32_t table);
  void Unlock(uint32_t table);
  int LockCount(uint32_t table) const;

  // Ends the use of the file: unlocks the writer byte, the reader slot, the
  // slot range, every hold and every table lock.
  void ReleaseAll();

  uint32_t slot() const { return slot_; }
  bool reading() const { return slot_held_; }
  bool changing() const { return writer_held_; }
  bool writing_out() const { return all_slots_held_; }
  // The errno of the last failed lock attempt (0 when none failed yet).
  int last_errno() const { return last_errno_; }

  // Where failed attempts are traced (the file's trace); none by default.
  void set_trace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

  // Returns true iff the invariants above hold (for debug assertions).
  bool CheckInvariants() const;

 private:
  OsStatus TryOnce(uint64_t position, LockKind kind);

  int fd_;
  bool exclusive_;  // the descriptor can take exclusive locks
  uint32_t slot_;
  bool slot_held_ = false;
  bool writer_held_ = false;
  bool all_slots_held_ = false;
  std::set<uint32_t> holds_;
  std::map<uint32_t, int> locks_;
  int last_errno_ = 0;
  std::function<void(const std::string&)> trace_;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_LOCK_MAP_H_
