// The POSIX file seam behind the fault plan.

#include "runtime/os/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qzr {
namespace {

// A view first met in a chunk of the mapping has the chunk's page tables
// made in one call: a fault per 4 KiB page, taken as a scan or a run of
// lookups first touches it, costs more than the read it replaces. The chunk
// is kept small (64 KiB) so that a command reading a few rows by key does not
// pay for megabytes it never looks at: 1 MiB chunks cost a one-row `show`
// about a millisecond, while a scan gains the same from either size.
constexpr uint64_t kViewChunk = uint64_t{1} << 16;

using os_internal::Enter;

int EnterPath(OsCall call, const std::string& path) {
  OsCallInfo info(call);
  info.path = path;
  return Enter(ProcessFaultPlan(), info);
}

}  // namespace

FaultPlan* OsFile::plan() const {
  return faults_ != nullptr ? faults_ : ProcessFaultPlan();
}

int OsFile::Enter(OsCall call, uint64_t start, uint64_t length) {
  OsCallInfo info(call);
  info.path = path_;
  info.fd = fd_;
  info.start = start;
  info.length = length;
  return os_internal::Enter(plan(), info);
}

OsStatus OsFile::Open(const std::string& path, bool writable, bool create,
                      std::unique_ptr<OsFile>* out) {
  OsOpenOptions options;
  options.access = writable ? OsAccess::kReadWrite : OsAccess::kRead;
  options.create = create && writable;
  return Open(path, options, out);
}

OsStatus OsFile::Open(const std::string& path, const OsOpenOptions& options,
                      std::unique_ptr<OsFile>* out) {
  {
    OsCallInfo info(OsCall::kOpen);
    info.path = path;
    info.exclusive = options.create;
    if (int err = os_internal::Enter(ProcessFaultPlan(), info)) return OsStatus::Error(err);
  }
  int flags = O_CLOEXEC;
  switch (options.access) {
    case OsAccess::kRead:
      flags |= O_RDONLY;
      break;
    case OsAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case OsAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (options.append) flags |= O_APPEND;
  const bool writable = options.access != OsAccess::kRead;
  const bool create = options.create && writable;
  int fd = -1;
  bool created = false;
  for (int attempt = 0; fd < 0 && attempt < 4; ++attempt) {
    // Exclusive creation first, so that the caller learns whether the name
    // is new (and its directory must be synced).
    if (create) {
      fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, options.mode);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno == EINTR) continue;
      if (errno != EEXIST || options.exclusive) return OsStatus::Last();
    }
    fd = ::open(path.c_str(), flags);
    // A name removed between the two opens: try creating it again.
    if (fd < 0 && errno != EINTR && !(create && errno == ENOENT)) return OsStatus::Last();
  }
  if (fd < 0) return OsStatus::Last();
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const OsStatus s = OsStatus::Last();
    ::close(fd);
    return s;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return OsStatus::Error(EISDIR);
  }
  out->reset(new OsFile(fd, path, writable));
  (*out)->created_ = created;
  (*out)->known_length_ = static_cast<uint64_t>(st.st_size);
  (*out)->id_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return OsStatus::Ok();
}

OsFile::~OsFile() {
  Unmap();
  if (fd_ >= 0) ::close(fd_);
}

void OsFile::Unmap() {
  if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), map_length_);
  map_ = nullptr;
  map_length_ = 0;
}

bool OsFile::Remap() {
  // Room to grow: the mapping may reach past the end of the file as long as
  // nothing past it is touched, so a growing file is seldom mapped again.
  constexpr uint64_t kLeast = uint64_t{1} << 20;
  uint64_t length = kLeast;
  while (length < known_length_) length *= 2;
  Unmap();
  void* p = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) {
    map_refused_ = true;
    return false;
  }
  map_ = static_cast<const uint8_t*>(p);
  map_length_ = length;
  populated_.assign(static_cast<size_t>(length / kViewChunk), false);
  populated_end_ = 0;
  return true;
}

void OsFile::SetKnownLength(uint64_t length) {
  // A chunk was populated only below the length known then: when the file
  // grows, the chunk that held its end has pages past it with no tables
  // yet; when it shrinks, the system drops the tables past the new end, and
  // a file grown again there would have none.
  const uint64_t changed_at = std::min(known_length_, length);
  known_length_ = length;
  for (size_t c = static_cast<size_t>(changed_at / kViewChunk); c < populated_end_; ++c) {
    populated_[c] = false;
  }
  populated_end_ = std::min<size_t>(populated_end_, static_cast<size_t>(changed_at / kViewChunk));
}

