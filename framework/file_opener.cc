// The two file openers: a plain one for THREAD files and a counting one,
// under a lock, for files shared by all threads.

#include "framework/file_opener.h"

#include "data/file_driver.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

int OpenNow(FileDescriptor* file, uint32_t mode) {
  if (file == nullptr) {
    PostError(kFileNotOpen);
    return kFileNotOpen;
  }
  file->open_mode = mode;
  int code = DoFileOp(FileOp::OPEN, *file);
  // The caller asked for the file to be open; already open is as good.
  if (code == kFileAlreadyOpen) {
    ClearError();
    return 0;
  }
  return code;
}

int CloseNow(FileDescriptor* file) {
  if (file == nullptr) return 0;
  return DoFileOp(FileOp::CLOSE, *file);
}

}  // namespace

int PlainFileOpener::OpenFile(uint32_t mode, int /*attempt*/) {
  return OpenNow(MYFILE, mode);
}

int PlainFileOpener::CloseFile() {
  return CloseNow(MYFILE);
}

int SharedFileOpener::OpenFile(uint32_t mode, int /*attempt*/) {
  std::lock_guard<std::mutex> lock(CSECT);
  if (FILEUSAGECOUNT > 0) {
    ++FILEUSAGECOUNT;
    return 0;
  }
  int code = OpenNow(MYFILE, mode);
  if (code == 0) ++FILEUSAGECOUNT;
  return code;
}

int SharedFileOpener::CloseFile() {
  std::lock_guard<std::mutex> lock(CSECT);
  if (FILEUSAGECOUNT <= 0) return 0;
  if (FILEUSAGECOUNT == 1) {
    int code = CloseNow(MYFILE);
    // A file the driver reports as not open is closed as far as anyone can
    // tell; counting down keeps the next open from being skipped forever.
    if (code != 0 && code != kFileNotOpen) return code;
    ClearError();
  }
  --FILEUSAGECOUNT;
  return 0;
}

int32_t SharedFileOpener::UsageCount() {
  std::lock_guard<std::mutex> lock(CSECT);
  return FILEUSAGECOUNT;
}

}  // namespace qzr
