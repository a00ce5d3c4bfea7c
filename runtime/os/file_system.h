// The operating-system seam's questions about names: what a path is (a
// file, a folder, missing), whether this process may write it, where it
// really leads, the current folder and the program's own file, and a
// stream that writes into an OsFile.
//
// Every question is counted against the fault plan as an OsCall::kStat
// (runtime/os/fault_plan.h), so a test can fail any of them; once the plan's
// simulated process has died they all fail. Results are OsStatus errno
// values, as everywhere in the seam.
//
// Threads: the free functions are safe from any thread; an OsOutputStream
// belongs to one owner, as its OsFile does.

#ifndef QZR_RUNTIME_OS_FILE_SYSTEM_H_
#define QZR_RUNTIME_OS_FILE_SYSTEM_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "runtime/os/file_io.h"
#include "runtime/os/os_status.h"

namespace qzr {

enum class OsFileKind : uint8_t { kRegular, kDirectory, kOther };

// What the name leads to (symbolic links followed).
struct OsPathInfo {
  OsFileKind kind = OsFileKind::kOther;
  uint64_t size = 0;
  unsigned mode = 0;  // the permission bits
  OsFileId id;        // equal for two names of one file
};

// Describes what `path` names (ENOENT when nothing).
OsStatus StatPath(const std::string& path, OsPathInfo* info);
// True iff `path` names something (a failed question counts as "no").
bool PathExists(const std::string& path);
// True iff `path` names a folder.
bool IsDirectory(const std::string& path);
// True iff `path` is a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);
// Ok iff this process may write the existing `path` (EACCES, EROFS, ENOENT
// otherwise).
OsStatus CheckWritable(const std::string& path);

// The absolute form of the existing `path`, every link and "." or ".."
// resolved.
OsStatus ResolvePath(const std::string& path, std::string* resolved);
// The absolute, normalised form of `path`; the part that exists has its
// links resolved, the rest is kept as written.
OsStatus CanonicalPath(const std::string& path, std::string* canonical);
// `path` made absolute against the current folder, without looking at
// what it names ("" stays the current folder).
OsStatus AbsolutePath(const std::string& path, std::string* absolute);
// The process's current folder.
OsStatus CurrentDirectory(std::string* directory);
// The full path of the running program's file.
OsStatus ExecutablePath(std::string* path);

// An output stream over an OsFile opened for writing: bytes are buffered
// and written through the seam at the end of the file written so far. The
// first failed write sets the stream's badbit and is kept in status().
// REQUIRES: the file outlives the stream.
class OsOutputStream : public std::ostream {
 public:
  explicit OsOutputStream(OsFile* file);
  ~OsOutputStream() override;

  // The first write's failure, or Ok.
  OsStatus status() const { return buffer_.status(); }

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(OsFile* file);
    OsStatus status() const { return status_; }

   protected:
    int_type overflow(int_type c) override;
    int sync() override;

   private:
    bool Drain();

    OsFile* file_;
    uint64_t offset_ = 0;
    OsStatus status_;
    char data_[16384];
  };
  Buffer buffer_;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_FILE_SYSTEM_H_
