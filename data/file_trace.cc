// The file-operation trace.

#include "data/file_trace.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "data/driver_string.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/os/file_io.h"
#include "runtime/settings/locale_data.h"
#include "runtime/settings/profile.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

std::mutex& SettingsMutex() {
  static std::mutex mu;
  return mu;
}

TraceSettings& Settings() {
  static TraceSettings settings;
  return settings;
}

// Mirrors Settings().trace so that an untraced call takes no lock.
std::atomic<bool> g_trace_all{false};

// Open logs by path. Never destroyed, so a trace written during static
// destruction still finds its log.
struct Logs {
  std::mutex mu;
  std::map<std::string, std::unique_ptr<OsFile>> files;
};
Logs& TheLogs() {
  static Logs* logs = new Logs();
  return *logs;
}

// Each call's lines go to the log in one appended write, so lines of
// several processes tracing into one log never interleave and a trace is
// on disk (in the system's cache) as soon as the call returns: the flush
// setting asks for no more than that.
void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  Logs& logs = TheLogs();
  std::lock_guard<std::mutex> lock(logs.mu);
  std::unique_ptr<OsFile>& f = logs.files[path];
  if (f == nullptr) {
    OsOpenOptions options;
    options.access = OsAccess::kWrite;
    options.create = true;
    options.append = true;
    // A log that cannot be opened is no reason to fail the file operation.
    if (!OsFile::Open(path, options, &f).ok()) {
      logs.files.erase(path);
      return;
    }
  }
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  // Nor is a log that cannot be written.
  f->Append(text.data(), text.size()).IgnoreError();
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

// Bytes 0x20..0x7E and 0xA0..0xFF show as themselves, the rest as "%02XH".
std::string Printable(const uint8_t* data, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = data[i];
    if ((b >= 0x20 && b < 0x7F) || b >= 0xA0) {
      out.push_back(static_cast<char>(b));
    } else {
      out += Format("%02XH", b);
    }
  }
  return out;
}

std::string Hex(const uint8_t* data, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += Format("%02X", data[i]);
  return out;
}

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string DateText(long serial) {
  int year = 0, month = 0, day = 0;
  if (serial < INT32_MIN || serial > INT32_MAX ||
      DateToParts(static_cast<int32_t>(serial), &year, &month, &day) != 0 || month < 1 ||
      month > 12) {
    return "Invalid date (" + std::to_string(serial) + ")";
  }
  const std::string& month_name = Locale().short_month_names[static_cast<size_t>(month - 1)];
  return Format("%02d %s %d (%ld)", day, month_name.c_str(), year, serial);
}

std::string TimeText(long serial) {
  int h = 0, m = 0, s = 0, hs = 0;
  if (serial < INT32_MIN || serial > INT32_MAX ||
      TimeToParts(static_cast<int32_t>(serial), &h, &m, &s, &hs) != 0) {
    return "Invalid time (" + std::to_string(serial) + ")";
  }
  return Format("%02d:%02d:%02d.%02d (%ld)", h, m, s, hs, serial);
}

// DECIMAL (sign in the high nibble of byte 0) and PDECIMAL (sign in the low
// nibble of the last byte) as a decimal number with `places` places.
std::string DecimalText(const uint8_t* p, uint32_t size, uint8_t places, bool packed_trailing) {
  std::string digits;
  bool negative = false;
  if (size == 0) return "0";
  if (!packed_trailing) {
    negative = (p[0] & 0x80) != 0;
    digits.push_back(static_cast<char>('0' + (p[0] & 0x0F) % 10));
    for (uint32_t i = 1; i < size; ++i) {
      digits.push_back(static_cast<char>('0' + (p[i] >> 4) % 10));
      digits.push_back(static_cast<char>('0' + (p[i] & 0x0F) % 10));
    }
  } else {
    for (uint32_t i = 0; i < size; ++i) {
      digits.push_back(static_cast<char>('0' + (p[i] >> 4) % 10));
      if (i + 1 < size) digits.push_back(static_cast<char>('0' + (p[i] & 0x0F) % 10));
    }
    negative = (p[size - 1] & 0x0F) == 0x0D;
  }
  if (places > digits.size()) digits.insert(0, places - digits.size(), '0');
  std::string whole = digits.substr(0, digits.size() - places);
  std::string frac = digits.substr(digits.size() - places);
  size_t nz = whole.find_first_not_of('0');
  whole = nz == std::string::npos ? "0" : whole.substr(nz);
  std::string out = whole;
  if (places > 0) out += "." + frac;
  bool zero = out.find_first_not_of("0.") == std::string::npos;
  return (negative && !zero ? "-" : "") + out;
}

