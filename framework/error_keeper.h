// RuntimeErrorKeeper: keeps the calling thread's runtime error (ERRORCODE,
// its detail and the file error) across operations made on the side, which
// post their own results: saving a position, reading a property, writing
// the error log. Whoever reads ERRORCODE afterwards sees the error of the
// operation that failed, not theirs.
//
// Threads: acts on the calling thread's runtime error only.

#ifndef QZR_FRAMEWORK_ERROR_KEEPER_H_
#define QZR_FRAMEWORK_ERROR_KEEPER_H_

#include <string>

namespace qzr {

class RuntimeErrorKeeper {
 public:
  // Takes the thread's error as it stands.
  RuntimeErrorKeeper();
  // Posts it again (or clears the error when there was none).
  ~RuntimeErrorKeeper();
  RuntimeErrorKeeper(const RuntimeErrorKeeper&) = delete;
  RuntimeErrorKeeper& operator=(const RuntimeErrorKeeper&) = delete;

 private:
  int code_;
  std::string detail_;
  std::string file_code_;
  std::string file_text_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_ERROR_KEEPER_H_