OsStatus OsFile::ReadView(uint64_t offset, size_t len, const uint8_t** data) {
  *data = nullptr;
  if (map_refused_ || fd_ < 0 || offset > known_length_ || len > known_length_ - offset) {
    return OsStatus::Ok();
  }
  if (int err = Enter(OsCall::kRead, offset, len)) return OsStatus::Error(err);
  if (offset + len > map_length_ && !Remap()) return OsStatus::Ok();
  for (uint64_t c = offset / kViewChunk; c * kViewChunk < offset + len; ++c) {
    if (populated_[c]) continue;
    populated_[c] = true;
    populated_end_ = std::max<size_t>(populated_end_, static_cast<size_t>(c) + 1);
    // Only what lies below the known end: past it the file has no pages.
    const uint64_t start = c * kViewChunk;
    const uint64_t end = std::min(start + kViewChunk, known_length_);
    // A refusal (an older system) leaves the pages to fault in one by one.
    ::madvise(const_cast<uint8_t*>(map_) + start, end - start, MADV_POPULATE_READ);
  }
  *data = map_ + offset;
  return OsStatus::Ok();
}

OsStatus OsFile::ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) {
  *got = 0;
  if (int err = Enter(OsCall::kRead, offset, len)) return OsStatus::Error(err);
  size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(fd_, static_cast<uint8_t*>(buf) + done, len - done,
                              static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *got = done;
      return OsStatus::Last();
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  *got = done;
  return OsStatus::Ok();
}

OsStatus OsFile::WriteAt(uint64_t offset, const void* buf, size_t len) {
  if (int err = Enter(OsCall::kWrite, offset, len)) return OsStatus::Error(err);
  if (!writable_) return OsStatus::Error(EBADF);
  os_internal::Journal(plan(), path_, offset, buf, len);
  size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pwrite(fd_, static_cast<const uint8_t*>(buf) + done, len - done,
                               static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return OsStatus::Last();
    }
    // A write that makes no progress is the device running out of room.
    if (n == 0) return OsStatus::Error(ENOSPC);
    done += static_cast<size_t>(n);
  }
  if (offset + len > known_length_) SetKnownLength(offset + len);
  return OsStatus::Ok();
}

OsStatus OsFile::WriteAtv(uint64_t offset, const OsWritePiece* pieces, size_t count) {
  // The plan sees every piece first; a failed or stopped one ends the run
  // there, after the pieces before it are written.
  size_t allowed = 0;
  int err = 0;
  for (uint64_t at = offset; allowed < count; ++allowed) {
    if ((err = Enter(OsCall::kWrite, at, pieces[allowed].len)) != 0) break;
    at += pieces[allowed].len;
  }
  if (allowed == 0) return OsStatus::Error(err);
  if (!writable_) return OsStatus::Error(EBADF);
  for (size_t i = 0, at = 0; i < allowed; at += pieces[i].len, ++i) {
    os_internal::Journal(plan(), path_, offset + at, pieces[i].data, pieces[i].len);
  }
  constexpr size_t kMaxVectors = IOV_MAX < 1024 ? IOV_MAX : 1024;
  iovec vectors[kMaxVectors];
  size_t next = 0;  // the first piece not wholly written
  size_t skip = 0;  // bytes of it already written
  uint64_t at = offset;
  while (next < allowed) {
    size_t n_vectors = 0;
    for (size_t i = next; i < allowed && n_vectors < kMaxVectors; ++i, ++n_vectors) {
      const size_t from = i == next ? skip : 0;
      vectors[n_vectors].iov_base =
          const_cast<uint8_t*>(static_cast<const uint8_t*>(pieces[i].data) + from);
      vectors[n_vectors].iov_len = pieces[i].len - from;
    }
    const ssize_t n = ::pwritev(fd_, vectors, static_cast<int>(n_vectors), static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      return OsStatus::Last();
    }
    // A write that makes no progress is the device running out of room.
    if (n == 0) return OsStatus::Error(ENOSPC);
    at += static_cast<uint64_t>(n);
    // Step over what was written: whole pieces, then part of the next.
    size_t done = static_cast<size_t>(n);
    while (next < allowed && done >= pieces[next].len - skip) {
      done -= pieces[next].len - skip;
      skip = 0;
      ++next;
    }
    skip += done;
  }
  if (at > known_length_) SetKnownLength(at);
  return err != 0 ? OsStatus::Error(err) : OsStatus::Ok();
}