char PictureFamily(const std::string& picture) {
  size_t i = (!picture.empty() && picture[0] == '@') ? 1 : 0;
  return i < picture.size() ? AsciiUpper(picture[i]) : '\0';
}

bool ReadsRecord(FileOp op) {
  switch (op) {
    case FileOp::ADD:
    case FileOp::APPEND:
    case FileOp::PUT:
    case FileOp::DELETE:
    case FileOp::GETfilekey:
    case FileOp::GETfileptr:
    case FileOp::GETkeyptr:
    case FileOp::NEXT:
    case FileOp::PREVIOUS:
    case FileOp::ADDfilelen:
    case FileOp::GETfileptrlen:
    case FileOp::PUTfileptr:
    case FileOp::PUTfileptrlen:
    case FileOp::APPENDlen:
    case FileOp::REGETfile:
    case FileOp::REGETkey:
      return true;
    default:
      return false;
  }
}

std::string Quoted(std::string_view s) {
  return "'" + std::string(s) + "'";
}

}  // namespace

void SetTraceSettings(const TraceSettings& settings) {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  Settings() = settings;
  g_trace_all.store(settings.trace, std::memory_order_relaxed);
}

TraceSettings GetTraceSettings() {
  std::lock_guard<std::mutex> lock(SettingsMutex());
  return Settings();
}

TraceSettings LoadTraceSettings(std::string_view section, const TraceSettings& base) {
  TraceSettings s = base;
  s.trace = GetProfileInt(section, "Trace", s.trace ? 1 : 0) != 0;
  s.details = GetProfileInt(section, "Details", s.details ? 1 : 0) != 0;
  s.profile = GetProfileInt(section, "Profile", s.profile ? 1 : 0) != 0;
  s.flush = GetProfileInt(section, "Flush", s.flush ? 1 : 0) != 0;
  s.trace_file = GetProfileString(section, "TraceFile", s.trace_file);
  return s;
}

namespace {

// True when the driver string can carry a trace switch of its own.
bool PerFileTrace(const FileDescriptor& file) {
  return !file.driver_string.empty() && (ContainsNoCase(file.driver_string, "LOGFILE") ||
                                         ContainsNoCase(file.driver_string, "ALLOWDETAILS"));
}

}  // namespace

bool TraceMayBeOn(const FileDescriptor& file) {
  return g_trace_all.load(std::memory_order_relaxed) || PerFileTrace(file);
}

FileTraceMode TraceModeFor(const FileDescriptor& file, const DriverInfo& driver) {
  FileTraceMode mode;
  // Parse the driver string only when it can carry a trace switch: the
  // common case is a file without one, on every call.
  const bool per_file = PerFileTrace(file);
  if (!per_file && !g_trace_all.load(std::memory_order_relaxed)) return mode;
  mode.settings = GetTraceSettings();
  mode.on = mode.settings.trace;
  if (per_file) {
    ParsedDriverString parsed = ParseDriverString(file.driver_string, driver.switches);
    if (const std::string* log = parsed.Find("LOGFILE"); log != nullptr && !log->empty()) {
      LogFileSwitch sw = SplitLogFile(*log);
      if (!sw.section.empty()) mode.settings = LoadTraceSettings(sw.section, mode.settings);
      if (!sw.file.empty()) mode.settings.trace_file = sw.file;
      mode.on = true;
    }
    if (SwitchBool(parsed, driver.switches, "ALLOWDETAILS")) {
      mode.settings.details = true;
      mode.on = true;
    }
  }
  if (mode.settings.trace_file.empty()) mode.settings.trace_file = driver.name + ".LOG";
  return mode;
}

