// The operating-system file seam: every file the program opens, reads,
// writes, syncs, renames, links or removes goes through here.
//
// OsFile wraps one POSIX file descriptor (opened O_CLOEXEC) and performs
// positional reads and writes, appends, fdatasync and truncation. Every call
// is first counted against a FaultPlan (runtime/os/fault_plan.h): the file's
// own, or else the process's. Opens and the whole-file operations (renames,
// links, unlinks, directory syncs, folder creation) count against the
// process's plan. Every call returns an OsStatus: errno values, never the
// runtime's error codes.
//
// An OsFile can also lend its committed bytes without a copy: ReadView
// answers from a read-only shared mapping of the file, but only below the
// length the file is known to have (the last Size answer, raised by the
// object's own writes, lowered by its own truncation), so that touching the
// mapping never meets a page past the end of the file (SIGBUS). A caller
// that shares the file with other processes must re-ask Size under the lock
// that keeps them from shortening it before it reads through views. Views
// count as reads against the fault plan, which can fail them.
//
// An OsFile also carries, for the block layer above it, an optional unit
// cipher and a failed state (the errno of the first failed write or sync,
// after which a block layer writes nothing more until the state is cleared).
//
// Threads: an OsFile belongs to one owner, whose calls it expects one at a
// time; it does no locking of its own. The free functions are safe from any
// thread.

#ifndef QZR_RUNTIME_OS_FILE_IO_H_
#define QZR_RUNTIME_OS_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/os/fault_plan.h"
#include "runtime/os/os_status.h"
#include "runtime/os/unit_cipher.h"

namespace qzr {

enum class OsAccess : uint8_t { kRead, kWrite, kReadWrite };

// One part of a vectored write (OsFile::WriteAtv).
struct OsWritePiece {
  const void* data;
  size_t len;
};

struct OsOpenOptions {
  OsAccess access = OsAccess::kRead;
  bool create = false;     // create the file when missing (never truncates)
  bool exclusive = false;  // with `create`: EEXIST when the name exists
  bool append = false;     // Append writes at the end, each call as a whole
  unsigned mode = 0666;    // permission bits of a created file, less the umask
};

// Identifies the file itself (not its name): equal for two names of one file.
struct OsFileId {
  uint64_t device = 0;
  uint64_t inode = 0;
};

class OsFile {
 public:
  // Opens `path`. A directory is refused (EISDIR).
  static OsStatus Open(const std::string& path, const OsOpenOptions& options,
                       std::unique_ptr<OsFile>* out);
  // Opens `path`; with `writable` read and write, otherwise read only; with
  // `create` the file is created when missing (never truncated).
  static OsStatus Open(const std::string& path, bool writable, bool create,
                       std::unique_ptr<OsFile>* out);

  ~OsFile();
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  // The descriptor, for byte-range locks that must belong to this file
  // object (runtime/os/file_lock.h). Never close it.
  int fd() const { return fd_; }
  // True iff Open created the file (its name is not yet durable until the
  // directory is synced: SyncDirectoryOf).
  bool created() const { return created_; }
  OsFileId id() const { return id_; }

  // Reads up to `len` bytes at `offset` into `buf`; *got is the count read
  // (short at end of file).
  OsStatus ReadAt(uint64_t offset, void* buf, size_t len, size_t* got);
  // Points *data at the `len` bytes at `offset` in the file's mapping, valid
  // until the next ReadView or Close, and while the file keeps that length.
  // *data is nullptr when no view can be had (the range
  // lies past the known length, or the file cannot be mapped): the caller
  // reads with ReadAt instead. An error is the fault plan's.
  OsStatus ReadView(uint64_t offset, size_t len, const uint8_t** data);
  // Writes all `len` bytes at `offset` (ENOSPC when the system accepted only
  // part).
  OsStatus WriteAt(uint64_t offset, const void* buf, size_t len);
  // Writes the `count` pieces back to back from `offset`, as WriteAt would
  // write them one after another, in as few system calls as it can. Each
  // piece counts as one write against the fault plan (and is journaled as
  // one by the power-cut model), so a plan that fails or stops the k-th
  // write lands inside the run: the pieces before it are written, that one
  // and those after it are not, and its error is returned.
  OsStatus WriteAtv(uint64_t offset, const OsWritePiece* pieces, size_t count);
  // Writes `len` bytes at the end of the file in one system call, so that
  // writers in other processes cannot land inside them. REQUIRES: opened
  // with `append`. A short write is reported as ENOSPC.
  OsStatus Append(const void* buf, size_t len);
  OsStatus Sync();
  OsStatus Truncate(uint64_t size);
  // The file's current length in *size.
  OsStatus Size(uint64_t* size);
  // Sets the file's permission bits.
  OsStatus SetPermissions(unsigned mode);
  // Closes the descriptor now and reports the close's own error (a write
  // the system had buffered may fail only here). Later calls fail (EBADF).
  OsStatus Close();

