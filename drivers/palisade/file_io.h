// The operating-system file seam of the Palisade driver, with fault injection.
//
// OsFile wraps one POSIX file descriptor (opened O_CLOEXEC) and performs
// positional reads and writes, fdatasync and truncation. Every write, sync
// and truncation first consults an optional FaultPlan (the file's own, or
// else the process-wide one), so a test can fail the Nth write or flush, or
// "kill the process" before the k-th write or at a named point: from then on
// nothing more reaches the disk and every call fails, leaving the file
// exactly as a killed process would. A plan that also loses unsynced data
// models a power cut instead: at the stop, every write made since its
// file's last sync is kept or undone at random (per write, in any
// combination), so a test can prove that each step which must be durable
// before the next is separated from it by a sync.
//
// ReadBlock/WriteBlock (and their Exact forms) are the block layer on top:
// transfers are whole 64-byte units, enciphered on the way out and
// deciphered on the way in when a UnitCipher is attached. Structural misuse
// (a length not a multiple of 64, an offset past 4 GiB, a failed or short
// read) is a numbered corruption check; a failed write is an operating-system
// error that the file remembers (the failed state) and that the caller
// reports as ERRORCODE 90.
//
// Threads: an OsFile belongs to one open Palisade file, whose calls the
// driver serialises; it does no locking of its own.

#ifndef QZR_DRIVERS_PALISADE_FILE_IO_H_
#define QZR_DRIVERS_PALISADE_FILE_IO_H_

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/palisade/unit_cipher.h"

namespace qzr::palisade {

// What a test wants to go wrong. Counters start at zero when the plan is
// attached; numbers are 1-based counts of calls through the file.
struct FaultPlan {
  int fail_write_at = 0;      // this write fails with fail_errno (0: none); later ones succeed
  int fail_writes_from = 0;   // this write and every later one fail with fail_errno
  int fail_errno = EIO;       // or ENOSPC for a full disk
  int fail_sync_at = 0;       // this sync fails with EIO (0: none)
  int stop_before_write = 0;  // this write and everything after it never happen
  int stop_before_sync = 0;   // this sync and everything after it never happen
  int fail_open_at = 0;       // this OsFile::Open fails with fail_errno (0: none)
  int fail_rename_at = 0;     // this RenameFile fails with fail_errno (0: none)
  std::string stop_at;        // stop when the code passes this named point

  // A real death: at the stop the process ends at once with _exit(
  // kFaultExitCode), without unwinding (for crash tests in child processes).
  bool exit_on_stop = false;

  // Power cut: at the stop, each write since its file's last sync survives
  // with probability 1/2, drawn from `loss_seed`.
  bool lose_unsynced = false;
  uint32_t loss_seed = 1;

  // Observed.
  int writes = 0;        // writes attempted
  int syncs = 0;         // syncs attempted (directory syncs included)
  int opens = 0;         // OsFile::Open calls made while the plan was the process's
  int renames = 0;       // RenameFile calls
  bool stopped = false;  // the simulated process has died
  int lost_writes = 0;   // unsynced writes undone at the stop

  // Unsynced writes per path, kept only with lose_unsynced.
  struct PendingWrite {
    uint64_t offset;
    std::vector<uint8_t> data;
  };
  struct Pending {
    uint64_t synced_size = 0;           // the file's length at its last sync
    std::vector<uint8_t> synced_bytes;  // its contents then (whole file)
    std::vector<PendingWrite> writes;   // in order
  };
  std::map<std::string, Pending> pending;
};

class OsFile {
 public:
  // Opens `path`; with `writable` read and write, otherwise read only; with
  // `create` the file is created when missing (never truncated). Returns 0 or
  // the errno value.
  static int Open(const std::string& path, bool writable, bool create,
                  std::unique_ptr<OsFile>* out);

  ~OsFile();
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  // The descriptor, for byte-range locks that must belong to this file
  // object. Never close it.
  int fd() const { return fd_; }
  // True iff Open created the file (its name is not yet durable until the
  // directory is synced: SyncDirectoryOf).
  bool created() const { return created_; }

  // Reads up to `len` bytes at `offset` into `buf`; *got is the count read
  // (short at end of file). Returns 0 or errno.
  int ReadAt(uint64_t offset, void* buf, size_t len, size_t* got);
  // Writes all `len` bytes at `offset`. Returns 0 or errno (ENOSPC when the
  // system accepted only part).
  int WriteAt(uint64_t offset, const void* buf, size_t len);
  int Sync();
  int Truncate(uint64_t size);
  // The file's current length, or -1 with errno set.
  int64_t Size();

