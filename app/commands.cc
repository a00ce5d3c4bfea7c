// The commands of qzrfunctions: one table (Commands) gives each command its
// name, usage lines, syntax, validator and handler; parsing, the usage text
// and dispatch all read it.

#include "app/commands.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/cli_backend.h"
#include "app/entry_formats.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/program.h"
#include "app/quick_find.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/plx_file.h"
#include "drivers/palisade/plx_file_check.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/os/atomic_file.h"
#include "runtime/os/file_io.h"
#include "runtime/os/file_system.h"
#include "runtime/pictures/picture.h"
#include "ui/window_backend.h"

namespace qzr {
namespace {

// The structural check's report of an update a killed process left half
// done.
constexpr char kPendingUpdateProblem[] = "header: an interrupted update is pending";

std::string RuntimeErrorText() {
  std::string text = ERROR();
  if (text.empty()) text = "error " + std::to_string(ERRORCODE());
  return text;
}

constexpr char kUsageHead[] =
    "QZR Functions Database: a catalogue of reusable source-code functions.\n"
    "\n"
    "Usage: qzrfunctions [COMMAND [ARGS...]]\n"
    "\n"
    "The catalogue is the file FUNC.PLX in the current directory, created on first\n"
    "use.\n"
    "Without a command the program opens its main window.\n"
    "\n"
    "Commands:\n";

constexpr char kUsageTail[] =
    "\n"
    "FIELDS: --title TEXT --description TEXT --code-file FILE|- --complete\n"
    "        --not-complete --link URL --user NAME   (add --truncate to cut\n"
    "        texts longer than their field instead of refusing them)\n"
    "\n"
    "Entries as JSON: {\"id\",\"title\",\"description\",\"code\",\"complete\",\"link\",\n"
    "\"postedBy\"}; import takes an array, or one object per line.\n"
    "\n"
    "Exit codes: 0 success, 1 failure, 2 wrong usage.\n";

// ---------------------------------------------------------------------------
// Arguments

class Runner;
struct Parsed;

// What a command needs of the catalogue before it runs.
enum class Needs {
  kNothing,  // evaluates without the catalogue
  kFile,     // looks at the catalogue file itself, as it is
  kReading,  // reads entries
  kChanging  // changes entries (refused at once on a read-only file)
};

// One command: its name, its lines in the usage text, its syntax (the
// positional arguments it takes, its flags and its options with values),
// what it checks before the program starts, and what runs it.
struct Command {
  const char* name;
  const char* usage;
  size_t positional;  // exact count
  std::vector<std::string> flags;
  std::vector<std::string> valued;
  // Checks what can be checked before the program starts; nullptr when
  // the syntax is all. False with the reason in *why (a usage error).
  bool (*validate)(const Parsed& p, std::string* why);
  int (Runner::*run)();
  Needs needs;
};

// The command table (defined after the runner, whose members it names).
const std::vector<Command>& Commands();

const std::vector<std::string> kFieldOptions = {"--title", "--description", "--code-file", "--link",
                                                "--user"};

struct Parsed {
  const Command* command = nullptr;
  std::vector<std::string> positional;
  std::set<std::string> flags;
  std::map<std::string, std::string> values;

  std::string Name() const { return command->name; }
  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

bool Contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

// Parses `args` against the command table; false with the reason in *why.
bool Parse(const std::vector<std::string>& args, Parsed* out, std::string* why) {
  for (const Command& c : Commands()) {
    if (args[0] == c.name) out->command = &c;
  }
  if (out->command == nullptr) {
    *why = "unknown command '" + args[0] + "'";
    return false;
  }
  const Command& command = *out->command;
  const std::string name = command.name;
  bool options_done = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.size() < 2 || a.compare(0, 2, "--") != 0) {
      out->positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    size_t eq = a.find('=');
    std::string option = a.substr(0, eq);
    if (Contains(command.flags, option)) {
      if (eq != std::string::npos) {
        *why = name + ": option " + option + " takes no value";
        return false;
      }
      out->flags.insert(option);
    } else if (Contains(command.valued, option)) {
      std::string value;
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *why = name + ": option " + option + " needs a value";
        return false;
      }
      if (out->values.count(option) != 0) {
        *why = name + ": option " + option + " given twice";
        return false;
      }
      out->values[option] = value;
    } else {
      *why = name + ": unknown option " + option;
      return false;
    }
  }
  if (out->positional.size() != command.positional) {
    *why = name + (out->positional.size() < command.positional
                       ? ": missing argument"
                       : ": unexpected argument '" + out->positional.back() + "'");
    return false;
  }
  return command.validate == nullptr || command.validate(*out, why);
}

// An entry number: a whole number 1 .. 2^31-1.
bool ParseId(const std::string& text, int32_t* id) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long long v = std::stoll(text);
  if (v < 1 || v > 2147483647LL) return false;
  *id = static_cast<int32_t>(v);
  return true;
}

// ---- Validators of the command table ----------------------------------------

