// The error log: the interface the error manager writes its log lines
// through, and the standard implementation, which appends them to the text
// file "KFWError.Log" in the working directory through the ASCII driver.
//
// The standard log keeps a usage count (USAGE): OpenLog opens the file on
// the first use and only counts later ones, CloseLog closes it when the
// last use ends; `force` does the physical open or close whatever the count.
// The error manager opens and closes the log around every line, so the
// file is closed between messages and other programs may read or remove it.
//
// Threads: OpenLog, WriteLog and CloseLog each run inside CRITSECT, so
// several threads may log through one object; the file descriptor belongs
// to the object and is used only under that lock.

#ifndef QZR_FRAMEWORK_STANDARD_ERROR_LOG_H_
#define QZR_FRAMEWORK_STANDARD_ERROR_LOG_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "data/file_descriptor.h"
#include "framework/severity.h"

namespace qzr {

// Where the error manager sends log lines. Each operation returns
// SeverityNone on success and SeverityInform on failure.
class ErrorLogInterface {
 public:
  virtual ~ErrorLogInterface() = default;
  virtual Severity OpenLog(bool force) = 0;
  virtual Severity WriteLog(std::string_view line) = 0;
  virtual Severity CloseLog(bool force) = 0;
};

// The log file's name, relative to the working directory.
inline constexpr char kErrorLogFileName[] = "KFWError.Log";

// Longest line the log keeps (the size of its record field TXT); longer
// lines are cut.
inline constexpr size_t kErrorLogLineSize = 1024;

class StandardErrorLog : public ErrorLogInterface {
 public:
  // Registers the ASCII driver when it is not yet registered. `file_name`
  // is for tests and programs that keep their log elsewhere.
  explicit StandardErrorLog(std::string file_name = kErrorLogFileName);
  ~StandardErrorLog() override;

  StandardErrorLog(const StandardErrorLog&) = delete;
  StandardErrorLog& operator=(const StandardErrorLog&) = delete;

  // When USAGE is 0 or `force` is set: creates the file when it is missing
  // and opens it for reading and writing, denying nothing (either failure
  // returns SeverityInform and leaves USAGE alone). Then counts one use.
  // A forced open of a log that is already open counts a use and succeeds:
  // the file is there to write to.
  Severity OpenLog(bool force) override;

  // Appends `line` (cut to kErrorLogLineSize bytes, never inside a UTF-8
  // sequence) as one line. SeverityInform when the log is not open or the
  // write fails.
  Severity WriteLog(std::string_view line) override;

  // When USAGE is 1 or `force` is set, closes the file (a failure returns
  // SeverityInform and leaves USAGE unchanged) and sets USAGE to 1; then
  // counts the use off. Closing a log that is not open changes nothing.
  Severity CloseLog(bool force) override;

  // This object seen as the interface the error manager holds.
  ErrorLogInterface* const ERRORLOGINTERFACE = this;
  std::mutex CRITSECT;
  // Uses not yet closed; read it under CRITSECT.
  int32_t USAGE = 0;

 private:
  FileDescriptor file_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_STANDARD_ERROR_LOG_H_