std::string TraceLine(FileOp op, const FileDescriptor& file, const FileArgs& args, int code,
                      long hundredths, bool profile) {
  std::string line;
  if (args.view != 0) line += Format("VIEW:%lX:", static_cast<unsigned long>(args.view));
  line += OperationName(op) + "(" + file.PhysicalName() + ")";
  std::string name = OperationName(op);
  auto ends_with = [&name](std::string_view suffix) {
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (args.key >= 0 && static_cast<size_t>(args.key) < file.keys.size() &&
      (ends_with("key") || ends_with("keyptr") || op == FileOp::BUILDkey ||
       op == FileOp::RECORDSkey)) {
    line += "  Key: " + file.keys[static_cast<size_t>(args.key)].label;
  }
  if (name.find("ptr") != std::string::npos) line += Format("  Pos: %" PRIu32, args.position);
  if (ends_with("len")) line += Format("  Len: %" PRIu32, args.length);
  if (ends_with("sec")) line += Format("  Secs: %" PRIu32, args.timeout);
  if (op == FileOp::SEND) line += "  Command: " + args.driver_string;
  if (op == FileOp::SET_PROPERTY || op == FileOp::GET_PROPERTY || op == FileOp::DO_PROPERTY) {
    line += Format("  Property: %" PRIX32 "h", args.property);
  }
  if (code != 0) {
    line += Format("  Error: %d ", code) + RuntimeString(code);
    if (code == kFileSystemError && !FILEERRORCODE().empty()) {
      line += " (" + FILEERRORCODE() + " " + FILEERROR() + ")";
    }
  }
  if (profile) {
    line += Format("  Time Taken: %ld.%02ld secs", hundredths / 100, hundredths % 100);
  }
  return line;
}

std::vector<std::string> DeclarationLines(const FileDescriptor& file) {
  std::vector<std::string> lines;
  std::string head = file.label + " FILE,DRIVER('" + file.driver + "'";
  if (!file.driver_string.empty()) head += "," + Quoted(file.driver_string);
  head += ")";
  if (!file.owner.empty()) head += ",OWNER(******)";
  if (!file.name.empty()) head += ",NAME('" + file.name + "')";
  if (file.Has(kFileCreate)) head += ",CREATE";
  if (file.Has(kFileEncrypt)) head += ",ENCRYPT";
  if (file.Has(kFileReclaim)) head += ",RECLAIM";
  if (file.Has(kFileThread)) head += ",THREAD";
  lines.push_back(head);

  for (const KeyDesc& key : file.keys) {
    std::string line = key.label + (key.IsIndex() ? " INDEX(" : " KEY(");
    for (size_t c = 0; c < key.components.size(); ++c) {
      const KeyComponent& comp = key.components[c];
      if (c > 0) line += ",";
      line += comp.descending ? "-" : "+";
      line += comp.field >= 0 && static_cast<size_t>(comp.field) < file.fields.size()
                  ? file.fields[static_cast<size_t>(comp.field)].label
                  : "?" + std::to_string(comp.field + 1);
    }
    line += ")";
    if (key.flags & kKeyDup) line += ",DUP";
    if (key.flags & kKeyOpt) line += ",OPT";
    if (key.flags & kKeyNocase) line += ",NOCASE";
    if (key.flags & kKeyPrimary) line += ",PRIMARY";
    if (!key.name.empty()) line += ",NAME('" + key.name + "')";
    lines.push_back(line);
  }

  for (const MemoDesc& memo : file.memos) {
    std::string line =
        memo.label + (memo.IsBlob() ? " BLOB" : " MEMO(" + std::to_string(memo.size) + ")");
    if (!memo.name.empty()) line += ",NAME('" + memo.name + "')";
    if (memo.IsBinary()) line += ",BINARY";
    lines.push_back(line);
  }

  lines.push_back("RECORD");
  // GROUPs open a structure of their own, closed by "END" after their last
  // member.
  std::vector<size_t> open_groups;  // remaining members of each open group
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const FieldDesc& f = file.fields[i];
    std::string line = f.label + " " + std::string(TypeName(f.type));
    if (f.type == TypeCode::DECIMAL || f.type == TypeCode::PDECIMAL) {
      line += Format("(%u,%u)", static_cast<unsigned>(f.digits), static_cast<unsigned>(f.places));
    } else if (f.type == TypeCode::STRING || f.type == TypeCode::CSTRING ||
               f.type == TypeCode::PSTRING) {
      if (!f.picture.empty()) {
        line += Format("(@%s)", f.picture.c_str());
      } else {
        line += Format("(%u)", f.size);
      }
    } else if (f.type != TypeCode::GROUP && FixedTypeSize(f.type) == 0 && f.size != 0) {
      line += Format("(%u)", f.size);
    }
    if (!f.dims.empty()) {
      line += ", DIM(";
      for (size_t d = 0; d < f.dims.size(); ++d) line += (d ? "," : "") + std::to_string(f.dims[d]);
      line += ")";
    }
    if (f.over != kNoField) {
      line += ", OVER(";
      line += f.over >= 0 && static_cast<size_t>(f.over) < file.fields.size()
                  ? file.fields[static_cast<size_t>(f.over)].label
                  : "?";
      line += ")";
    }
    if (!f.name.empty()) line += ", NAME('" + f.name + "')";
    lines.push_back(line);
    for (auto& g : open_groups) --g;
    if (f.type == TypeCode::GROUP) {
      if (f.group_fields == 0) {
        lines.push_back("END");
      } else {
        open_groups.push_back(f.group_fields);
      }
    }
    while (!open_groups.empty() && open_groups.back() == 0) {
      open_groups.pop_back();
      lines.push_back("END");
    }
  }
  for (size_t g = 0; g < open_groups.size(); ++g) lines.push_back("END");
  lines.push_back("END");
  lines.push_back("END");
  return lines;
}