bool ValidateId(const Parsed& p, std::string* why) {
  int32_t id = 0;
  if (!ParseId(p.positional[0], &id)) {
    *why = p.Name() + ": '" + p.positional[0] + "' is not an entry number";
    return false;
  }
  return true;
}

bool ValidateFind(const Parsed& p, std::string* why) {
  const std::string& text = p.positional[0];
  if (text.find_first_not_of(' ') == std::string::npos) {
    *why = "find: the text to find is blank";
    return false;
  }
  if (text.size() > kFindTextSize) {
    *why = "find: the text to find is longer than " + std::to_string(kFindTextSize) + " bytes";
    return false;
  }
  return true;
}

// The fields of add and update: given as options or as JSON, not both.
bool ValidateFields(const Parsed& p, std::string* why) {
  const std::string c = p.Name();
  if (p.Has("--complete") && p.Has("--not-complete")) {
    *why = c + ": --complete and --not-complete exclude each other";
    return false;
  }
  bool fields = p.Has("--complete") || p.Has("--not-complete");
  for (const std::string& o : kFieldOptions) fields = fields || p.Value(o) != nullptr;
  if (p.Has("--json") && fields) {
    *why = c + ": --json takes the whole entry from standard input; give no field options";
    return false;
  }
  if (c == "update" && !p.Has("--json") && !fields) {
    *why = "update: nothing to change (give field options or --json)";
    return false;
  }
  const std::string* title = p.Value("--title");
  if (c == "add" && !p.Has("--json") &&
      (title == nullptr || title->find_first_not_of(" \t") == std::string::npos)) {
    *why = "add: a title is required (--title TEXT)";
    return false;
  }
  return true;
}

bool ValidateUpdate(const Parsed& p, std::string* why) {
  return ValidateId(p, why) && ValidateFields(p, why);
}

bool ValidateExport(const Parsed& p, std::string* why) {
  ExportFormat format;
  const std::string* f = p.Value("--format");
  if (f != nullptr && !ExportFormatNamed(*f, &format)) {
    *why = "export: unknown format '" + *f + "' (" + kExportFormatNames + ")";
    return false;
  }
  return true;
}