OsStatus OsFile::Append(const void* buf, size_t len) {
  uint64_t end = 0;
  if (FaultPlan* faults = plan(); faults != nullptr && faults->lose_unsynced) {
    Size(&end).IgnoreError();  // only the power-cut model's record of where it lands
  }
  if (int err = Enter(OsCall::kWrite, end, len)) return OsStatus::Error(err);
  if (!writable_) return OsStatus::Error(EBADF);
  os_internal::Journal(plan(), path_, end, buf, len);
  for (;;) {
    const ssize_t n = ::write(fd_, buf, len);
    if (n == static_cast<ssize_t>(len)) return OsStatus::Ok();
    if (n < 0 && errno == EINTR) continue;
    // A short write means the disk filled up part way.
    return n < 0 ? OsStatus::Last() : OsStatus::Error(ENOSPC);
  }
}

OsStatus OsFile::Sync() {
  if (int err = Enter(OsCall::kSync, 0, 0)) return OsStatus::Error(err);
  if (!writable_) return OsStatus::Ok();
  if (::fdatasync(fd_) != 0) return OsStatus::Last();
  os_internal::Synced(plan(), path_);
  return OsStatus::Ok();
}

OsStatus OsFile::Truncate(uint64_t size) {
  if (int err = Enter(OsCall::kTruncate, size, 0)) return OsStatus::Error(err);
  if (!writable_) return OsStatus::Error(EBADF);
  // Views stop at the new end before it exists: a failed truncation may have
  // cut the file all the same.
  if (size < known_length_) SetKnownLength(size);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return OsStatus::Last();
  // The power-cut model takes a truncation as durable; the commit code
  // never relies on one reaching the disk.
  os_internal::Synced(plan(), path_);
  return OsStatus::Ok();
}

OsStatus OsFile::Size(uint64_t* size) {
  // Not counted (the block layer asks often), but a dead process gets no answer.
  if (os_internal::Stopped(plan())) return OsStatus::Error(os_internal::kStoppedErrno);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return OsStatus::Last();
  *size = static_cast<uint64_t>(st.st_size);
  if (*size != known_length_) SetKnownLength(*size);
  return OsStatus::Ok();
}

OsStatus OsFile::SetPermissions(unsigned mode) {
  if (os_internal::Stopped(plan())) return OsStatus::Error(os_internal::kStoppedErrno);
  return ::fchmod(fd_, static_cast<mode_t>(mode)) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus OsFile::Close() {
  Unmap();
  const int fd = fd_;
  fd_ = -1;
  if (fd < 0) return OsStatus::Error(EBADF);
  // After close(2) fails with EINTR the descriptor is gone all the same.
  if (::close(fd) != 0 && errno != EINTR) return OsStatus::Last();
  return OsStatus::Ok();
}

bool OsFile::Point(const char* name) {
  return os_internal::Point(plan(), name);
}

std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

OsStatus SyncDirectoryOf(const std::string& path) {
  if (int err = EnterPath(OsCall::kDirectorySync, path)) return OsStatus::Error(err);
  const std::string dir = ParentDirectory(path);
  int fd;
  do {
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return OsStatus::Last();
  const OsStatus s = ::fsync(fd) == 0 ? OsStatus::Ok() : OsStatus::Last();
  ::close(fd);
  return s;
}

OsStatus RenameFile(const std::string& from, const std::string& to) {
  if (int err = EnterPath(OsCall::kRename, from)) return OsStatus::Error(err);
  return ::rename(from.c_str(), to.c_str()) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus LinkFile(const std::string& from, const std::string& to) {
  if (int err = EnterPath(OsCall::kLink, from)) return OsStatus::Error(err);
  return ::link(from.c_str(), to.c_str()) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus UnlinkFile(const std::string& path) {
  if (int err = EnterPath(OsCall::kUnlink, path)) return OsStatus::Error(err);
  return ::unlink(path.c_str()) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus MakeDirectory(const std::string& path, unsigned mode) {
  if (int err = EnterPath(OsCall::kMakeDirectory, path)) return OsStatus::Error(err);
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus ReadFromDescriptor(int fd, void* buf, size_t len, size_t* got) {
  *got = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buf, len);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return OsStatus::Ok();
    }
    if (errno != EINTR) return OsStatus::Last();
  }
}

OsStatus WriteToDescriptor(int fd, const void* buf, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  while (len > 0) {
    const ssize_t n = ::write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return OsStatus::Last();
    }
    if (n == 0) return OsStatus::Error(EIO);
    p += n;
    len -= static_cast<size_t>(n);
  }
  return OsStatus::Ok();
}

}  // namespace qzr