  // A named point in a multi-step update. Returns false when the fault plan
  // stops the process here (and from then on every write fails).
  bool Point(const char* name);

  // The test's fault plan (not owned; nullptr detaches).
  void set_fault_plan(FaultPlan* plan) { faults_ = plan; }
  // A plan consulted by every OsFile that has none of its own, so that one
  // count of writes spans every file an update touches (data files and
  // control files alike). Not owned; nullptr detaches. Test-only; set it
  // while no file is in use on another thread.
  static void SetProcessFaultPlan(FaultPlan* plan);
  static FaultPlan* process_fault_plan();
  // A named point of an update spanning files, checked against the
  // process-wide plan. Returns false when the plan stops there.
  static bool ProcessPoint(const char* name);

  // The unit cipher (not owned; nullptr for a plain file).
  void set_cipher(const UnitCipher* cipher) { cipher_ = cipher; }
  const UnitCipher* cipher() const { return cipher_; }

  // The failed state: the errno of the first failed write or sync. While set,
  // block writes are skipped. Cleared by ClearFailed (after a rollback).
  int failed_errno() const { return failed_errno_; }
  void set_failed(int err) {
    if (failed_errno_ == 0) failed_errno_ = err;
  }
  void ClearFailed() { failed_errno_ = 0; }

 private:
  OsFile(int fd, std::string path, bool writable)
      : fd_(fd), path_(std::move(path)), writable_(writable) {}
  FaultPlan* plan() const;
  // Marks the plan stopped, first undoing unsynced writes when it loses them.
  static void Stop(FaultPlan* plan);
  void Journal(FaultPlan* plan, uint64_t offset, const void* buf, size_t len);

  int fd_;
  std::string path_;
  bool writable_;
  FaultPlan* faults_ = nullptr;
  const UnitCipher* cipher_ = nullptr;
  int failed_errno_ = 0;
  bool created_ = false;
};

inline constexpr size_t kBlockUnit = 64;

// The exit status of a process that a fault plan with exit_on_stop ended.
inline constexpr int kFaultExitCode = 42;

// Reads `length` bytes at `offset`, deciphering each 64-byte unit with
// `home_offset` as the tweak of the first. The pager enciphers every unit
// for the offset where it is written, shadow copies included, so callers
// pass `offset` (the short form); the tweak stays a parameter for tools
// that move enciphered blocks. Returns the bytes read (short at
// end of file; the bytes past what was read are left as they were). A null
// file reads nothing and returns 0.
// Checks: 2272 length not a multiple of 64; 2341 offset past 4 GiB; 2277 the
// read failed.
size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
                 uint64_t home_offset);
inline size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer) {
  return ReadBlock(file, offset, length, buffer, offset);
}
// ReadBlock that must read all `length` bytes (check 2172 otherwise).
void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer, uint64_t home_offset);
inline void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer) {
  ReadExact(file, offset, length, buffer, offset);
}

// Writes `length` bytes at `offset`, enciphered with `home_offset` as the
// tweak of the first unit (the pager passes `offset`: a shadow copy is
// enciphered for where it lies, so that recovery can decipher it before it
// knows its home, and enciphered again for home when it is copied there).
// The caller's buffer is not changed. Returns true on success; false when the write failed (the
// file enters the failed state) or was skipped because the file already had. Checks: 2286 length
// not a multiple of 64; 2341 offset past 4 GiB.
bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer,
                uint64_t home_offset);
inline bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer) {
  return WriteBlock(file, offset, length, buffer, offset);
}

// Flushes the file's buffers to the device. Returns true on success; a
// failure puts the file in the failed state.
bool FlushBuffers(OsFile* file);

// Flushes the directory holding `path`, so that a file created or removed
// there survives a crash as such. Goes through the process-wide fault plan
// (counted as a sync). Returns 0 or errno.
int SyncDirectoryOf(const std::string& path);

// Whole-file operations of the store, through the process-wide fault plan:
// once the simulated process has stopped they do nothing and fail. Each
// returns 0 or errno.
//
// Renames `from` over `to` (atomically replacing it).
int RenameFile(const std::string& from, const std::string& to);
// Makes `to` a second name of `from`, refusing an existing `to` (EEXIST).
int LinkFile(const std::string& from, const std::string& to);
// Removes the name `path`.
int UnlinkFile(const std::string& path);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_FILE_IO_H_
