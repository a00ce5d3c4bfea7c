// The file-operation trace: an optional log of every driver call.
//
// The trace is on for a file when the process-wide settings switch it on, or
// when the file's driver string carries "LOGFILE=name[section]" (log this
// file into `name`) or "ALLOWDETAILS" (log this file with details). Each
// call becomes one line:
//
//   [VIEW:<view id in hex>:]<operation>(<file>)[  <arguments>][  Error: <code> <text>][  Time Taken: <s>.<hh> secs]
//
// With details, OPEN and CREATE are followed by the file's declaration in
// the language's own syntax, and the operations that read or write a record
// by the record's field values, one "  <label> = <value>" line each.
//
// Settings ("Details", "Profile", "Flush", "TraceFile") live in an
// in-process struct; LoadTraceSettings reads them from a section of the
// user profile, which is also where the [section] of a LOGFILE switch points.
// The log file defaults to the driver's name with ".LOG".
//
// Threads: settings are guarded by a lock and read once per call; log files
// are shared by name across the process and each line is written whole
// under a lock, so lines of calls on different threads never mix.

#ifndef QZR_DATA_FILE_TRACE_H_
#define QZR_DATA_FILE_TRACE_H_

#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"
#include "data/file_driver.h"

namespace qzr {

struct TraceSettings {
  bool trace = false;      // log every file's calls
  bool details = false;    // "Details": declarations and field values
  bool profile = false;    // "Profile": time taken by each call
  bool flush = false;      // "Flush": flush the log after each line
  std::string trace_file;  // "TraceFile": the log; "" is the driver's name + ".LOG"
};

void SetTraceSettings(const TraceSettings& settings);
TraceSettings GetTraceSettings();

// The settings of user-profile section `section`: entries "Trace",
// "Details", "Profile", "Flush" (integers, non-zero is on) and "TraceFile".
// A missing entry keeps the value of `base`.
TraceSettings LoadTraceSettings(std::string_view section, const TraceSettings& base);

// How the trace treats one file: whether to log, with details, where.
struct FileTraceMode {
  bool on = false;
  TraceSettings settings;  // with trace_file resolved to the log's path
};
FileTraceMode TraceModeFor(const FileDescriptor& file, const DriverInfo& driver);
// False when TraceModeFor would answer "off" for `file` without looking
// further: no per-file switch and no trace of every file. Asked on every
// file operation, so it builds nothing.
bool TraceMayBeOn(const FileDescriptor& file);

// The trace line of a call that returned `code` after `hundredths` of a
// second (shown only when profiling).
std::string TraceLine(FileOp op, const FileDescriptor& file, const FileArgs& args, int code,
                      long hundredths, bool profile);

// The declaration of `file` in the language's syntax, one line per entry.
std::vector<std::string> DeclarationLines(const FileDescriptor& file);

// The value of field `index` in the record buffer as a detail line shows it,
// element `element` of a DIM field.
std::string FieldValueText(const FileDescriptor& file, int index, uint32_t element = 0);

// "  label = value" for every field (GROUPs are shown through their members)
// and every memo.
std::vector<std::string> RecordLines(const FileDescriptor& file);

// Runs `driver`'s `op` and logs it as `mode` says.
int TraceCall(FileDriver& driver, const FileTraceMode& mode, FileOp op, FileDescriptor& file,
              FileArgs& args);

// A driver that logs every call to another driver. Files whose trace is off
// pass straight through.
class TracingDriver : public FileDriver {
 public:
  explicit TracingDriver(FileDriver& inner) : inner_(inner) {}
  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override;
  const DriverInfo& Info() const override { return inner_.Info(); }

 private:
  FileDriver& inner_;
};

// A free-form line in `file`'s log ("LockFile failed with error 33"), when
// the trace is on for the file; nothing otherwise. For drivers reporting
// what happens inside an operation.
void TraceNote(const FileDescriptor& file, const DriverInfo& driver, std::string_view text);

// Flushes and closes every open log; the next line reopens its log. For
// tests and shut-down.
void CloseTraceLogs();

}  // namespace qzr

#endif  // QZR_DATA_FILE_TRACE_H_
