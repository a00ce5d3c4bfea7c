// The POSIX file seam and the 64-byte block layer of the Palisade driver.

#include "drivers/palisade/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <vector>

#include "drivers/palisade/format.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {
namespace {

constexpr uint64_t kMaxFileOffset = uint64_t{1} << 32;

// The errno a call sees once the simulated process has died.
constexpr int kStoppedErrno = EIO;

std::atomic<FaultPlan*> g_process_plan{nullptr};

// Whole-file read and write that bypass the seam (the power-cut model).
bool SlurpFile(const std::string& path, std::vector<uint8_t>* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->insert(out->end(), buf, buf + n);
  }
  ::close(fd);
  return true;
}

void ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
}

}  // namespace

void OsFile::SetProcessFaultPlan(FaultPlan* plan) {
  g_process_plan.store(plan);
}
FaultPlan* OsFile::process_fault_plan() {
  return g_process_plan.load();
}

FaultPlan* OsFile::plan() const {
  return faults_ != nullptr ? faults_ : g_process_plan.load();
}

void OsFile::Stop(FaultPlan* plan) {
  if (plan->stopped) return;
  plan->stopped = true;
  if (!plan->lose_unsynced) {
    if (plan->exit_on_stop) ::_exit(kFaultExitCode);
    return;
  }
  // Each unsynced write reached the device or not, independently; a later
  // write that survives lands over whatever the earlier ones left.
  std::mt19937 rng(plan->loss_seed);
  for (auto& [path, pending] : plan->pending) {
    std::vector<uint8_t> bytes = pending.synced_bytes;
    bytes.resize(pending.synced_size);
    for (const FaultPlan::PendingWrite& w : pending.writes) {
      if (rng() % 2 == 0) {
        ++plan->lost_writes;
        continue;
      }
      if (bytes.size() < w.offset + w.data.size()) bytes.resize(w.offset + w.data.size());
      std::copy(w.data.begin(), w.data.end(), bytes.begin() + static_cast<ptrdiff_t>(w.offset));
    }
    ReplaceFile(path, bytes);
  }
  plan->pending.clear();
  if (plan->exit_on_stop) ::_exit(kFaultExitCode);
}

void OsFile::Journal(FaultPlan* plan, uint64_t offset, const void* buf, size_t len) {
  auto [it, fresh] = plan->pending.try_emplace(path_);
  if (fresh) {
    SlurpFile(path_, &it->second.synced_bytes);
    it->second.synced_size = it->second.synced_bytes.size();
  }
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  it->second.writes.push_back({offset, std::vector<uint8_t>(p, p + len)});
}

int OsFile::Open(const std::string& path, bool writable, bool create,
                 std::unique_ptr<OsFile>* out) {
  if (FaultPlan* faults = g_process_plan.load()) {
    ++faults->opens;
    if (faults->opens == faults->fail_open_at) return faults->fail_errno;
  }
  const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = -1;
  bool created = false;
  for (int attempt = 0; fd < 0 && attempt < 4; ++attempt) {
    // Exclusive creation first, so that the caller learns whether the name
    // is new (and its directory must be synced).
    if (create && writable) {
      fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno == EINTR) continue;
      if (errno != EEXIST) return errno;
    }
    fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno != EINTR && !(create && writable && errno == ENOENT)) return errno;
  }
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  out->reset(new OsFile(fd, path, writable));
  (*out)->created_ = created;
  return 0;
}

OsFile::~OsFile() {
  if (fd_ >= 0) ::close(fd_);
}

int OsFile::ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(fd_, static_cast<uint8_t*>(buf) + done, len - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *got = done;
      return errno;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  *got = done;
  return 0;
}

