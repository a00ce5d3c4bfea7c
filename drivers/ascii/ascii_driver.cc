// The ASCII text driver: create, shared open, one-line appends, close.

#include "drivers/ascii/ascii_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

struct AsciiFileState : DriverFileState {
  int fd = -1;
  bool writable = false;
  ~AsciiFileState() override {
    if (fd >= 0) ::close(fd);
  }
};

// The runtime code for a failed open or create of `path`: the common cases
// get their own codes, the rest are posted as operating-system errors.
int OpenFailure(int err, const std::string& path) {
  switch (err) {
    case ENOENT: {
      // A missing folder is a missing path, not a missing file.
      std::string dir = path.substr(0, path.find_last_of('/'));
      struct stat st;
      if (path.find('/') != std::string::npos && ::stat(dir.c_str(), &st) != 0) {
        return kPathNotFound;
      }
      return kFileNotFound;
    }
    default:
      if (const int code = OpenErrorCode(err); code != 0) return code;
      PostErrno(err);
      return kFileSystemError;
  }
}

class AsciiDriver : public FileDriver {
 public:
  AsciiDriver() {
    info_.name = kAsciiDriverName;
    info_.display_name = "ASCII (TXT)";
    info_.capabilities.types = TypeMask({TypeCode::STRING, TypeCode::CSTRING, TypeCode::GROUP});
    info_.capabilities.max_field_size = 65520;
  }

  const DriverInfo& Info() const override { return info_; }

  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    std::lock_guard<std::mutex> lock(mu_);
    switch (op) {
      case FileOp::CREATE:
        return Create(file);
      case FileOp::OPEN:
        return Open(file);
      case FileOp::ADD:
      case FileOp::APPEND:
        return Append(file, file.record.size());
      case FileOp::ADDfilelen:
      case FileOp::APPENDlen:
        return Append(file, std::min<size_t>(args.length, file.record.size()));
      case FileOp::CLOSE:
        return Close(file);
      default:
        return kUnsupportedFunction;
    }
  }

 private:
  static int Create(FileDescriptor& file) {
    const std::string& path = file.PhysicalName();
    if (path.empty()) return kInvalidFilename;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return OpenFailure(errno, path);
    ::close(fd);
    return 0;
  }

  static int Open(FileDescriptor& file) {
    if (file.IsOpen()) return kFileAlreadyOpen;
    const std::string& path = file.PhysicalName();
    if (path.empty()) return kInvalidFilename;
    int flags = O_CLOEXEC;
    bool writable = true;
    switch (file.open_mode & 3) {
      case 0:
        flags |= O_RDONLY;
        writable = false;
        break;
      case 1:
        flags |= O_WRONLY | O_APPEND;
        break;
      default:
        flags |= O_RDWR | O_APPEND;
        break;
    }
    if (writable && file.Has(kFileCreate)) flags |= O_CREAT;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return OpenFailure(errno, path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      return kAccessDenied;
    }
    auto state = std::make_unique<AsciiFileState>();
    state->fd = fd;
    state->writable = writable;
    file.state = std::move(state);
    return 0;
  }

  static int Append(FileDescriptor& file, size_t length) {
    auto* state = dynamic_cast<AsciiFileState*>(file.state.get());
    if (state == nullptr) return kFileNotOpen;
    if (!state->writable) return kAccessDenied;
    std::string line(reinterpret_cast<const char*>(file.record.data()), length);
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    line += '\n';
    // One write per line: with O_APPEND the kernel places it at the end as a
    // whole, so lines from other processes cannot land inside it.
    for (;;) {
      ssize_t n = ::write(state->fd, line.data(), line.size());
      if (n == static_cast<ssize_t>(line.size())) return 0;
      if (n < 0 && errno == EINTR) continue;
      // A short write means the disk filled up part way.
      PostErrno(n < 0 ? errno : ENOSPC);
      return kFileSystemError;
    }
  }

  static int Close(FileDescriptor& file) {
    auto* state = dynamic_cast<AsciiFileState*>(file.state.get());
    if (state == nullptr) return kFileNotOpen;
    int fd = state->fd;
    state->fd = -1;
    file.state.reset();
    if (::close(fd) != 0 && errno != EINTR) {
      PostErrno(errno);
      return kFileSystemError;
    }
    return 0;
  }

  DriverInfo info_;
  std::mutex mu_;
};

}  // namespace

std::unique_ptr<FileDriver> MakeAsciiDriver() {
  return std::make_unique<AsciiDriver>();
}

void RegisterAsciiDriver() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (FindDriver(kAsciiDriverName) == nullptr) RegisterDriver(MakeAsciiDriver());
  });
}

}  // namespace qzr
