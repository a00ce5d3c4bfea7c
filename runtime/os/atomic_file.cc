// Whole-file reads, atomic replacement through a temporary file, folder
// creation and the folder lock.

#include "runtime/os/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qzr {
namespace {

std::atomic<AtomicWriteFaultHook> g_fault_hook{nullptr};
std::atomic<unsigned> g_temp_counter{0};

int InjectedFault(AtomicWriteStep step, const std::string& path) {
  AtomicWriteFaultHook hook = g_fault_hook.load();
  return hook ? hook(step, path) : 0;
}

// Writes all of `data`, retrying short writes and EINTR. Returns 0 or errno.
int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

// The file that a write to `path` should replace: the target of a symbolic
// link when it resolves, else `path` itself (a dangling link is replaced by
// the new file, which is what a user who points a link nowhere gets anyway).
std::string ReplacementTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AtomicWriteFaultHook SetAtomicWriteFaultHook(AtomicWriteFaultHook hook) {
  return g_fault_hook.exchange(hook);
}

std::string ParentDirectory(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int ReadWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      contents->clear();
      return err;
    }
    if (n == 0) break;
    contents->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return 0;
}

int WriteFileAtomically(const std::string& path, std::string_view contents) {
  const std::string target = ReplacementTarget(path);
  const std::string dir = ParentDirectory(target);

  struct stat old_st;
  const bool existed = ::stat(target.c_str(), &old_st) == 0;
  if (existed && S_ISDIR(old_st.st_mode)) return EISDIR;

  // A hidden name beside the target: rename() must not cross file systems,
  // and a leftover from a crash is easy to recognise and harmless.
  std::string temp;
  int fd = -1;
  if (int err = InjectedFault(AtomicWriteStep::kOpenTemp, target)) return err;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + BaseName(target) + "." + std::to_string(::getpid()) + "." +
           std::to_string(g_temp_counter.fetch_add(1)) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;

  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    return err;
  };
  if (existed) ::fchmod(fd, old_st.st_mode & 07777);  // best effort
  if (int err = InjectedFault(AtomicWriteStep::kWrite, target)) return fail(err);
  if (int err = WriteAll(fd, contents)) return fail(err);
  if (int err = InjectedFault(AtomicWriteStep::kSyncFile, target)) return fail(err);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return err;
  }
  fd = -1;
  if (int err = InjectedFault(AtomicWriteStep::kRename, target)) {
    ::unlink(temp.c_str());
    return err;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return err;
  }
  // Makes the rename itself durable. The new contents are already in place
  // and visible, so a failure here is not reported as a failed write: some
  // file systems refuse fsync on a folder (EINVAL), and the caller could do
  // nothing about it anyway.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

int MakeDirectories(const std::string& path) {
  if (path.empty()) return ENOENT;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  std::string parent = ParentDirectory(path);
  if (parent != path && parent != "." && parent != "/") {
    if (int err = MakeDirectories(parent)) return err;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  return 0;
}

DirectoryLock::DirectoryLock(const std::string& directory) {
  fd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the description releases the lock
}

}  // namespace qzr
