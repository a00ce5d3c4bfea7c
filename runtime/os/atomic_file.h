// Whole-file reads and crash-safe whole-file replacement for small settings
// files (profile files, the settings registry).
//
// WriteFileAtomically writes the new contents to a temporary file in the same
// folder, flushes it to disk, renames it over the target and flushes the
// folder, so that after a crash at any point the target holds either the old
// contents or the new ones, never a mixture. DirectoryLock serialises
// read-modify-write cycles on files of one folder across processes (an
// advisory flock on the folder itself). The lock belongs to an open file
// description, so two threads that each take a DirectoryLock exclude each
// other as well; callers still keep a mutex for their in-memory state.
//
// Every step goes through the file seam (runtime/os/file_io.h), so a test's
// fault plan can fail any of them, stop before any write or sync, or cut the
// power. All functions are safe to call from several threads.

#ifndef QZR_RUNTIME_ATOMIC_FILE_H_
#define QZR_RUNTIME_ATOMIC_FILE_H_

#include <memory>
#include <string>
#include <string_view>

#include "runtime/os/file_io.h"

namespace qzr {

// Reads the whole file into `contents`: ENOENT when the file does not
// exist; `contents` is cleared on failure.
OsStatus ReadWholeFile(const std::string& path, std::string* contents);

// Creates a new, empty, hidden file beside `target` (in its folder, so that
// it can be renamed over it), named in *temp and opened for writing in
// *file. The caller removes it when it does not rename it.
OsStatus CreateTemporaryBeside(const std::string& target, std::string* temp,
                               std::unique_ptr<OsFile>* file);

// Replaces the file at `path` with `contents` atomically (see above). When
// `path` is a symbolic link to an existing file, the file it points to is
// replaced and the link stays. An existing file keeps its permission bits; a
// new one gets 0666 less the umask. On failure the target is unchanged and
// no temporary file is left behind.
OsStatus WriteFileAtomically(const std::string& path, std::string_view contents);

// Creates `path` and any missing parents with mode 0700 (settings folders are
// private to the user). An existing folder is success.
OsStatus MakeDirectories(const std::string& path);

// An exclusive advisory lock on a folder, held for the object's lifetime.
// When the folder cannot be opened or locked (no read permission, a file
// system without flock) the lock is simply not taken: callers still have
// their in-process mutex, and each file write remains atomic on its own.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_ATOMIC_FILE_H_
