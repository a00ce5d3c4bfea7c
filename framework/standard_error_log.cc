// The standard error log over the ASCII driver.

#include "framework/standard_error_log.h"

#include <algorithm>
#include <cstring>

#include "data/file_driver.h"
#include "drivers/ascii/ascii_driver.h"
#include "runtime/core/text.h"
#include "runtime/os/file_system.h"

namespace qzr {

StandardErrorLog::StandardErrorLog(std::string file_name) {
  RegisterAsciiDriver();
  file_ = FileDeclaration("KFWERROR", "KFW")
              .Driver(kAsciiDriverName)
              .Name(std::move(file_name))
              .String("TXT", TypeCode::STRING, kErrorLogLineSize)
              .Build();
}

StandardErrorLog::~StandardErrorLog() {
  std::lock_guard<std::mutex> lock(CRITSECT);
  if (file_.IsOpen()) DoFileOp(FileOp::CLOSE, file_);
}

Severity StandardErrorLog::OpenLog(bool force) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  if (USAGE == 0 || force) {
    if (!file_.IsOpen()) {
      if (!PathExists(file_.PhysicalName())) {
        if (DoFileOp(FileOp::CREATE, file_) != 0) return SeverityInform;
      }
      file_.open_mode = kOpenReadWriteDenyNone;
      if (DoFileOp(FileOp::OPEN, file_) != 0) return SeverityInform;
    }
  }
  ++USAGE;
  return SeverityNone;
}

Severity StandardErrorLog::WriteLog(std::string_view line) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  if (USAGE == 0 || !file_.IsOpen()) return SeverityInform;
  // The record is a blank-padded STRING; the driver writes it up to the
  // first NUL with trailing blanks removed.
  size_t len = Utf8Cut(line, kErrorLogLineSize).size();
  std::memset(file_.record.data(), ' ', file_.record.size());
  std::memcpy(file_.record.data(), line.data(), len);
  return DoFileOp(FileOp::ADD, file_) == 0 ? SeverityNone : SeverityInform;
}

Severity StandardErrorLog::CloseLog(bool force) {
  std::lock_guard<std::mutex> lock(CRITSECT);
  // More closes than opens would drive the count below zero, after which
  // the next OpenLog would count without opening and every write would
  // fail; a close without a matching open changes nothing.
  if (USAGE <= 0 && !force) return SeverityNone;
  if (USAGE == 1 || force) {
    if (file_.IsOpen() && DoFileOp(FileOp::CLOSE, file_) != 0) return SeverityInform;
    USAGE = 1;
  }
  --USAGE;
  return SeverityNone;
}

}  // namespace qzr
