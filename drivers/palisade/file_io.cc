// The POSIX file seam and the 64-byte block layer of the Palisade driver.

#include "drivers/palisade/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "drivers/palisade/format.h"
#include "runtime/fatal.h"

namespace qzr::palisade {
namespace {

constexpr uint64_t kMaxFileOffset = uint64_t{1} << 32;

// The errno a call sees once the simulated process has died.
constexpr int kStoppedErrno = EIO;

}  // namespace

int OsFile::Open(const std::string& path, bool writable, bool create,
                 std::unique_ptr<OsFile>* out) {
  int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  if (create && writable) flags |= O_CREAT;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  out->reset(new OsFile(fd, path, writable));
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
  if (faults_ != nullptr) {
    ++faults_->writes;
    if (faults_->stop_before_write != 0 && faults_->writes >= faults_->stop_before_write) {
      faults_->stopped = true;
    }
    if (faults_->stopped) return kStoppedErrno;
    if (faults_->writes == faults_->fail_write_at) return EIO;
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
  if (faults_ != nullptr) {
    ++faults_->syncs;
    if (faults_->stopped) return kStoppedErrno;
    if (faults_->syncs == faults_->fail_sync_at) return EIO;
  }
  if (!writable_) return 0;
  return ::fdatasync(fd_) == 0 ? 0 : errno;
}

int OsFile::Truncate(uint64_t size) {
  if (faults_ != nullptr && faults_->stopped) return kStoppedErrno;
  if (!writable_) return EBADF;
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int64_t OsFile::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool OsFile::Point(const char* name) {
  if (faults_ == nullptr) return true;
  if (!faults_->stopped && !faults_->stop_at.empty() && faults_->stop_at == name) {
    faults_->stopped = true;
  }
  return !faults_->stopped;
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

bool FlushBuffers(OsFile* file) {
  if (file->failed_errno() != 0) return false;
  if (int err = file->Sync(); err != 0) {
    file->set_failed(err);
    return false;
  }
  return true;
}

}  // namespace qzr::palisade
