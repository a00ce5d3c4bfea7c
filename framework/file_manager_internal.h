// Helpers shared by the file manager's source files and tests; not part of
// its interface.
//
// Threads: the helpers act on the calling thread's runtime error and on a
// descriptor the caller owns.

#ifndef QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_
#define QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_

#include <string>

#include "data/file_descriptor.h"
#include "data/file_driver.h"
#include "framework/error_manager.h"

namespace qzr::internal {

// Keeps the calling thread's runtime error across driver calls made on the
// side (saving a position, reading a property): whoever reads ERRORCODE
// afterwards sees the error of the operation that failed, not theirs.
class ErrorKeeper {
 public:
  ErrorKeeper();
  ~ErrorKeeper();
  ErrorKeeper(const ErrorKeeper&) = delete;
  ErrorKeeper& operator=(const ErrorKeeper&) = delete;

 private:
  int code_;
  std::string detail_;
  std::string file_code_;
  std::string file_text_;
};

// Clears the record buffer as a new record starts: numbers, dates and
// times 0, CSTRING and PSTRING empty, STRING blank, and every memo and
// BLOB empty. Does nothing for a null file.
void ClearRecord(FileDescriptor* file);

}  // namespace qzr::internal

#endif  // QZR_FRAMEWORK_FILE_MANAGER_INTERNAL_H_
