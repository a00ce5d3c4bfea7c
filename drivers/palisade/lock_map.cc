// The lock map of one file object over the byte-range lock seam. Not
// thread-safe by itself: the driver serialises the calls of a file object.

#include "drivers/palisade/lock_map.h"

#include <cerrno>
#include <random>

#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"
#include "runtime/os/file_lock.h"

namespace qzr::palisade {

LockMap::LockMap(int fd) : LockMap(fd, RandomSlot()) {}

LockMap::LockMap(int fd, uint32_t slot)
    : fd_(fd), exclusive_(OsLockCanBeExclusive(fd)), slot_(slot % kReaderSlotCount) {}

uint32_t LockMap::RandomSlot() {
  std::random_device source;
  return static_cast<uint32_t>(source() % kReaderSlotCount);
}

OsStatus LockMap::TryOnce(uint64_t position, LockKind kind) {
  if (position > 0) return OsTryLock(fd_, kHoldBase + position, 1, exclusive_);
  switch (kind) {
    case LockKind::kWriter:
      return OsTryLock(fd_, kWriterByte, 1, exclusive_);
    case LockKind::kReaderSlot:
      return OsTryLock(fd_, kReaderSlotBase + slot_, 1, exclusive_);
    case LockKind::kAllSlots:
      return OsTryLock(fd_, kReaderSlotBase, kReaderSlotCount, exclusive_);
  }
  return OsStatus::Error(EINVAL);
}

OsStatus LockMap::LockRange(uint64_t position, LockKind kind, bool wait) {
  if (position > 0 && kind != LockKind::kWriter) Corruption(kCheckLockKind);
  for (int attempt = 1;; ++attempt) {
    const OsStatus s = TryOnce(position, kind);
    if (s.ok()) break;
    last_errno_ = s.error();
    if (trace_) trace_("LockFile failed with error " + std::to_string(OsErrorFromErrno(s.error())));
    // Only contention is worth another try: retrying a bad descriptor would,
    // with `wait`, spin for ever.
    if (!s.Is(EAGAIN)) return s;
    if (!wait && attempt >= kLockAttempts) return s;
    if (kind == LockKind::kReaderSlot) slot_ = (slot_ + 1) % kReaderSlotCount;
    OsLockSleep(kLockRetryMilliseconds);
  }
  if (position == 0) {
    switch (kind) {
      case LockKind::kWriter:
        writer_held_ = true;
        break;
      case LockKind::kReaderSlot:
        slot_held_ = true;
        break;
      case LockKind::kAllSlots:
        all_slots_held_ = true;
        break;
    }
  }
  return OsStatus::Ok();
}

void LockMap::UnlockRange(uint64_t position, LockKind kind) {
  auto unlock = [this](uint64_t start, uint64_t length) {
    // A lock that cannot be released is remembered for the trace; the
    // operation goes on (the byte goes with the descriptor at the latest).
    if (const OsStatus s = OsUnlock(fd_, start, length); !s.ok()) last_errno_ = s.error();
  };
  if (position > 0) {
    unlock(kHoldBase + position, 1);
    return;
  }
  switch (kind) {
    case LockKind::kWriter:
      if (writer_held_) unlock(kWriterByte, 1);
      writer_held_ = false;
      break;
    case LockKind::kReaderSlot:
      // While the slot range is held the own slot is part of it; unlocking
      // the byte would punch a hole in the range. EndWriteOut frees it.
      if (slot_held_ && !all_slots_held_) unlock(kReaderSlotBase + slot_, 1);
      slot_held_ = false;
      break;
    case LockKind::kAllSlots:
      if (!all_slots_held_) break;
      // Locks of one open file description merge: the range swallowed the
      // own slot byte, so release around it when a reading operation still
      // needs it.
      if (slot_held_) {
        unlock(kReaderSlotBase, slot_);
        unlock(kReaderSlotBase + slot_ + 1, kReaderSlotCount - slot_ - 1);
      } else {
        unlock(kReaderSlotBase, kReaderSlotCount);
      }
      all_slots_held_ = false;
      break;
  }
}

int LockMap::BeginOperation(bool changing, bool wait) {
  const OsStatus s = LockRange(0, changing ? LockKind::kWriter : LockKind::kReaderSlot, wait);
  if (s.ok()) return 0;
  return s.Is(EAGAIN) ? kAccessDenied : PostOsFailure(s);
}

void LockMap::EndOperation() {
  UnlockRange(0, LockKind::kAllSlots);
  UnlockRange(0, LockKind::kReaderSlot);
  UnlockRange(0, LockKind::kWriter);
}

int LockMap::BeginWriteOut() {
  const OsStatus s = LockRange(0, LockKind::kAllSlots, true);
  return s.ok() ? 0 : PostOsFailure(s);
}

void LockMap::EndWriteOut() {
  UnlockRange(0, LockKind::kAllSlots);
}

int LockMap::Hold(uint32_t row) {
  // Holding again what this object holds is a no-op success: the byte is
  // ours, and one RELEASE frees it.
  if (holds_.count(row)) return 0;
  const OsStatus s = LockRange(uint64_t{row} + 1, LockKind::kWriter, false);
  if (s.ok()) {
    holds_.insert(row);
    return 0;
  }
  return s.Is(EAGAIN) ? kRecordIsAlreadyHeld : PostOsFailure(s);
}

void LockMap::Release(uint32_t row) {
  if (holds_.erase(row)) UnlockRange(uint64_t{row} + 1, LockKind::kWriter);
}

int LockMap::Lock(uint32_t table) {
  auto it = locks_.find(table);
  if (it != locks_.end()) {
    ++it->second;
    return 0;
  }
  const OsStatus s = LockRange(uint64_t{table} + 1, LockKind::kWriter, false);
  if (s.ok()) {
    locks_[table] = 1;
    return 0;
  }
  return s.Is(EAGAIN) ? kFileIsAlreadyLocked : PostOsFailure(s);
}

void LockMap::Unlock(uint32_t table) {
  auto it = locks_.find(table);
  if (it == locks_.end()) return;
  if (--it->second == 0) {
    locks_.erase(it);
    UnlockRange(uint64_t{table} + 1, LockKind::kWriter);
  }
}

int LockMap::LockCount(uint32_t table) const {
  auto it = locks_.find(table);
  return it == locks_.end() ? 0 : it->second;
}

void LockMap::ReleaseAll() {
  EndOperation();
  for (uint32_t row : holds_) UnlockRange(uint64_t{row} + 1, LockKind::kWriter);
  holds_.clear();
  for (const auto& [table, count] : locks_) UnlockRange(uint64_t{table} + 1, LockKind::kWriter);
  locks_.clear();
}

bool LockMap::CheckInvariants() const {
  if (slot_ >= kReaderSlotCount) return false;
  if (all_slots_held_ && !slot_held_ && !writer_held_) return false;
  for (const auto& [table, count] : locks_) {
    if (count < 1 || holds_.count(table)) return false;
  }
  return true;
}

}  // namespace qzr::palisade