int OsFile::WriteAt(uint64_t offset, const void* buf, size_t len) {
  if (FaultPlan* faults = plan()) {
    ++faults->writes;
    if (faults->stop_before_write != 0 && faults->writes >= faults->stop_before_write) {
      Stop(faults);
    }
    if (faults->stopped) return kStoppedErrno;
    if (faults->writes == faults->fail_write_at ||
        (faults->fail_writes_from != 0 && faults->writes >= faults->fail_writes_from)) {
      return faults->fail_errno;
    }
    if (faults->lose_unsynced && writable_) Journal(faults, offset, buf, len);
  }
  if (!writable_) return EBADF;
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, static_cast<const uint8_t*>(buf) + done, len - done,
                         static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that makes no progress is the device running out of room.
    if (n == 0) return ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int OsFile::Sync() {
  if (FaultPlan* faults = plan()) {
    ++faults->syncs;
    if (faults->stop_before_sync != 0 && faults->syncs >= faults->stop_before_sync) Stop(faults);
    if (faults->stopped) return kStoppedErrno;
    if (faults->syncs == faults->fail_sync_at) return EIO;
  }
  if (!writable_) return 0;
  if (::fdatasync(fd_) != 0) return errno;
  if (FaultPlan* faults = plan()) faults->pending.erase(path_);
  return 0;
}

int OsFile::Truncate(uint64_t size) {
  FaultPlan* faults = plan();
  if (faults != nullptr && faults->stopped) return kStoppedErrno;
  if (!writable_) return EBADF;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return errno;
  // The power-cut model takes a truncation as durable; the commit code
  // never relies on one reaching the disk.
  if (faults != nullptr) faults->pending.erase(path_);
  return 0;
}

int64_t OsFile::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool OsFile::Point(const char* name) {
  FaultPlan* faults = plan();
  if (faults == nullptr) return true;
  if (!faults->stopped && !faults->stop_at.empty() && faults->stop_at == name) Stop(faults);
  return !faults->stopped;
}

bool OsFile::ProcessPoint(const char* name) {
  FaultPlan* faults = g_process_plan.load();
  if (faults == nullptr) return true;
  if (!faults->stopped && !faults->stop_at.empty() && faults->stop_at == name) Stop(faults);
  return !faults->stopped;
}

size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
                 uint64_t home_offset) {
  if (length % kBlockUnit != 0) Corruption(kCheckReadMultiple);
  if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file == nullptr) return 0;
  size_t got = 0;
  if (file->ReadAt(offset, buffer, length, &got) != 0) Corruption(kCheckReadFailed);
  if (const UnitCipher* cipher = file->cipher()) {
    size_t whole = got / kBlockUnit * kBlockUnit;
    if (whole > 0) cipher->Decrypt(buffer, whole, home_offset);
  }
  return got;
}

void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
               uint64_t home_offset) {
  if (ReadBlock(file, offset, length, buffer, home_offset) != length) {
    Corruption(kCheckShortTransfer);
  }
}

bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer,
                uint64_t home_offset) {
  if (length % kBlockUnit != 0) Corruption(kCheckWriteMultiple);
  if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) Corruption(kCheckSeekFailed);
  if (file->failed_errno() != 0) return false;
  const uint8_t* data = buffer;
  std::vector<uint8_t> enciphered;
  if (const UnitCipher* cipher = file->cipher()) {
    enciphered.assign(buffer, buffer + length);
    cipher->Encrypt(enciphered.data(), length, home_offset);
    data = enciphered.data();
  }
  if (int err = file->WriteAt(offset, data, length); err != 0) {
    file->set_failed(err);
    return false;
  }
  return true;
}

int SyncDirectoryOf(const std::string& path) {
  if (FaultPlan* faults = OsFile::process_fault_plan()) {
    ++faults->syncs;
    if (faults->stop_before_sync != 0 && faults->syncs >= faults->stop_before_sync) {
      faults->stopped = true;  // a directory sync journals nothing to lose
      if (faults->exit_on_stop) ::_exit(kFaultExitCode);
    }
    if (faults->stopped) return kStoppedErrno;
    if (faults->syncs == faults->fail_sync_at) return EIO;
  }
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? std::string("/")
                                                     : path.substr(0, slash);
  int fd;
  do {
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  const int rc = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

int RenameFile(const std::string& from, const std::string& to) {
  if (FaultPlan* faults = OsFile::process_fault_plan()) {
    ++faults->renames;
    if (faults->stopped) return kStoppedErrno;
    if (faults->renames == faults->fail_rename_at) return faults->fail_errno;
  }
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int LinkFile(const std::string& from, const std::string& to) {
  if (FaultPlan* faults = OsFile::process_fault_plan(); faults != nullptr && faults->stopped) {
    return kStoppedErrno;
  }
  return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int UnlinkFile(const std::string& path) {
  if (FaultPlan* faults = OsFile::process_fault_plan(); faults != nullptr && faults->stopped) {
    return kStoppedErrno;
  }
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

bool FlushBuffers(OsFile* file) {
  if (file->failed_errno() != 0) return false;
  if (int err = file->Sync(); err != 0) {
    file->set_failed(err);
    return false;
  }
  return true;
}

}  // namespace qzr::palisade
