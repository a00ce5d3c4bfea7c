// The commands of qzrfunctions.

#include "app/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/cli_backend.h"
#include "app/entry_formats.h"
#include "app/func_file.h"
#include "app/program.h"
#include "app/quick_find.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/plx_file_check.h"
#include "runtime/evaluator.h"
#include "runtime/picture.h"
#include "runtime/runtime_error.h"
#include "ui/window_backend.h"

namespace qzr {
namespace {

constexpr char kUsage[] =
    "QZR Functions Database: a catalogue of reusable source-code functions.\n"
    "\n"
    "Usage: qzrfunctions [COMMAND [ARGS...]]\n"
    "\n"
    "The catalogue is the file FUNC in the current directory, created on first use.\n"
    "Without a command the program opens its main window.\n"
    "\n"
    "Commands:\n"
    "  list [--json]                     all entries in number order\n"
    "  find TEXT [--case-sensitive] [--no-memo] [--json]\n"
    "                                    entries containing TEXT (the code too,\n"
    "                                    unless --no-memo), ignoring case unless\n"
    "                                    --case-sensitive\n"
    "  show ID [--json]                  one entry\n"
    "  add FIELDS | --json               add an entry (the JSON object on standard\n"
    "                                    input); prints its number\n"
    "  update ID FIELDS | --json         change an entry\n"
    "  delete ID [--yes]                 delete an entry after confirmation\n"
    "  export [--format json|csv|markdown] [--output FILE]\n"
    "  import FILE|- [--format json|csv] [--truncate]\n"
    "                                    add entries, all or none\n"
    "  check                             check the catalogue file's structure\n"
    "  eval EXPRESSION                   evaluate an expression\n"
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

struct CommandSpec {
  const char* name;
  size_t positional;  // exact count
  std::vector<std::string> flags;
  std::vector<std::string> valued;
};

const std::vector<std::string> kFieldOptions = {"--title", "--description", "--code-file", "--link",
                                                "--user"};

const std::vector<CommandSpec>& Specs() {
  static const std::vector<CommandSpec> specs = {
      {"list", 0, {"--json"}, {}},
      {"find", 1, {"--case-sensitive", "--no-memo", "--json"}, {}},
      {"show", 1, {"--json"}, {}},
      {"add", 0, {"--json", "--complete", "--not-complete", "--truncate"}, kFieldOptions},
      {"update", 1, {"--json", "--complete", "--not-complete", "--truncate"}, kFieldOptions},
      {"delete", 1, {"--yes"}, {}},
      {"export", 0, {}, {"--format", "--output"}},
      {"import", 1, {"--truncate"}, {"--format"}},
      {"check", 0, {}, {}},
      {"eval", 1, {}, {}},
  };
  return specs;
}

struct Parsed {
  std::string command;
  std::vector<std::string> positional;
  std::set<std::string> flags;
  std::map<std::string, std::string> values;

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
};

bool Contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

// Parses `args`; false with the reason in *why.
bool Parse(const std::vector<std::string>& args, Parsed* out, std::string* why) {
  out->command = args[0];
  const CommandSpec* command_syntax = nullptr;
  for (const CommandSpec& s : Specs()) {
    if (out->command == s.name) command_syntax = &s;
  }
  if (command_syntax == nullptr) {
    *why = "unknown command '" + out->command + "'";
    return false;
  }
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
    std::string name = a.substr(0, eq);
    if (Contains(command_syntax->flags, name)) {
      if (eq != std::string::npos) {
        *why = out->command + ": option " + name + " takes no value";
        return false;
      }
      out->flags.insert(name);
    } else if (Contains(command_syntax->valued, name)) {
      std::string value;
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *why = out->command + ": option " + name + " needs a value";
        return false;
      }
      if (out->values.count(name) != 0) {
        *why = out->command + ": option " + name + " given twice";
        return false;
      }
      out->values[name] = value;
    } else {
      *why = out->command + ": unknown option " + name;
      return false;
    }
  }
  if (out->positional.size() != command_syntax->positional) {
    *why = out->command + (out->positional.size() < command_syntax->positional
                               ? ": missing argument"
                               : ": unexpected argument '" + out->positional.back() + "'");
    return false;
  }
  return true;
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

// Checks what can be checked before the program starts.
bool Validate(const Parsed& p, std::string* why) {
  const std::string& c = p.command;
  if (c == "show" || c == "update" || c == "delete") {
    int32_t id = 0;
    if (!ParseId(p.positional[0], &id)) {
      *why = c + ": '" + p.positional[0] + "' is not an entry number";
      return false;
    }
  }
  if (c == "find") {
    const std::string& text = p.positional[0];
    if (text.find_first_not_of(' ') == std::string::npos) {
      *why = "find: the text to find is blank";
      return false;
    }
    if (text.size() > kFindTextSize) {
      *why = "find: the text to find is longer than " + std::to_string(kFindTextSize) + " bytes";
      return false;
    }
  }
  if (c == "add" || c == "update") {
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
  }
  if (c == "export" && p.Value("--format") != nullptr) {
    const std::string& f = *p.Value("--format");
    if (f != "json" && f != "csv" && f != "markdown") {
      *why = "export: unknown format '" + f + "' (json, csv or markdown)";
      return false;
    }
  }
  if (c == "import" && p.Value("--format") != nullptr) {
    const std::string& f = *p.Value("--format");
    if (f != "json" && f != "csv") {
      *why = "import: unknown format '" + f + "' (json or csv)";
      return false;
    }
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

class Runner {
 public:
  Runner(const Parsed& p, const CommandIo& io, CountingBackend* messages)
      : p_(p), io_(io), messages_(messages) {}

  int Run();

 private:
  int List(bool find);
  int Show();
  int Add();
  int Update();
  int Delete();
  int Export();
  int Import();
  int Check();
  int Eval();

  // Reports a failure: one line, unless the framework has shown a message
  // since the command began (that message is the report).
  int Fail(const std::string& text);
  int FailAlways(const std::string& text);
  bool ReadInput(const std::string& name, std::string* out, std::string* why);
  // The entry's texts checked against their fields (or cut, --truncate).
  bool Fit(FuncEntry* entry, const std::string& where, std::string* why);
  bool EntryFromOptions(FuncEntry* entry, std::string* why);
  void PrintTableRow(const FuncEntry& e, bool* header_done);
  void PrintEntry(const FuncEntry& e);

  const Parsed& p_;
  const CommandIo& io_;
  CountingBackend* messages_;
  int messages_before_ = 0;
  Catalogue catalogue_;
};

int Runner::Fail(const std::string& text) {
  if (messages_->count() > messages_before_) return kExitFailure;
  return FailAlways(text);
}

int Runner::FailAlways(const std::string& text) {
  *io_.err << kProgramName << ": " << text << "\n";
  io_.err->flush();
  return kExitFailure;
}

bool Runner::ReadInput(const std::string& name, std::string* out, std::string* why) {
  if (name == "-") {
    std::ostringstream all;
    all << io_.in->rdbuf();
    *out = all.str();
    return true;
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    *why = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) {
    *why = "cannot read " + name;
    return false;
  }
  *out = all.str();
  return true;
}

bool Runner::Fit(FuncEntry* entry, const std::string& where, std::string* why) {
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
    if (fields.id && p_.command == "update" && *fields.id != entry->id) {
      *why = "update: the object's id " + std::to_string(*fields.id) + " is not entry " +
             std::to_string(entry->id);
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

std::string Cell(const std::string& text, size_t width) {
  std::string one = text;
  std::replace(one.begin(), one.end(), '\n', ' ');
  std::replace(one.begin(), one.end(), '\r', ' ');
  std::replace(one.begin(), one.end(), '\t', ' ');
  size_t chars = Utf8Length(one);
  if (chars > width) {
    one = one.substr(0, Utf8Prefix(one, width - 1)) + "~";
    chars = width;
  }
  return one + std::string(width - chars, ' ');
}

void Runner::PrintTableRow(const FuncEntry& e, bool* header_done) {
  std::ostream& out = *io_.out;
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
  std::ostream& out = *io_.out;
  out << "ID:          " << e.id << "\n"
      << "Title:       " << e.title << "\n"
      << "Complete:    " << (e.complete ? "yes (working code, complete example)" : "no") << "\n"
      << "Forum link:  " << e.link << "\n"
      << "Posted by:   " << e.posted_by << "\n"
      << "\nDescription:\n"
      << e.description << (e.description.empty() || e.description.back() == '\n' ? "" : "\n")
      << "\nCode:\n"
      << e.code << (e.code.empty() || e.code.back() == '\n' ? "" : "\n");
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
  bool ok = catalogue_.ForEach(
      [&](const FuncEntry& e) {
        if (json) {
          *io_.out << EntryToJson(e) << "\n";
        } else {
          PrintTableRow(e, &header_done);
        }
        return io_.out->good();
      },
      &error);
  ClearGlobalQuickFind();
  if (!ok) return Fail(error.text);
  io_.out->flush();
  if (!io_.out->good()) return FailAlways("cannot write the output");
  return kExitOk;
}

int Runner::Show() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  FuncEntry e;
  CatalogueError error;
  if (!catalogue_.Get(id, &e, &error)) return Fail(error.text);
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
  if (!catalogue_.Add(e, &id, &error)) return Fail(error.text);
  *io_.out << id << "\n";
  return kExitOk;
}

int Runner::Update() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  FuncEntry e;
  CatalogueError error;
  if (!catalogue_.Get(id, &e, &error)) return Fail(error.text);
  std::string why;
  if (!EntryFromOptions(&e, &why) || !Fit(&e, "", &why)) return FailAlways("update: " + why);
  bool changed = false;
  if (!catalogue_.Update(e, &changed, &error)) return Fail(error.text);
  *io_.out << "entry " << id << (changed ? " changed" : " unchanged") << "\n";
  return kExitOk;
}

int Runner::Delete() {
  int32_t id = 0;
  ParseId(p_.positional[0], &id);
  bool declined = false;
  CatalogueError error;
  if (!catalogue_.Delete(id, &declined, &error)) {
    // A declined confirmation is the user's answer, reported as such.
    return declined ? FailAlways(error.text) : Fail(error.text);
  }
  *io_.out << "entry " << id << " deleted\n";
  return kExitOk;
}

int Runner::Export() {
  std::string format = p_.Value("--format") ? *p_.Value("--format") : "json";
  const std::string* output = p_.Value("--output");
  // A file is written whole or not at all: into a temporary beside it,
  // renamed over it at the end.
  std::string temp;
  std::ofstream file;
  std::ostream* out = io_.out;
  if (output != nullptr) {
    temp = *output + ".tmp" + std::to_string(getpid());
    file.open(temp, std::ios::binary | std::ios::trunc);
    if (!file) return FailAlways("export: cannot write " + *output + ": " + std::strerror(errno));
    out = &file;
  }
  size_t count = 0;
  if (format == "csv") *out << CsvHeader();
  if (format == "markdown") *out << MarkdownHeader();
  CatalogueError error;
  ClearGlobalQuickFind();
  bool ok = catalogue_.ForEach(
      [&](const FuncEntry& e) {
        if (format == "json") {
          *out << (count == 0 ? "[\n" : ",\n") << EntryToJson(e);
        } else if (format == "csv") {
          *out << EntryToCsvRow(e);
        } else {
          *out << EntryToMarkdown(e);
        }
        ++count;
        return out->good();
      },
      &error);
  if (ok && format == "json") *out << (count == 0 ? "[]\n" : "\n]\n");
  out->flush();
  bool written = ok && out->good();
  if (output != nullptr) {
    file.close();
    written = written && !file.fail();
    if (written && std::rename(temp.c_str(), output->c_str()) != 0) {
      std::string why = std::strerror(errno);
      std::remove(temp.c_str());
      return FailAlways("export: cannot write " + *output + ": " + why);
    }
    if (!written) std::remove(temp.c_str());
  }
  if (!ok) return Fail(error.text);
  if (!written) return FailAlways("export: cannot write the output");
  return kExitOk;
}

int Runner::Import() {
  const std::string& name = p_.positional[0];
  std::string format;
  if (p_.Value("--format") != nullptr) {
    format = *p_.Value("--format");
  } else {
    // Without --format the file's extension decides; JSON otherwise.
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    format = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".csv") == 0 ? "csv" : "json";
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
  for (size_t i = 0; i < parsed.size(); ++i) {
    FuncEntry e;
    ApplyEntryFields(parsed[i], &e);
    if (!Fit(&e, "entry " + std::to_string(i + 1) + ": ", &why)) {
      return FailAlways("import: " + why + "; nothing was imported");
    }
    entries.push_back(std::move(e));
  }
  std::vector<int32_t> ids;
  CatalogueError error;
  if (!catalogue_.Import(entries, &ids, &error)) return Fail("import: " + error.text);
  *io_.out << "imported " << ids.size() << (ids.size() == 1 ? " entry" : " entries");
  if (!ids.empty()) *io_.out << " (" << ids.front() << ".." << ids.back() << ")";
  *io_.out << "\n";
  return kExitOk;
}

int Runner::Check() {
  FileDescriptor& func = FUNC();
  std::string path = func.PhysicalName();
  if (path.find('.') == std::string::npos) path += kPalisadeExtension;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return FailAlways("check: there is no catalogue file " + path + " in this directory");
  }
  std::vector<std::string> problems = palisade::CheckPlxFile(path);
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
  const std::string& c = p_.command;
  int code = kExitUsage;
  if (c == "list") code = List(false);
  if (c == "find") code = List(true);
  if (c == "show") code = Show();
  if (c == "add") code = Add();
  if (c == "update") code = Update();
  if (c == "delete") code = Delete();
  if (c == "export") code = Export();
  if (c == "import") code = Import();
  if (c == "check") code = Check();
  if (c == "eval") code = Eval();
  catalogue_.Close();
  io_.out->flush();
  return code;
}

}  // namespace

const char* UsageText() {
  return kUsage;
}

int RunCommandLine(const std::vector<std::string>& args, const CommandIo& io) {
  if (args.empty()) {
    // The window's Main takes this place once the program has a window.
    return RunProgram([&] { *io.out << kUsage; });
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    *io.out << kUsage;
    return kExitOk;
  }
  Parsed parsed;
  std::string why;
  if (!Parse(args, &parsed, &why) || !Validate(parsed, &why)) {
    *io.err << kProgramName << ": " << why << "\nTry '" << kProgramName << " --help'.\n";
    return kExitUsage;
  }
  CommandLineBackend own(io.err, io.interactive, parsed.Has("--yes"));
  CountingBackend counting(io.backend != nullptr ? io.backend : &own);
  int code = kExitFailure;
  RunProgram([&] {
    ScopedBackend scope(&counting);
    bool halted = false;
    // A halt-level message ends the command, not the process in the middle
    // of a file operation: the operation returns and the command fails.
    AppErrors->SetHaltHook([&](int) { halted = true; });
    Runner runner(parsed, io, &counting);
    code = runner.Run();
    if (halted && code == kExitOk) code = kExitFailure;
    AppErrors->SetHaltHook(nullptr);
    SetProgramExitCode(code);
  });
  return code;
}

}  // namespace qzr
