// Whole-file reads, atomic replacement through a temporary file, folder
// creation and the folder lock.

#include "runtime/os/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "runtime/os/fault_plan.h"
#include "runtime/os/file_system.h"

namespace qzr {
namespace {

std::atomic<unsigned> g_temp_counter{0};

// The file that a write to `path` should replace: the target of a symbolic
// link when it resolves, else `path` itself (a dangling link is replaced by
// the new file, which is what a user who points a link nowhere gets anyway).
std::string ReplacementTarget(const std::string& path) {
  std::string resolved;
  if (!IsSymbolicLink(path) || !ResolvePath(path, &resolved).ok()) return path;
  return resolved;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

OsStatus ReadWholeFile(const std::string& path, std::string* contents) {
  contents->clear();
  std::unique_ptr<OsFile> file;
  if (OsStatus s = OsFile::Open(path, false, false, &file); !s.ok()) return s;
  // The bytes the file has now are read straight into the text, sized once;
  // whatever follows (a file still growing, a pipe) comes in pieces.
  uint64_t size = 0;
  uint64_t at = 0;
  if (file->Size(&size).ok() && size > 0) {
    contents->resize(static_cast<size_t>(size));
    size_t got = 0;
    if (OsStatus s = file->ReadAt(0, contents->data(), contents->size(), &got); !s.ok()) {
      contents->clear();
      return s;
    }
    contents->resize(got);
    at = got;
  }
  char buffer[16384];
  for (;;) {
    size_t got = 0;
    if (OsStatus s = file->ReadAt(at, buffer, sizeof buffer, &got); !s.ok()) {
      contents->clear();
      return s;
    }
    if (got == 0) break;
    contents->append(buffer, got);
    at += got;
  }
  return OsStatus::Ok();
}

OsStatus CreateTemporaryBeside(const std::string& target, std::string* temp,
                               std::unique_ptr<OsFile>* file) {
  // A hidden name beside the target: rename() must not cross file systems,
  // and a leftover from a crash is easy to recognise and harmless.
  const std::string dir = ParentDirectory(target);
  OsOpenOptions options;
  options.access = OsAccess::kWrite;
  options.create = true;
  options.exclusive = true;
  OsStatus opened = OsStatus::Error(EEXIST);
  for (int attempt = 0; attempt < 100 && opened.Is(EEXIST); ++attempt) {
    *temp = dir + "/." + BaseName(target) + "." + std::to_string(::getpid()) + "." +
            std::to_string(g_temp_counter.fetch_add(1)) + ".tmp";
    opened = OsFile::Open(*temp, options, file);
  }
  return opened;
}

OsStatus WriteFileAtomically(const std::string& path, std::string_view contents) {
  const std::string target = ReplacementTarget(path);

  OsPathInfo old_info;
  const bool existed = StatPath(target, &old_info).ok();
  if (existed && old_info.kind == OsFileKind::kDirectory) return OsStatus::Error(EISDIR);

  std::string temp;
  std::unique_ptr<OsFile> file;
  if (OsStatus s = CreateTemporaryBeside(target, &temp, &file); !s.ok()) return s;

  // On failure the temporary file goes; its removal failing leaves only a
  // hidden leftover, so the write's own error is the one reported.
  auto fail = [&](OsStatus s) {
    file.reset();
    UnlinkFile(temp).IgnoreError();
    return s;
  };
  // Best effort: a file system without permission bits keeps its own.
  if (existed) file->SetPermissions(old_info.mode).IgnoreError();
  if (OsStatus s = file->WriteAt(0, contents.data(), contents.size()); !s.ok()) return fail(s);
  if (OsStatus s = file->Sync(); !s.ok()) return fail(s);
  if (OsStatus s = file->Close(); !s.ok()) return fail(s);
  if (OsStatus s = RenameFile(temp, target); !s.ok()) return fail(s);
  // Makes the rename itself durable. The new contents are already in place
  // and visible, so a failure here is not reported as a failed write: some
  // file systems refuse fsync on a folder (EINVAL), and the caller could do
  // nothing about it anyway.
  SyncDirectoryOf(target).IgnoreError();
  return OsStatus::Ok();
}

OsStatus MakeDirectories(const std::string& path) {
  if (path.empty()) return OsStatus::Error(ENOENT);
  OsPathInfo info;
  if (StatPath(path, &info).ok()) {
    return info.kind == OsFileKind::kDirectory ? OsStatus::Ok() : OsStatus::Error(ENOTDIR);
  }
  std::string parent = ParentDirectory(path);
  if (parent != path && parent != "." && parent != "/") {
    if (OsStatus s = MakeDirectories(parent); !s.ok()) return s;
  }
  if (OsStatus s = MakeDirectory(path, 0700); !s.ok() && !s.Is(EEXIST)) return s;
  return OsStatus::Ok();
}

DirectoryLock::DirectoryLock(const std::string& directory) {
  {
    OsCallInfo info(OsCall::kLock);
    info.path = directory;
    info.exclusive = true;
    if (os_internal::Enter(ProcessFaultPlan(), info) != 0) return;
  }
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
