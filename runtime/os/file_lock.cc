// Open-file-description byte-range locks behind the fault plan. Stateless.

#include "runtime/os/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "runtime/os/fault_plan.h"

namespace qzr {
namespace {

struct flock Range(short type, uint64_t start, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

OsStatus Fcntl(int fd, int cmd, struct flock* fl) {
  int rc;
  do {
    rc = ::fcntl(fd, cmd, fl);
  } while (rc == -1 && errno == EINTR);
  return rc == -1 ? OsStatus::Last() : OsStatus::Ok();
}

int Enter(OsCall call, int fd, uint64_t start, uint64_t length, bool exclusive) {
  OsCallInfo info(call);
  info.fd = fd;
  info.start = start;
  info.length = length;
  info.exclusive = exclusive;
  return os_internal::Enter(ProcessFaultPlan(), info);
}

}  // namespace

OsStatus OsTryLock(int fd, uint64_t start, uint64_t length, bool exclusive) {
  if (int err = Enter(OsCall::kLock, fd, start, length, exclusive)) return OsStatus::Error(err);
  struct flock fl = Range(exclusive ? F_WRLCK : F_RDLCK, start, length);
  const OsStatus s = Fcntl(fd, F_OFD_SETLK, &fl);
  // Both values mean "held by someone else"; callers see one.
  return s.error() == EACCES ? OsStatus::Error(EAGAIN) : s;
}

OsStatus OsUnlock(int fd, uint64_t start, uint64_t length) {
  if (int err = Enter(OsCall::kUnlock, fd, start, length, false)) return OsStatus::Error(err);
  struct flock fl = Range(F_UNLCK, start, length);
  return Fcntl(fd, F_OFD_SETLK, &fl);
}

OsStatus OsTestLock(int fd, uint64_t start, uint64_t length, bool exclusive, bool* conflict) {
  if (int err = Enter(OsCall::kTestLock, fd, start, length, exclusive)) {
    return OsStatus::Error(err);
  }
  struct flock fl = Range(exclusive ? F_WRLCK : F_RDLCK, start, length);
  if (OsStatus s = Fcntl(fd, F_OFD_GETLK, &fl); !s.ok()) return s;
  *conflict = fl.l_type != F_UNLCK;
  return OsStatus::Ok();
}

void OsLockSleep(int milliseconds) {
  if (Enter(OsCall::kSleep, -1, 0, static_cast<uint64_t>(milliseconds), false) != 0) return;
  struct timespec ts {
    milliseconds / 1000, (milliseconds % 1000) * 1000000L
  };
  while (::nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

bool OsLockCanBeExclusive(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace qzr
