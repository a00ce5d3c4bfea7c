// The ASCII text driver: create, shared open, one-line appends, close.

#include "drivers/ascii/ascii_driver.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/core/runtime_error.h"
#include "runtime/os/file_io.h"
#include "runtime/os/file_system.h"

namespace qzr {
namespace {

struct AsciiFileState : DriverFileState {
  std::unique_ptr<OsFile> file;
  bool writable = false;
};

// The runtime code for a failed open or create of `path`: the common cases
// get their own codes, the rest are posted as operating-system errors.
int OpenFailure(OsStatus status, const std::string& path) {
  if (status.Is(ENOENT)) {
    // A missing folder is a missing path, not a missing file.
    if (path.find('/') != std::string::npos && !PathExists(ParentDirectory(path))) {
      return kPathNotFound;
    }
    return kFileNotFound;
  }
  if (const int code = OpenErrorCode(status); code != 0) return code;
  return PostOsFailure(status);
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
    OsOpenOptions options;
    options.access = OsAccess::kWrite;
    options.create = true;
    std::unique_ptr<OsFile> created;
    if (const OsStatus s = OsFile::Open(path, options, &created); !s.ok()) {
      return OpenFailure(s, path);
    }
    if (const OsStatus s = created->Close(); !s.ok()) return PostOsFailure(s);
    return 0;
  }

  static int Open(FileDescriptor& file) {
    if (file.IsOpen()) return kFileAlreadyOpen;
    const std::string& path = file.PhysicalName();
    if (path.empty()) return kInvalidFilename;
    OsOpenOptions options;
    bool writable = true;
    switch (file.open_mode & 3) {
      case 0:
        options.access = OsAccess::kRead;
        writable = false;
        break;
      case 1:
        options.access = OsAccess::kWrite;
        break;
      default:
        options.access = OsAccess::kReadWrite;
        break;
    }
    options.append = writable;
    options.create = writable && file.Has(kFileCreate);
    std::unique_ptr<OsFile> opened;
    if (const OsStatus s = OsFile::Open(path, options, &opened); !s.ok()) {
      return OpenFailure(s, path);
    }
    auto state = std::make_unique<AsciiFileState>();
    state->file = std::move(opened);
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
    // One write per line, placed at the end as a whole, so lines from other
    // processes cannot land inside it.
    if (const OsStatus s = state->file->Append(line.data(), line.size()); !s.ok()) {
      return PostOsFailure(s);
    }
    return 0;
  }

  static int Close(FileDescriptor& file) {
    auto* state = dynamic_cast<AsciiFileState*>(file.state.get());
    if (state == nullptr) return kFileNotOpen;
    std::unique_ptr<OsFile> closing = std::move(state->file);
    file.state.reset();
    if (const OsStatus s = closing->Close(); !s.ok()) return PostOsFailure(s);
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