std::string FieldValueText(const FileDescriptor& file, int index, uint32_t element) {
  if (index < 0 || static_cast<size_t>(index) >= file.fields.size()) return {};
  const FieldDesc& f = file.fields[static_cast<size_t>(index)];
  uint64_t start = f.offset + uint64_t{f.size} * element;
  // A field that does not lie inside the buffer is shown as such, never read.
  if (start + f.size > file.record.size()) return "<outside the record>";
  const uint8_t* p = file.record.data() + start;
  const uint32_t n = f.size;
  switch (f.type) {
    case TypeCode::BYTE:
      return std::to_string(p[0]);
    case TypeCode::SHORT:
      return n >= 2 ? std::to_string(static_cast<int16_t>(p[0] | p[1] << 8)) : Hex(p, n);
    case TypeCode::USHORT:
      return n >= 2 ? std::to_string(static_cast<uint16_t>(p[0] | p[1] << 8)) : Hex(p, n);
    case TypeCode::LONG: {
      if (n < 4) return Hex(p, n);
      long v = static_cast<int32_t>(LoadU32(p));
      char family = PictureFamily(f.picture);
      if (family == 'D') return DateText(v);
      if (family == 'T') return TimeText(v);
      return std::to_string(v);
    }
    case TypeCode::ULONG:
      return n >= 4 ? std::to_string(LoadU32(p)) : Hex(p, n);
    case TypeCode::DATE: {
      if (n < 4) return Hex(p, n);
      int day = p[0], month = p[1], year = p[2] | p[3] << 8;
      int32_t serial = (day == 0 && month == 0 && year == 0) ? 0 : DateFromParts(month, day, year);
      // Parts that make no date are shown by their raw value.
      if (serial <= 0)
        return "Invalid date (" + std::to_string(static_cast<int32_t>(LoadU32(p))) + ")";
      return DateText(serial);
    }
    case TypeCode::TIME: {
      if (n < 4) return Hex(p, n);
      int32_t serial = TimeFromParts(p[3], p[2], p[1], p[0]);
      if (serial <= 0)
        return "Invalid time (" + std::to_string(static_cast<int32_t>(LoadU32(p))) + ")";
      return TimeText(serial);
    }
    case TypeCode::SREAL: {
      if (n < 4) return Hex(p, n);
      float v;
      std::memcpy(&v, p, 4);
      return Format("%.7g", static_cast<double>(v));
    }
    case TypeCode::REAL: {
      if (n < 8) return Hex(p, n);
      double v;
      std::memcpy(&v, p, 8);
      return Format("%.15g", v);
    }
    case TypeCode::DECIMAL:
      return DecimalText(p, n, f.places, false);
    case TypeCode::PDECIMAL:
      return DecimalText(p, n, f.places, true);
    case TypeCode::STRING: {
      size_t len = n;
      while (len > 0 && p[len - 1] == ' ') --len;
      return Quoted(Printable(p, len));
    }
    case TypeCode::CSTRING: {
      size_t len = 0;
      while (len < n && p[len] != 0) ++len;
      return Quoted(Printable(p, len));
    }
    case TypeCode::PSTRING: {
      size_t len = n > 0 ? std::min<size_t>(p[0], n - 1) : 0;
      return Quoted(Printable(p + 1, len));
    }
    default:
      return Hex(p, n);
  }
}

