// FileOpener: the object that physically opens and closes one file for the
// file managers that use it, and its two implementations.
//
// A file manager never opens its file itself: it asks its opener, obtained
// once from the file registry (framework/file_registry.h). Which opener a
// file gets depends on how the file is declared:
//
//   PlainFileOpener   a THREAD file: every thread has its own descriptor and
//                     so its own opener; OpenFile and CloseFile act at once.
//   SharedFileOpener  a file shared by all threads: one descriptor, one
//                     opener for the whole process. FILEUSAGECOUNT counts
//                     the open calls not yet matched by a close, across all
//                     threads; only the first open really opens and only the
//                     last close really closes.
//
// Both return runtime error codes (0 for success); error 52 ("File Already
// Open") from the driver counts as success, since the caller wanted the file
// open and it is.
//
// Threads: a PlainFileOpener belongs to the thread that owns its descriptor.
// A SharedFileOpener runs all of its work inside CSECT, so several threads
// may open and close the same file at once; the driver calls it makes
// happen under that lock.

#ifndef QZR_FRAMEWORK_FILE_OPENER_H_
#define QZR_FRAMEWORK_FILE_OPENER_H_

#include <cstdint>
#include <mutex>

#include "data/file_descriptor.h"

namespace qzr {

class FileOpener {
 public:
  virtual ~FileOpener() = default;

  // Opens the file with open mode `mode` (access in the low two bits,
  // sharing in the next four). `attempt` is the caller's attempt number
  // (1 or 2), for openers that want to act differently on a retry; the two
  // here ignore it. Returns a runtime error code, 0 for success.
  virtual int OpenFile(uint32_t mode, int attempt = 1) = 0;
  // Closes the file. Returns a runtime error code, 0 for success.
  virtual int CloseFile() = 0;

  // The file this opener serves.
  FileDescriptor* MYFILE = nullptr;
  // How many file managers hold this opener (kept by the registry, which
  // frees the opener when the last one lets go).
  int32_t USAGE = 0;
};

class PlainFileOpener : public FileOpener {
 public:
  explicit PlainFileOpener(FileDescriptor* file) { MYFILE = file; }

  int OpenFile(uint32_t mode, int attempt = 1) override;
  int CloseFile() override;
};

class SharedFileOpener : public FileOpener {
 public:
  explicit SharedFileOpener(FileDescriptor* file) { MYFILE = file; }

  // FILEUSAGECOUNT 0: opens the file; success (or 52) counts and returns 0,
  // another error is returned with the count unchanged. Above 0: counts and
  // returns 0 without touching the file.
  int OpenFile(uint32_t mode, int attempt = 1) override;
  // FILEUSAGECOUNT 1: closes the file; a close error is returned and the
  // count stays at 1 (the file is still open). Above 1: counts down. 0 or
  // less: returns 0 and changes nothing.
  int CloseFile() override;

  int32_t UsageCount();

  std::mutex CSECT;
  int32_t FILEUSAGECOUNT = 0;  // guarded by CSECT
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_FILE_OPENER_H_