bool ValidateImport(const Parsed& p, std::string* why) {
  const std::string* f = p.Value("--format");
  if (f != nullptr && *f != "json" && *f != "csv") {
    *why = "import: unknown format '" + *f + "' (json or csv)";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Running

// Counts the messages the framework shows, whoever answers them.
class CountingBackend : public WindowBackend {
 public:
  explicit CountingBackend(WindowBackend* inner) : inner_(inner) {}
  int ShowMessage(const MessageRequest& request) override {
    count_.fetch_add(1);
    return inner_->ShowMessage(request);
  }
  void SetCursor(int cursor) override { inner_->SetCursor(cursor); }
  void Beep(int type) override { inner_->Beep(type); }
  int count() const { return count_.load(); }

 private:
  WindowBackend* inner_;
  std::atomic<int> count_{0};
};

// ---- Text for the terminal --------------------------------------------------

// Decodes the UTF-8 sequence at text[i]: its code point and length; length
// 1 with cp = 0xFFFFFFFF for a byte that begins no valid sequence.
size_t NextCodePoint(std::string_view text, size_t i, uint32_t* cp) {
  const size_t len = DecodeUtf8(text.substr(i), cp);
  if (len != 0) return len;
  *cp = 0xFFFFFFFFu;
  return 1;
}

// Columns a code point takes on a terminal: 0 for combining marks and
// zero-width characters, 2 for East Asian wide and full-width characters
// and emoji, else 1.
int ColumnsOf(uint32_t cp) {
  struct Range {
    uint32_t first, last;
  };
  static constexpr Range kZero[] = {
      {0x0300, 0x036F}, {0x0483, 0x0489},   {0x0591, 0x05BD},  {0x0610, 0x061A}, {0x064B, 0x065F},
      {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},   {0x200B, 0x200F},  {0x20D0, 0x20FF}, {0xFE00, 0xFE0F},
      {0xFE20, 0xFE2F}, {0x1F3FB, 0x1F3FF}, {0xE0100, 0xE01EF}};
  static constexpr Range kWide[] = {
      {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
      {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
      {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
      {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
      {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
      {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
      {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
      {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
      {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
      {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
      {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
      {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
      {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
      {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
      {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
      {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
  auto in = [cp](const auto& table) {
    for (const Range& r : table) {
      if (cp >= r.first && cp <= r.last) return true;
    }
    return false;
  };
  if (in(kZero)) return 0;
  return in(kWide) ? 2 : 1;
}

// `text` with what could drive a terminal shown escaped: C0 controls
// (line breaks and tabs too unless `keep_lines`), DEL, the C1 controls and
// bytes that are not UTF-8, as \xNN, \uNNNN, \t, \n or \r.
std::string Escaped(std::string_view text, bool keep_lines) {
  std::string out;
  out.reserve(text.size());
  char buf[16];
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t len = NextCodePoint(text, i, &cp);
    if (cp == 0xFFFFFFFFu) {
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<uint8_t>(text[i]));
      out += buf;
    } else if (cp == '\n' || cp == '\t' || cp == '\r') {
      if (keep_lines && cp != '\r') {
        out += static_cast<char>(cp);
      } else {
        out += cp == '\n' ? "\\n" : cp == '\t' ? "\\t" : "\\r";
      }
    } else if (cp < 0x20 || cp == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\x%02X", cp);
      out += buf;
    } else if (cp >= 0x80 && cp < 0xA0) {
      std::snprintf(buf, sizeof buf, "\\u%04X", cp);
      out += buf;
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

// `text` on one line, escaped, cut or padded to `width` terminal columns
// (a cut ends in "~").
std::string Cell(const std::string& text, size_t width) {
  // Printable ASCII, a column a byte, as it is.
  if (width > 0 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    if (text.size() <= width) return text + std::string(width - text.size(), ' ');
    return text.substr(0, width - 1) + "~";
  }
  std::string one = Escaped(text, false);
  std::string out;
  size_t columns = 0;
  for (size_t i = 0; i < one.size();) {
    uint32_t cp = 0;
    const size_t len = NextCodePoint(one, i, &cp);
    const size_t w = static_cast<size_t>(ColumnsOf(cp));
    if (columns + w > width - 1) {
      // Only a cut when something follows that does not fit.
      size_t rest = 0;
      for (size_t k = i; k < one.size();) {
        uint32_t c2 = 0;
        k += NextCodePoint(one, k, &c2);
        rest += static_cast<size_t>(ColumnsOf(c2));
      }
      if (columns + rest <= width) {
        out.append(one.substr(i));
        columns += rest;
      } else {
        out += "~";
        ++columns;
      }
      break;
    }
    out.append(one.substr(i, len));
    columns += w;
    i += len;
  }
  return out + std::string(width > columns ? width - columns : 0, ' ');
}

// ---- Files -------------------------------------------------------------------

// Reads the whole file at `path`, refusing what is not a regular file's
// contents (a directory). False with the reason in *why.
bool ReadWholeInput(const std::string& path, std::string* out, std::string* why) {
  if (const OsStatus read = ReadWholeFile(path, out); !read.ok()) {
    *why = "cannot read " + path + ": " + std::strerror(read.error());
    return false;
  }
  return true;
}

// The catalogue file's name as the driver opens it.
std::string CataloguePath() {
  std::string path = FUNC().PhysicalName();
  if (path.find('.') == std::string::npos) path += kPalisadeExtension;
  return path;
}

// What is wrong with the catalogue file before anything opens it: a
// directory in its place, a file whose header cannot be read without a
// password. "" when neither (a missing file is created; damage is found by
// opening it, or by the check).
std::string CatalogueFileProblem(const std::string& path) {
  OsPathInfo info;
  if (!StatPath(path, &info).ok()) return "";
  if (info.kind == OsFileKind::kDirectory) return path + " is a directory, not a catalogue file";
  if (info.kind != OsFileKind::kRegular || info.size < palisade::kHeaderBytes) return "";
  std::unique_ptr<OsFile> file;
  if (!OsFile::Open(path, false, false, &file).ok()) return "";
  uint8_t header[palisade::kHeaderBytes];
  size_t got = 0;
  if (!file->ReadAt(0, header, sizeof header, &got).ok() || got != sizeof header) return "";
  if (std::memcmp(header + palisade::kHdrMagic, palisade::kMagic, 4) == 0) return "";
  // An encrypted file enciphers its header too: no magic, and bytes that
  // look like noise (a text file or another format has mostly text or
  // zeros).
  int noise = 0;
  for (uint8_t b : header) noise += b >= 0x80 ? 1 : 0;
  if (info.size % 64 == 0 && noise > 128) {
    return path +
           " is encrypted: it opens only with its password, which this program does not take";
  }
  // Anything else is damage, which opening (or the check) reports.
  return "";
}

// True when another process holds the catalogue's lock for longer than a
// command waits: a reading operation waits for writers that are writing
// out, a changing one for any writer.
bool CatalogueIsLocked(const std::string& path, bool writable, bool changing) {
  palisade::PlxOpenOptions options;
  options.writable = writable;
  options.lock_wait_ms = kCatalogueLockSeconds * 1000;
  std::unique_ptr<palisade::PlxFile> file;
  int rc = palisade::PlxFile::Open(path, options, &file);
  if (rc == 0) {
    rc = file->BeginOperation(changing);
    if (rc == 0) file->EndOperation();
  }
  ClearError();
  return rc == kAccessDenied;
}

// ---- The runner ---------------------------------------------------------------

class Runner {
 public:
  Runner(const Parsed& p, const CommandIo& io, CountingBackend* messages, CommandLineBackend* own)
      : p_(p), io_(io), messages_(messages), own_(own) {}

  // Runs the command: the catalogue's state checked as the command needs,
  // then its handler from the command table.
  int Run();

  // The handlers of the command table.
  int ListAll() { return List(false); }
  int Find() { return List(true); }
  int Show();
  int Add();
  int Update();
  int Delete();
  int Export();
  int Import();
  int Check();
  int Eval();

 private:
  int List(bool find);

  // Reports a failure: one line, unless the framework has shown a message
  // since the command began (that message is the report).
  int Fail(const std::string& text);
  int FailAlways(const std::string& text);
  // A failure of the catalogue: a read-only file, a lock or a full disk in
  // one line of our own; else as Fail.
  int FailWith(const CatalogueError& error);
  // A read that stopped: the line naming where, instead of the framework's.
  int FailRead(const CatalogueError& error);
  bool ReadInput(const std::string& name, std::string* out, std::string* why);
  // Reads every entry the quick find in force lets through into `each`. A
  // read error, or any message of the framework on the way (a list has
  // none to give unless reading failed), ends it with false and the line
  // naming where it stopped.
  // With `listing`, each entry holds only what a listing table shows.
  bool ReadAll(const std::function<bool(const FuncEntry&)>& each, CatalogueError* error,
               bool listing = false);
  // The entry's texts checked against their fields (or cut, --truncate),
  // and for valid UTF-8.
  bool Fit(FuncEntry* entry, const std::string& where, std::string* why);
  bool EntryFromOptions(FuncEntry* entry, std::string* why);
  void PrintTableRow(const FuncEntry& e, bool* header_done);
  void PrintEntry(const FuncEntry& e);
  // Ends the command: the failure's line (or the framework's messages) on
  // the error stream, and a failed write of the output made a failure.
  int Finish(int code);

  const Parsed& p_;
  const CommandIo& io_;
  CountingBackend* messages_;
  CommandLineBackend* own_;  // nullptr when a test answers the messages
  int messages_before_ = 0;
  Catalogue catalogue_;
  // The failure's line, printed by Finish: always, or only when the
  // framework said nothing, or instead of what the framework said.
  std::string failure_;
  enum class Report { kNone, kUnlessShown, kAlways, kInstead } report_ = Report::kNone;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list",
       "  list [--json]                     all entries in number order\n",
       0,
       {"--json"},
       {},
       nullptr,
       &Runner::ListAll,
       Needs::kReading},
      {"find",
       "  find TEXT [--case-sensitive] [--no-memo] [--json]\n"
       "                                    entries containing TEXT (the code too,\n"
       "                                    unless --no-memo), ignoring case unless\n"
       "                                    --case-sensitive\n",
       1,
       {"--case-sensitive", "--no-memo", "--json"},
       {},
       ValidateFind,
       &Runner::Find,
       Needs::kReading},
      {"show",
       "  show ID [--json]                  one entry\n",
       1,
       {"--json"},
       {},
       ValidateId,
       &Runner::Show,
       Needs::kReading},
      {"add",
       "  add --title TEXT [FIELDS] | --json\n"
       "                                    add an entry (with --json, the JSON object\n"
       "                                    on standard input); prints its number\n",
       0,
       {"--json", "--complete", "--not-complete", "--truncate"},
       kFieldOptions,
       ValidateFields,
       &Runner::Add,
       Needs::kChanging},
      {"update",
       "  update ID FIELDS | --json         change an entry\n",
       1,
       {"--json", "--complete", "--not-complete", "--truncate"},
       kFieldOptions,
       ValidateUpdate,
       &Runner::Update,
       Needs::kChanging},
      {"delete",
       "  delete ID [--yes]                 delete an entry after confirmation\n",
       1,
       {"--yes"},
       {},
       ValidateId,
       &Runner::Delete,
       Needs::kChanging},
      {"export",
       "  export [--format json|csv|markdown] [--output FILE]\n",
       0,
       {},
       {"--format", "--output"},
       ValidateExport,
       &Runner::Export,
       Needs::kReading},
      {"import",
       "  import FILE|- [--format json|csv] [--truncate] [--renumber]\n"
       "                                    add entries, all or none; an entry's id\n"
       "                                    is kept, and one already taken refuses\n"
       "                                    the import unless --renumber\n",
       1,
       {"--truncate", "--renumber"},
       {"--format"},
       ValidateImport,
       &Runner::Import,
       Needs::kChanging},
      {"check",
       "  check                             check the catalogue file's structure\n",
       0,
       {},
       {},
       nullptr,
       &Runner::Check,
       Needs::kFile},
      {"eval",
       "  eval EXPRESSION                   evaluate an expression\n",
       1,
       {},
       {},
       nullptr,
       &Runner::Eval,
       Needs::kNothing},
  };
  return commands;
}

// The usage text: its head, each command's lines in table order, its tail.
const std::string& Usage() {
  static const std::string usage = [] {
    std::string text = kUsageHead;
    for (const Command& c : Commands()) text += c.usage;
    return text + kUsageTail;
  }();
  return usage;
}

bool Runner::ReadAll(const std::function<bool(const FuncEntry&)>& each, CatalogueError* error,
                     bool listing) {
  const int before = messages_->count();
  int32_t last = 0;
  bool ok = catalogue_.ForEach(
      [&](const FuncEntry& e) {
        last = e.id;
        return each(e);
      },
      error, listing);
  if (ok && messages_->count() > before) {
    ok = false;
    std::string why = own_ != nullptr ? own_->FirstKept() : std::string();
    error->text = "reading the catalogue stopped " +
                  (last > 0 ? "after entry " + std::to_string(last) : "before the first entry") +
                  (why.empty() ? std::string() : ": " + why) + "; run 'qzrfunctions check'";
    error->code = 0;
  }
  return ok;
}

int Runner::Fail(const std::string& text) {
  failure_ = text;
  report_ = Report::kUnlessShown;
  return kExitFailure;
}

int Runner::FailAlways(const std::string& text) {
  failure_ = text;
  report_ = Report::kAlways;
  return kExitFailure;
}

int Runner::FailWith(const CatalogueError& error) {
  const std::string path = CataloguePath();
  // 39 is the operating system's "disk full", kept with 90 and with a
  // transaction's 48.
  if ((error.code == kFileSystemError || error.code == kUnableToLogTransaction) &&
      error.file_error == "39") {
    failure_ = "disk full: the catalogue file " + path +
               " could not be written (it is as it was before the command)";
    report_ = Report::kInstead;
    return kExitFailure;
  }
  if (error.code == kAccessDenied || error.code == kFileIsAlreadyLocked) {
    const OsStatus writable = CheckWritable(path);
    failure_ = !writable.ok() && !writable.Is(ENOENT)
                   ? "the catalogue file " + path + " is read-only"
                   : "the catalogue is locked by another process";
    report_ = Report::kInstead;
    return kExitFailure;
  }
  return Fail(error.text);
}

int Runner::FailRead(const CatalogueError& error) {
  FailWith(error);
  if (report_ == Report::kUnlessShown) report_ = Report::kInstead;
  return kExitFailure;
}

int Runner::Finish(int code) {
  io_.out->Flush();
  if (!io_.out->good() && code == kExitOk) {
    const int err = io_.out_error ? io_.out_error() : 0;
    code = FailAlways("cannot write the output" +
                      (err != 0 ? std::string(": ") + std::strerror(err) : std::string()));
  }
  const bool shown = messages_->count() > messages_before_;
  if (report_ == Report::kInstead) {
    if (own_ != nullptr) own_->Discard();
  } else if (own_ != nullptr) {
    own_->Flush();
  }
  if (report_ == Report::kAlways || report_ == Report::kInstead ||
      (report_ == Report::kUnlessShown && !shown)) {
    *io_.err << kProgramName << ": " << failure_ << "\n";
    io_.err->Flush();
  }
  return code;
}

bool Runner::ReadInput(const std::string& name, std::string* out, std::string* why) {
  if (name == "-") {
    out->clear();
    io_.in->ReadAll(out);
    return true;
  }
  return ReadWholeInput(name, out, why);
}

bool Runner::Fit(FuncEntry* entry, const std::string& where, std::string* why) {
  const std::pair<const char*, const std::string*> texts[] = {{"title", &entry->title},
                                                              {"description", &entry->description},
                                                              {"code", &entry->code},
                                                              {"link", &entry->link},
                                                              {"poster", &entry->posted_by}};
  for (const auto& [field, text] : texts) {
    const size_t bad = InvalidUtf8At(*text);
    if (bad != std::string::npos) {
      *why = where + "the " + field + " is not valid UTF-8 (byte " + std::to_string(bad + 1) +
             " of it)";
      return false;
    }
  }
  if (p_.Has("--truncate")) {
    TruncateFuncEntry(entry);
    return true;
  }
  FuncFieldProblem problem;
  if (CheckFuncEntry(*entry, &problem)) return true;
  if (problem.has_zero) {
    *why = where + "the " + problem.field + " holds a zero byte, which a text field cannot keep";
  } else {
    *why = where + "the " + problem.field + " is " + std::to_string(problem.length) +
           " bytes long; the field holds at most " + std::to_string(problem.limit) +
           " (use --truncate to cut it)";
  }
  return false;
}

bool Runner::EntryFromOptions(FuncEntry* entry, std::string* why) {
  if (p_.Has("--json")) {
    std::string text;
    EntryFields fields;
    ReadInput("-", &text, why);
    if (!ParseJsonEntry(text, &fields, why)) {
      *why = "standard input: " + *why;
      return false;
    }
    if (fields.id && p_.Name() == "update" && *fields.id != entry->id) {
      *why = "update: the object's id " + std::to_string(*fields.id) + " is not entry " +
             std::to_string(entry->id);
      return false;
    }
    if (p_.Name() == "add" &&
        (!fields.title || fields.title->find_first_not_of(" \t") == std::string::npos)) {
      *why = "a title is required (the object's \"title\")";
      return false;
    }
    ApplyEntryFields(fields, entry);
    return true;
  }
  if (const std::string* v = p_.Value("--title")) entry->title = *v;
  if (const std::string* v = p_.Value("--description")) entry->description = *v;
  if (const std::string* v = p_.Value("--link")) entry->link = *v;
  if (const std::string* v = p_.Value("--user")) entry->posted_by = *v;
  if (p_.Has("--complete")) entry->complete = true;
  if (p_.Has("--not-complete")) entry->complete = false;
  if (const std::string* v = p_.Value("--code-file")) {
    if (!ReadInput(*v, &entry->code, why)) return false;
  }
  return true;
}

void Runner::PrintTableRow(const FuncEntry& e, bool* header_done) {
  TextOut& out = *io_.out;
  if (!*header_done) {
    out << "    ID  C  " << Cell("Title", 50) << "  Posted by\n";
    *header_done = true;
  }
  char id[16];
  std::snprintf(id, sizeof id, "%6d", e.id);
  std::string user = Cell(e.posted_by, 29);
  while (!user.empty() && user.back() == ' ') user.pop_back();
  out << id << "  " << (e.complete ? '*' : ' ') << "  " << Cell(e.title, 50) << "  " << user
      << "\n";
}

void Runner::PrintEntry(const FuncEntry& e) {
  TextOut& out = *io_.out;
  const std::string description = Escaped(e.description, true);
  const std::string code = Escaped(e.code, true);
  out << "ID:          " << e.id << "\n"
      << "Title:       " << Escaped(e.title, false) << "\n"
      << "Complete:    " << (e.complete ? "yes (working code, complete example)" : "no") << "\n"
      << "Forum link:  " << Escaped(e.link, false) << "\n"
      << "Posted by:   " << Escaped(e.posted_by, false) << "\n"
      << "\nDescription:\n"
      << description << (description.empty() || description.back() == '\n' ? "" : "\n")
      << "\nCode:\n"
      << code << (code.empty() || code.back() == '\n' ? "" : "\n");
}

int Runner::List(bool find) {
  const bool json = p_.Has("--json");
  if (find) {
    SetGlobalQuickFind(
        MakeQuickFind(p_.positional[0], !p_.Has("--case-sensitive"), !p_.Has("--no-memo")));
  } else {
    ClearGlobalQuickFind();
  }
  bool header_done = false;
  CatalogueError error;
  bool ok = ReadAll(
      [&](const FuncEntry& e) {
        if (json) {
          *io_.out << EntryToJson(e) << "\n";
        } else {
          PrintTableRow(e, &header_done);
        }
        return io_.out->good();
      },
      &error, !json);
  ClearGlobalQuickFind();
  if (!ok) return FailRead(error);
  return kExitOk;
}

int Runner::Show() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  FuncEntry e;
  CatalogueError error;
  if (!catalogue_.Get(id, &e, &error)) return FailWith(error);
  if (p_.Has("--json")) {
    *io_.out << EntryToJson(e) << "\n";
  } else {
    PrintEntry(e);
  }
  return kExitOk;
}

int Runner::Add() {
  FuncEntry e;
  std::string why;
  if (!EntryFromOptions(&e, &why) || !Fit(&e, "", &why)) return FailAlways("add: " + why);
  int32_t id = 0;
  CatalogueError error;
  if (!catalogue_.Add(e, &id, &error)) return FailWith(error);
  *io_.out << id << "\n";
  return kExitOk;
}

int Runner::Update() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  FuncEntry e;
  CatalogueError error;
  if (!catalogue_.Get(id, &e, &error)) return FailWith(error);
  std::string why;
  if (!EntryFromOptions(&e, &why) || !Fit(&e, "", &why)) return FailAlways("update: " + why);
  bool changed = false;
  if (!catalogue_.Update(e, &changed, &error)) return FailWith(error);
  *io_.out << "entry " << id << (changed ? " changed" : " unchanged") << "\n";
  return kExitOk;
}

int Runner::Delete() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  CatalogueError error;
  FuncEntry stored;
  if (!catalogue_.Get(id, &stored, &error)) return FailWith(error);
  if (own_ != nullptr) {
    own_->Rephrase(
        "Are you sure you want to delete the highlighted record?",
        "Delete entry " + std::to_string(id) + " \"" + Escaped(stored.title, false) + "\"?");
  }
  bool declined = false;
  if (!catalogue_.Delete(id, &declined, &error)) {
    // A declined confirmation is the user's answer, reported as such.
    return declined ? FailAlways(error.text) : FailWith(error);
  }
  *io_.out << "entry " << id << " deleted\n";
  return kExitOk;
}

int Runner::Export() {
  // The format was checked with the arguments; JSON when none is given.
  ExportFormat format = ExportFormat::kJson;
  if (const std::string* name = p_.Value("--format")) ExportFormatNamed(*name, &format);
  const std::string* output = p_.Value("--output");
  // A file is written whole or not at all: into a temporary beside the file
  // it replaces (the one a symbolic link names), synced, renamed over it.
  std::string target, temp;
  std::unique_ptr<OsFile> file;
  std::unique_ptr<OsOutputStream> file_out;
  // Standard output is a TextOut; the entry writer writes to a C++ stream.
  TextOutBuf out_buf(io_.out);
  std::ostream out_stream(&out_buf);
  std::ostream* out = &out_stream;
  if (output != nullptr) {
    target = *output;
    if (std::string resolved; ResolvePath(*output, &resolved).ok()) target = resolved;
    OsPathInfo out_info, cat_info;
    const std::string catalogue = CataloguePath();
    const bool exists = StatPath(target, &out_info).ok();
    if (exists && StatPath(catalogue, &cat_info).ok() && out_info.id.device == cat_info.id.device &&
        out_info.id.inode == cat_info.id.inode) {
      return FailAlways("export: " + *output + " is the catalogue file " + catalogue +
                        "; give another file");
    }
    if (exists && out_info.kind == OsFileKind::kDirectory) {
      return FailAlways("export: cannot write " + *output + ": " + std::strerror(EISDIR));
    }
    if (OsStatus s = CreateTemporaryBeside(target, &temp, &file); !s.ok()) {
      return FailAlways("export: cannot write " + *output + ": " + std::strerror(s.error()));
    }
    file_out = std::make_unique<OsOutputStream>(file.get());
    out = file_out.get();
  }
  EntryWriter writer(format, out);
  writer.Begin();
  CatalogueError error;
  ClearGlobalQuickFind();
  bool ok = ReadAll(
      [&](const FuncEntry& e) {
        writer.Write(e);
        return out->good();
      },
      &error);
  if (ok) writer.End();
  out->flush();
  bool written = ok && out->good();
  if (output != nullptr) {
    OsStatus saved = file_out->status();
    if (saved.ok() && !written) saved = OsStatus::Error(EIO);
    file_out.reset();
    if (saved.ok()) saved = file->Sync();
    if (saved.ok()) saved = file->Close();
    file.reset();
    if (saved.ok()) saved = RenameFile(temp, target);
    if (!saved.ok()) {
      UnlinkFile(temp).IgnoreError();  // a leftover temporary is harmless
      if (!ok) return FailRead(error);
      return FailAlways("export: cannot write " + *output + ": " + std::strerror(saved.error()));
    }
    // The new name is in place; a folder that cannot be synced (some file
    // systems refuse) does not undo the export.
    SyncDirectoryOf(target).IgnoreError();
    return kExitOk;
  }
  if (!ok) return FailRead(error);
  return kExitOk;
}

int Runner::Import() {
  const std::string& name = p_.positional[0];
  std::string format;
  if (p_.Value("--format") != nullptr) {
    format = *p_.Value("--format");
  } else {
    // Without --format the file's extension decides; JSON otherwise.
    format = name.size() > 4 && EqualNoCase(std::string_view(name).substr(name.size() - 4), ".csv")
                 ? "csv"
                 : "json";
  }
  std::string text, why;
  if (!ReadInput(name, &text, &why)) return FailAlways("import: " + why);
  std::vector<EntryFields> parsed;
  bool ok = format == "csv" ? ParseCsvEntries(text, &parsed, &why)
                            : ParseJsonEntries(text, &parsed, &why);
  if (!ok)
    return FailAlways("import: " + (name == "-" ? std::string("standard input") : name) + ": " +
                      why + "; nothing was imported");
  std::vector<FuncEntry> entries;
  entries.reserve(parsed.size());
  std::set<int64_t> given;
  for (size_t i = 0; i < parsed.size(); ++i) {
    const std::string where = "entry " + std::to_string(i + 1) + ": ";
    FuncEntry e;
    ApplyEntryFields(std::move(parsed[i]), &e);
    if (parsed[i].id) {
      const int64_t id = *parsed[i].id;
      if (id < 1 || id > 2147483647LL) {
        return FailAlways("import: " + where + "the id " + std::to_string(id) +
                          " is not an entry number (1 to 2147483647); nothing was imported");
      }
      if (!given.insert(id).second && !p_.Has("--renumber")) {
        return FailAlways("import: " + where + "the id " + std::to_string(id) +
                          " is given twice (use --renumber to give such entries new numbers); "
                          "nothing was imported");
      }
      e.id = static_cast<int32_t>(id);
    }
    if (!Fit(&e, where, &why)) return FailAlways("import: " + why + "; nothing was imported");
    entries.push_back(std::move(e));
  }
  std::vector<int32_t> ids;
  CatalogueError error;
  if (!catalogue_.Import(entries, p_.Has("--renumber"), &ids, &error)) {
    error.text = "import: " + error.text;
    return FailWith(error);
  }
  *io_.out << "imported " << ids.size() << (ids.size() == 1 ? " entry" : " entries");
  if (!ids.empty()) {
    *io_.out << " (" << *std::min_element(ids.begin(), ids.end()) << ".."
             << *std::max_element(ids.begin(), ids.end()) << ")";
  }
  *io_.out << "\n";
  return kExitOk;
}

int Runner::Check() {
  const std::string path = CataloguePath();
  if (!PathExists(path)) {
    return FailAlways("check: there is no catalogue file " + path + " in this directory");
  }
  // As any open for writing does, complete (or drop) an update a killed
  // process left half done; only one that cannot be completed here (a
  // file this process may not write) is left for the check to report.
  std::string no_recovery;
  if (!CheckWritable(path).ok()) {
    no_recovery = "the file is read-only";
  } else {
    palisade::PlxOpenOptions options;
    std::unique_ptr<palisade::PlxFile> file;
    if (palisade::PlxFile::Open(path, options, &file) != 0) no_recovery = RuntimeErrorText();
  }
  std::vector<std::string> problems = palisade::CheckPlxFile(path);
  for (std::string& problem : problems) {
    if (problem == kPendingUpdateProblem && !no_recovery.empty()) {
      problem += " and cannot be completed here (" + no_recovery + ")";
    }
  }
  if (problems.empty()) {
    *io_.out << path << ": no problems found\n";
    return kExitOk;
  }
  for (const std::string& problem : problems) *io_.out << path << ": " << problem << "\n";
  return FailAlways("check: " + path + " is damaged (" + std::to_string(problems.size()) +
                    (problems.size() == 1 ? " problem)" : " problems)"));
}

int Runner::Eval() {
  std::string value = EVALUATE(p_.positional[0]);
  int code = ERRORCODE();
  if (code != 0) {
    std::string detail = ERRORDETAIL();
    *io_.err << "error " << code << ": " << ERROR() << (detail.empty() ? "" : ": " + detail)
             << "\n";
    return kExitFailure;
  }
  *io_.out << value << "\n";
  return kExitOk;
}

int Runner::Run() {
  messages_before_ = messages_->count();
  const Needs needs = p_.command->needs;
  const bool uses_catalogue = needs == Needs::kReading || needs == Needs::kChanging;
  const bool writes = needs == Needs::kChanging;
  const std::string path = CataloguePath();
  if (needs != Needs::kNothing) {
    if (std::string problem = CatalogueFileProblem(path); !problem.empty()) {
      return Finish(FailAlways(problem));
    }
  }
  const bool exists = PathExists(path);
  const bool read_only = exists && !CheckWritable(path).ok();
  if (uses_catalogue && read_only) {
    // A file this process may not write: a change is refused at once, and
    // reading opens it read-only from the start (no fall-back warning).
    if (writes) return Finish(FailAlways("the catalogue file " + path + " is read-only"));
    FuncAccess->OPENMODE = static_cast<uint8_t>(FuncAccess->OPENMODE & 0xF0);
    FuncAccess->OPENMODEOVERRIDDEN = 1;
  }
  if (uses_catalogue && exists && CatalogueIsLocked(path, !read_only, writes)) {
    // Said once, after one wait, rather than after each of the framework's
    // attempts to open the file.
    return Finish(FailAlways("the catalogue is locked by another process"));
  }
  const int code = (this->*p_.command->run)();
  catalogue_.Close();
  return Finish(code);
}

}  // namespace

const char* UsageText() {
  return Usage().c_str();
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

int RunCommandLine(const std::vector<std::string>& args, const CommandIo& io) {
  if (args.empty()) {
    if (!HasDisplay()) {
      *io.err << kProgramName
              << ": no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is "
                 "set); the commands below work without one.\n\n"
              << Usage();
      return kExitUsage;
    }
    if (!io.open_windows) {
      *io.err << kProgramName << ": this build has no windows; the commands below work.\n\n"
              << Usage();
      return kExitUsage;
    }
    return io.open_windows();
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    *io.out << Usage();
    return kExitOk;
  }
  Parsed parsed;
  std::string why;
  if (!Parse(args, &parsed, &why)) {
    *io.err << kProgramName << ": " << why << "\nTry '" << kProgramName << " --help'.\n";
    return kExitUsage;
  }
  // A command waits for another process's lock a few seconds, not the
  // driver's default half minute.
  SetPalisadeLockWait(kCatalogueLockSeconds * 1000);
  CommandLineBackend own(io.err, io.interactive, parsed.Has("--yes"), io.question_in_fd,
                         io.question_out_fd);
  CountingBackend counting(io.backend != nullptr ? io.backend : &own);
  int code = kExitFailure;
  RunProgram([&] {
    ScopedBackend scope(&counting);
    bool halted = false;
    // A halt-level message ends the command, not the process in the middle
    // of a file operation: the operation returns and the command fails.
    AppErrors->SetHaltHook([&](int) { halted = true; });
    Runner runner(parsed, io, &counting, io.backend != nullptr ? nullptr : &own);
    code = runner.Run();
    if (halted && code == kExitOk) code = kExitFailure;
    AppErrors->SetHaltHook(nullptr);
    SetProgramExitCode(code);
  });
  return code;
}

}  // namespace qzr