std::vector<std::string> RecordLines(const FileDescriptor& file) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const FieldDesc& f = file.fields[i];
    if (f.type == TypeCode::GROUP) continue;
    uint32_t count = f.ElementCount();
    if (f.dims.empty()) {
      lines.push_back("  " + f.label + " = " + FieldValueText(file, static_cast<int>(i)));
      continue;
    }
    for (uint32_t e = 0; e < count; ++e) {
      lines.push_back("  " + f.label + "[" + std::to_string(e + 1) +
                      "] = " + FieldValueText(file, static_cast<int>(i), e));
    }
  }
  for (size_t m = 0; m < file.memos.size(); ++m) {
    const std::string value = m < file.memo_values.size() ? file.memo_values[m] : std::string();
    const MemoDesc& memo = file.memos[m];
    std::string shown =
        memo.IsBlob() || memo.IsBinary()
            ? "<" + std::to_string(value.size()) + " bytes>"
            : Quoted(Printable(reinterpret_cast<const uint8_t*>(value.data()), value.size()));
    lines.push_back("  " + memo.label + " = " + shown);
  }
  return lines;
}

int TraceCall(FileDriver& driver, const FileTraceMode& mode, FileOp op, FileDescriptor& file,
              FileArgs& args) {
  if (!mode.on) return driver.Call(op, file, args);
  auto start = std::chrono::steady_clock::now();
  int code = driver.Call(op, file, args);
  auto elapsed = std::chrono::steady_clock::now() - start;
  long hundredths = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10);
  // The driver may have posted its own detail (code 90 with FILEERRORCODE);
  // the line shows it, so post the plain code only when the driver did not.
  if (code != 0 && ERRORCODE() != code) PostError(code);

  std::vector<std::string> lines;
  lines.push_back(TraceLine(op, file, args, code, hundredths, mode.settings.profile));
  if (mode.settings.details && code == 0) {
    if (op == FileOp::OPEN || op == FileOp::CREATE) {
      for (std::string& l : DeclarationLines(file)) lines.push_back("  " + std::move(l));
    } else if (ReadsRecord(op)) {
      for (std::string& l : RecordLines(file)) lines.push_back(std::move(l));
    }
  }
  WriteLines(mode.settings.trace_file, lines);
  return code;
}

int TracingDriver::Call(FileOp op, FileDescriptor& file, FileArgs& args) {
  return TraceCall(inner_, TraceModeFor(file, inner_.Info()), op, file, args);
}

void TraceNote(const FileDescriptor& file, const DriverInfo& driver, std::string_view text) {
  FileTraceMode mode = TraceModeFor(file, driver);
  if (!mode.on) return;
  WriteLines(mode.settings.trace_file, {std::string(text)});
}

void CloseTraceLogs() {
  Logs& logs = TheLogs();
  std::lock_guard<std::mutex> lock(logs.mu);
  logs.files.clear();
}

}  // namespace qzr