  // A named point in a multi-step update. Returns false when the fault plan
  // stops the process here (and from then on every changing call fails).
  bool Point(const char* name);

  // The test's fault plan (not owned; nullptr detaches).
  void set_fault_plan(FaultPlan* plan) { faults_ = plan; }

  // The unit cipher of the block layer above (not owned; nullptr: plain).
  void set_cipher(const UnitCipher* cipher) { cipher_ = cipher; }
  const UnitCipher* cipher() const { return cipher_; }

  // The failed state: the errno of the first failed write or sync. Cleared
  // by ClearFailed (after a rollback).
  int failed_errno() const { return failed_errno_; }
  void set_failed(int err) {
    if (failed_errno_ == 0) failed_errno_ = err;
  }
  void ClearFailed() { failed_errno_ = 0; }

 private:
  OsFile(int fd, std::string path, bool writable)
      : fd_(fd), path_(std::move(path)), writable_(writable) {}
  FaultPlan* plan() const;
  int Enter(OsCall call, uint64_t start, uint64_t length);
  // Maps at least the known length; false when the system refuses.
  bool Remap();
  void Unmap();
  // Takes `length` as the known length; the chunks from where it changed
  // on are no longer populated.
  void SetKnownLength(uint64_t length);

  int fd_;
  std::string path_;
  bool writable_;
  bool created_ = false;
  OsFileId id_;
  FaultPlan* faults_ = nullptr;
  const UnitCipher* cipher_ = nullptr;
  int failed_errno_ = 0;
  // The read-only mapping (map_ is nullptr when there is none) and the length
  // below which it may be read.
  const uint8_t* map_ = nullptr;
  uint64_t map_length_ = 0;
  uint64_t known_length_ = 0;
  bool map_refused_ = false;
  // Per chunk of kViewChunk bytes of the mapping: its page tables are made
  // (for what lay below the known length then). None is set from
  // populated_end_ on.
  std::vector<bool> populated_;
  size_t populated_end_ = 0;
};

// Flushes the directory holding `path`, so that a file created or removed
// there survives a crash as such.
OsStatus SyncDirectoryOf(const std::string& path);

// Renames `from` over `to` (atomically replacing it).
OsStatus RenameFile(const std::string& from, const std::string& to);
// Makes `to` a second name of `from`, refusing an existing `to` (EEXIST).
OsStatus LinkFile(const std::string& from, const std::string& to);
// Removes the name `path`.
OsStatus UnlinkFile(const std::string& path);
// Creates the folder `path` with `mode` (EEXIST when the name exists).
OsStatus MakeDirectory(const std::string& path, unsigned mode);

// The folder part of `path` ("." when it has none, "/" for the root).
std::string ParentDirectory(const std::string& path);

// Reads all of what `fd` delivers (a pipe or a terminal) up to `len` bytes:
// one read(2), retried on EINTR. *got is 0 at end of input.
OsStatus ReadFromDescriptor(int fd, void* buf, size_t len, size_t* got);
// Writes `len` bytes to `fd` (a pipe or a terminal), retrying short writes
// and EINTR. Safe in a signal handler.
OsStatus WriteToDescriptor(int fd, const void* buf, size_t len);

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_FILE_IO_H_
