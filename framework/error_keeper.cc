// RuntimeErrorKeeper (see error_keeper.h).

#include "framework/error_keeper.h"

#include <cstdlib>

#include "runtime/core/runtime_error.h"

namespace qzr {

RuntimeErrorKeeper::RuntimeErrorKeeper()
    : code_(ERRORCODE()),
      detail_(ERRORDETAIL()),
      file_code_(FILEERRORCODE()),
      file_text_(FILEERROR()) {}

RuntimeErrorKeeper::~RuntimeErrorKeeper() {
  if (code_ == 0) {
    ClearError();
    return;
  }
  // An operating-system error comes back through its number, which also
  // brings back its text.
  if (code_ == kFileSystemError && detail_.empty() && !file_text_.empty()) {
    char* end = nullptr;
    long e = std::strtol(file_code_.c_str(), &end, 10);
    if (end != file_code_.c_str() && *end == '\0' &&
        RuntimeString(kOsStringBase + static_cast<int>(e)) == file_text_) {
      PostOsError(static_cast<int>(e));
      return;
    }
  }
  PostError(code_, detail_, file_code_);
}

}  // namespace qzr
