// Open-file-description byte-range locks behind a hookable seam. Stateless
// apart from the process-wide hook, which a mutex guards.

#include "drivers/palisade/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <utility>

namespace qzr::palisade {
namespace {

std::mutex g_hook_mutex;
LockFaultHook g_hook;

int RunHook(const LockCall& call) {
  LockFaultHook hook;
  {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    if (!g_hook) return 0;
    hook = g_hook;
  }
  return hook(call);
}

struct flock Range(short type, uint64_t start, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

int Fcntl(int fd, int cmd, struct flock* fl) {
  int rc;
  do {
    rc = fcntl(fd, cmd, fl);
  } while (rc == -1 && errno == EINTR);
  return rc == -1 ? errno : 0;
}

}  // namespace

LockFaultHook SetLockFaultHook(LockFaultHook hook) {
  std::lock_guard<std::mutex> lock(g_hook_mutex);
  return std::exchange(g_hook, std::move(hook));
}

int OsTryLock(int fd, uint64_t start, uint64_t length, bool exclusive) {
  if (int err = RunHook({LockOp::kLock, fd, start, length, exclusive})) return err;
  struct flock fl = Range(exclusive ? F_WRLCK : F_RDLCK, start, length);
  const int err = Fcntl(fd, F_OFD_SETLK, &fl);
  // Both values mean "held by someone else"; callers see one.
  return err == EACCES ? EAGAIN : err;
}

int OsUnlock(int fd, uint64_t start, uint64_t length) {
  if (int err = RunHook({LockOp::kUnlock, fd, start, length, false})) return err;
  struct flock fl = Range(F_UNLCK, start, length);
  return Fcntl(fd, F_OFD_SETLK, &fl);
}

int OsTestLock(int fd, uint64_t start, uint64_t length, bool exclusive, bool* conflict) {
  if (int err = RunHook({LockOp::kTest, fd, start, length, exclusive})) return err;
  struct flock fl = Range(exclusive ? F_WRLCK : F_RDLCK, start, length);
  if (int err = Fcntl(fd, F_OFD_GETLK, &fl)) return err;
  *conflict = fl.l_type != F_UNLCK;
  return 0;
}

void OsLockSleep(int milliseconds) {
  if (RunHook({LockOp::kSleep, -1, 0, static_cast<uint64_t>(milliseconds), false})) return;
  struct timespec ts {
    milliseconds / 1000, (milliseconds % 1000) * 1000000L
  };
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

bool OsLockCanBeExclusive(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace qzr::palisade
