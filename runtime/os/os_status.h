// The result of a call into the operating-system seam: success, or the errno
// value the system (or a fault plan) gave.
//
// OsStatus keeps operating-system errors apart from the runtime's error codes
// in the types: EIO and the runtime's "Access Denied" are both 5, and a
// value of one kind passed where the other is meant would be read wrongly
// without complaint. Results are [[nodiscard]]: a caller that means to
// ignore one says so with IgnoreError(). The runtime maps a status to its
// codes in one place (OpenErrorCode, PostOpenError, PostOsError in
// runtime/core/runtime_error.h).
//
// Threads: a value type.

#ifndef QZR_RUNTIME_OS_OS_STATUS_H_
#define QZR_RUNTIME_OS_OS_STATUS_H_

#include <cerrno>
#include <cstring>
#include <ostream>

namespace qzr {

class [[nodiscard]] OsStatus {
 public:
  constexpr OsStatus() = default;

  static constexpr OsStatus Ok() { return OsStatus(); }
  // REQUIRES: err is an errno value (0 means success).
  static constexpr OsStatus Error(int err) { return OsStatus(err); }
  // The errno of the system call that just failed.
  static OsStatus Last() { return OsStatus(errno); }

  constexpr bool ok() const { return err_ == 0; }
  // The errno value; 0 when ok.
  constexpr int error() const { return err_; }
  // True iff the call failed with `err`.
  constexpr bool Is(int err) const { return err_ == err && err != 0; }
  // Says that the caller ignores the result on purpose.
  constexpr void IgnoreError() const {}

  friend constexpr bool operator==(OsStatus a, OsStatus b) { return a.err_ == b.err_; }

  friend std::ostream& operator<<(std::ostream& out, OsStatus s) {
    if (s.ok()) return out << "OK";
    return out << "errno " << s.err_ << " (" << std::strerror(s.err_) << ")";
  }

 private:
  constexpr explicit OsStatus(int err) : err_(err) {}
  int err_ = 0;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_OS_OS_STATUS_H_
