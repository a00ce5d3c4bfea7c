// The Palisade driver: registration, the dispatch of operations, opening and
// creating tables, whole-file operations, SEND commands and properties.
//
// Every call runs under DriverMutex(). Row operations live in
// driver_rows.cc.

#include "drivers/palisade/driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <typeinfo>

#include "data/driver_string.h"
#include "data/file_trace.h"
#include "drivers/palisade/driver_state.h"
#include "drivers/palisade/file_io.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/header.h"
#include "drivers/palisade/table_def.h"
#include "drivers/palisade/transaction.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"

namespace qzr {

using palisade::FileSettings;
using palisade::OpScope;
using palisade::PalisadeState;
using palisade::PlxFile;
using palisade::PlxOpenOptions;
using palisade::StateOf;
using palisade::TableName;

namespace palisade {

std::recursive_mutex& DriverMutex() {
  static auto* mu = new std::recursive_mutex();
  return *mu;
}

}  // namespace palisade

namespace {

using namespace palisade;  // the error-code constants

// ---- Process-wide settings --------------------------------------------------

// Clean pages a file keeps cached. A lookup touches a key-entry page, a row
// page and a memo page or two; the cache's own policy keeps little more
// than its minimum of pages that were used once, so with the default (20 to
// 100 pages) random reads of a file of a few thousand pages decode nearly
// every page they touch. Four hundred measured best on the catalogue's
// workload (sixteen hundred read 100k random rows of a 20k-row catalogue no
// faster), at most 6 MB of pages per open file.
constexpr size_t kDriverCachePages = 400;

struct Globals {
  PagerOptions pager;
  int lock_wait_ms = 30000;
  // Settings sent to descriptors while closed, applied at their next OPEN.
  std::map<const FileDescriptor*, FileSettings> pending;
};

PagerOptions DefaultPagerOptions() {
  PagerOptions o;
  o.cache.min_pages = kDriverCachePages;
  o.cache.max_pages = kDriverCachePages;
  return o;
}

Globals& G() {
  static auto* g = [] {
    auto* globals = new Globals();
    globals->pager = DefaultPagerOptions();
    return globals;
  }();
  return *g;
}

const std::vector<SwitchSpec>& PalisadeSwitches() {
  static const auto* specs = new std::vector<SwitchSpec>{
      {"TCF", SwitchType::kString, "", std::nullopt, "ON", "OFF"},
      {"DecimalCheck", SwitchType::kBool, "ON", std::string("ON"), "ON", "OFF"},
  };
  return *specs;
}

DriverInfo MakeInfo() {
  DriverInfo info;
  info.name = kPalisadeDriverName;
  info.display_name = kPalisadeDisplayName;
  info.default_extension = kPalisadeExtension;
  DriverCapabilities& c = info.capabilities;
  c.types =
      TypeMask({TypeCode::BYTE, TypeCode::SHORT, TypeCode::USHORT, TypeCode::DATE, TypeCode::TIME,
                TypeCode::LONG, TypeCode::ULONG, TypeCode::SREAL, TypeCode::REAL, TypeCode::DECIMAL,
                TypeCode::PDECIMAL, TypeCode::BFLOAT4, TypeCode::BFLOAT8, TypeCode::STRING,
                TypeCode::CSTRING, TypeCode::PSTRING, TypeCode::GROUP});
  c.memo = true;
  c.blob = true;
  c.binary_memo = true;
  c.descending_keys = true;
  c.mixed_keys = true;
  c.nomemo_with_read = true;       // RowCall
  c.skip_with_read = true;         // SequentialRead
  c.max_memos = 255;               // the memo index of a piece is one byte
  c.max_keys = kMaxKeyNumber + 1;  // key numbers stay below the row kind
  c.max_field_size = 15000;        // a row is one record of a page
  c.max_memo_size = 65535;         // a MEMO's SIZE is stored in 16 bits
  info.switches = PalisadeSwitches();
  return info;
}

// Posts `code` unless an error is posted already, and returns it.
int Fail(int code) {
  if (code != 0 && ERRORCODE() == 0) PostError(code);
  return code;
}

// The settings of a descriptor about to be opened: those sent while it was
// closed, then its driver string's switches.
FileSettings SettingsFor(const FileDescriptor& file, const std::string& driver_string) {
  FileSettings settings;
  auto& pending = G().pending;
  if (auto it = pending.find(&file); it != pending.end()) {
    settings = it->second;
    pending.erase(it);
  }
  ParsedDriverString parsed = ParseDriverString(driver_string, PalisadeSwitches());
  if (parsed.Find("DecimalCheck") != nullptr) {
    settings.decimal_check = SwitchBool(parsed, PalisadeSwitches(), "DecimalCheck");
  }
  if (const std::string* tcf = parsed.Find("TCF")) SetControlFileName(*tcf);
  return settings;
}

PlxOpenOptions OptionsFor(const FileDescriptor& file, bool writable, uint32_t share) {
  PlxOpenOptions o;
  o.writable = writable;
  o.share = share;
  o.password = file.owner;
  o.pager = G().pager;
  o.lock_wait_ms = G().lock_wait_ms;
  return o;
}

// ---- OPEN, CREATE, CLOSE -----------------------------------------------------

int OpenTable(FileDescriptor& file, FileArgs& args, uint32_t mode) {
  if (file.IsOpen()) return kFileAlreadyOpen;
  if (file.PhysicalName().empty()) return kInvalidFilename;
  const TableName name = SplitTableName(file.PhysicalName());
  auto state = std::make_unique<PalisadeState>();
  state->settings =
      SettingsFor(file, args.driver_string.empty() ? file.driver_string : args.driver_string);
  if (int rc = state->keys.Init(file, CollationForFile(file)); rc != 0) return rc;
  uint32_t share = mode & 0xF0;
  if (mode < 0x10) share = kShareDenyNone;
  const bool writable = (mode & 3) != 0;
  PlxOpenOptions options = OptionsFor(file, writable, share);
  options.create = writable && file.Has(kFileCreate);
  if (int rc = PlxFile::Open(name.file, options, &state->file); rc != 0) return rc;
  state->table_name = name.table;
  // Failed lock attempts go to the file's trace (when it has one). The
  // descriptor may move while open, so the trace keeps its own copy of the
  // declaration.
  state->file->locks()->set_trace(
      [decl = std::make_shared<FileDescriptor>(file.CopyDeclaration())](const std::string& text) {
        static const DriverInfo* info = new DriverInfo(MakeInfo());
        TraceNote(*decl, *info, text);
      });

  std::optional<uint32_t> table;
  {
    OpScope op(state->file.get(), false);
    if (op.rc() != 0) return op.rc();
    table = state->file->tables()->FindTable(name.table);
    if (table) {
      if (int rc = state->file->tables()->CompareTable(*table, file, state->settings.decimal_check);
          rc != 0) {
        return rc;
      }
    }
  }
  if (!table) {
    if (!options.create) return Fail(kFileNotFound);
    OpScope op(state->file.get(), true);
    if (op.rc() != 0) return op.rc();
    // Another file object may have created it between the two brackets.
    table = state->file->tables()->FindTable(name.table);
    if (!table) {
      uint32_t id = 0;
      if (int rc = state->file->tables()->CreateTable(name.table, file, &id); rc != 0) {
        state->file->Rollback();
        return rc;
      }
      if (int rc = state->file->WriteOut(); rc != 0) return rc;
      table = id;
    } else if (int rc =
                   state->file->tables()->CompareTable(*table, file, state->settings.decimal_check);
               rc != 0) {
      return rc;
    }
  }
  state->table = *table;
  file.open_mode = mode;
  file.memo_values.resize(file.memos.size());
  file.state = std::move(state);
  return 0;
}

int CreateTable(FileDescriptor& file, FileArgs& args) {
  if (file.IsOpen()) return kFileAlreadyOpen;
  if (file.PhysicalName().empty()) return kInvalidFilename;
  const TableName name = SplitTableName(file.PhysicalName());
  FileSettings settings =
      SettingsFor(file, args.driver_string.empty() ? file.driver_string : args.driver_string);
  G().pending[&file] = settings;  // still wanted by the OPEN that follows
  TableKeys keys;
  if (int rc = keys.Init(file, CollationForFile(file)); rc != 0) return rc;
  // The table is replaced whole: nobody else may have the file open.
  PlxOpenOptions options = OptionsFor(file, true, kShareDenyAll);
  options.create = true;
  std::unique_ptr<PlxFile> f;
  if (int rc = PlxFile::Open(name.file, options, &f); rc != 0) return rc;
  PlxTables* tables = f->tables();
  if (std::optional<uint32_t> old = tables->FindTable(name.table)) {
    DropTable(f->tree(), name.table, *old);
  }
  uint32_t id = 0;
  if (int rc = tables->CreateTable(name.table, file, &id); rc != 0) {
    f->Rollback();
    return rc;
  }
  return f->WriteOut();
}

int CloseTable(FileDescriptor& file) {
  PalisadeState* s = StateOf(file);
  int rc = 0;
  LeaveTransaction(*s);
  if (s->stream) {
    s->stream = false;
    OpScope op(s->file.get(), true);
    rc = op.rc() != 0 ? op.rc() : s->file->WriteOut();
  }
  s->file->KeepWriter(false);
  file.state.reset();
  return rc;
}

// ---- Whole-file operations ------------------------------------------------------

// Opens the file of a closed descriptor exclusively (nobody else may have it
// open) for REMOVE, RENAME and COPY.
int OpenExclusive(const FileDescriptor& file, bool writable, uint32_t share,
                  std::unique_ptr<PlxFile>* out, TableName* name) {
  if (file.IsOpen()) return kFileAlreadyOpen;
  if (file.PhysicalName().empty()) return kInvalidFilename;
  *name = SplitTableName(file.PhysicalName());
  return PlxFile::Open(name->file, OptionsFor(file, writable, share), out);
}

// Syncs the directory holding `path` after a name in it changed: 0, or 90
// with the operating-system error posted.
int SyncedDirectoryOf(const std::string& path) {
  const OsStatus s = SyncDirectoryOf(path);
  return s.ok() ? 0 : PostOsFailure(s);
}

// REMOVE: the whole file when the table is its only one; otherwise only
// the table. A file that is not a Palisade file is left alone (36).
int Remove(FileDescriptor& file) {
  std::unique_ptr<PlxFile> f;
  TableName name;
  if (int rc = OpenExclusive(file, true, kShareDenyAll, &f, &name); rc != 0) return rc;
  std::vector<std::string> tables = f->tables()->ListTables();
  std::optional<uint32_t> table = f->tables()->FindTable(name.table);
  const bool only = tables.empty() || (tables.size() == 1 && table.has_value());
  if (!only) {
    if (!table) return Fail(kFileNotFound);
    DropTable(f->tree(), name.table, *table);
    return f->WriteOut();
  }
  f.reset();
  if (const OsStatus s = UnlinkFile(name.file); !s.ok()) return PostOsFailure(s);
  return SyncedDirectoryOf(name.file);
}

std::string TargetPath(const std::string& value) {
  return SplitTableName(value).file;
}

// RENAME: the whole operating-system file; an existing target is refused
// (operating-system error "File Already Exists") rather than overwritten.
// The new name is made first and the old one removed after, so a death
// between the two leaves the file under both names, never under none.
int Rename(FileDescriptor& file, FileArgs& args) {
  if (args.value.empty()) return kInvalidFilename;
  std::unique_ptr<PlxFile> f;
  TableName name;
  if (int rc = OpenExclusive(file, true, kShareDenyAll, &f, &name); rc != 0) return rc;
  f.reset();
  const std::string target = TargetPath(args.value);
  if (const OsStatus s = LinkFile(name.file, target); !s.ok()) return PostOsFailure(s);
  if (!ProcessPoint("rename-linked")) return PostOsFailure(OsStatus::Error(EIO));
  if (const OsStatus s = UnlinkFile(name.file); !s.ok()) return PostOsFailure(s);
  return SyncedDirectoryOf(target);
}

// COPY: the whole operating-system file, read while nobody can write it; an
// existing target is replaced. The copy is flushed before COPY returns.
int Copy(FileDescriptor& file, FileArgs& args) {
  if (args.value.empty()) return kInvalidFilename;
  std::unique_ptr<PlxFile> f;
  TableName name;
  if (int rc = OpenExclusive(file, false, kShareDenyWrite, &f, &name); rc != 0) return rc;
  const std::string target = TargetPath(args.value);
  std::unique_ptr<OsFile> in, out;
  if (const OsStatus s = OsFile::Open(name.file, false, false, &in); !s.ok()) {
    return PostOsFailure(s);
  }
  if (const OsStatus s = OsFile::Open(target, true, true, &out); !s.ok()) return PostOsFailure(s);
  OsStatus s = out->Truncate(0);
  std::vector<char> buf(1 << 16);
  for (uint64_t at = 0; s.ok();) {
    size_t got = 0;
    if (s = in->ReadAt(at, buf.data(), buf.size(), &got); !s.ok() || got == 0) break;
    s = out->WriteAt(at, buf.data(), got);
    at += got;
  }
  if (s.ok() && !out->Point("copy-before-sync")) s = OsStatus::Error(EIO);
  if (s.ok()) s = out->Sync();
  if (!s.ok()) return PostOsFailure(s);
  return SyncedDirectoryOf(target);
}

// Sets LastIssued of the file at `path` (plain or enciphered with `cipher`).
int SetLastIssued(const std::string& path, const UnitCipher* cipher, const uint8_t value[4]) {
  std::unique_ptr<OsFile> f;
  if (const OsStatus s = OsFile::Open(path, true, false, &f); !s.ok()) return PostOsFailure(s);
  f->set_cipher(cipher);
  uint8_t block[kHeaderBytes];
  ReadExact(f.get(), 0, kHeaderBytes, block);
  PlxHeader header;
  if (!PlxHeader::Decode(block, &header)) return Fail(kInvalidDataFile);
  std::copy(value, value + 4, header.LastIssued);
  header.Encode(block);
  if (!WriteBlock(f.get(), 0, kHeaderBytes, block) || !FlushBuffers(f.get())) {
    return PostOsFailure(OsStatus::Error(f->failed_errno() == 0 ? EIO : f->failed_errno()));
  }
  return 0;
}

// Removes the packed copy a failed PACK leaves. Its absence is what the
// caller wants; a failure to remove it is not the PACK's error.
void RemovePackedCopy(const std::string& temp) {
  UnlinkFile(temp).IgnoreError();
}

// PACK: every record copied in key order into a fresh file (ascending loads
// fill pages completely), which then replaces the file. Needs the file
// opened deny all: other file objects would keep reading the replaced one.
// A death at any point leaves the old file (the rename has not happened)
// or the packed one (it has, and the packed file was synced before it).
int Pack(FileDescriptor& file) {
  PalisadeState* s = StateOf(file);
  if (s->file->options().share != kShareDenyAll || s->file->read_only()) {
    return kExclusiveAccessRequired;
  }
  if (s->in_transaction) return kLogoutAlreadyActive;
  if (int rc = s->file->WriteOut(); rc != 0) return rc;
  const std::string path = s->file->path();
  const std::string temp = path + ".pack";
  RemovePackedCopy(temp);
  PagerOptions options = s->file->options().pager;
  options.cipher = s->file->cipher();
  {
    std::unique_ptr<Pager> pager;
    if (int rc = Pager::Open(temp, true, true, options, &pager); rc != 0) return rc;
    PageTree tree(pager.get());
    tree.set_debug_checks(false);
    TreeCursor cursor(s->file->tree());
    size_t n = 0;
    for (bool ok = cursor.SeekFirst(); ok; ok = cursor.Next()) {
      const RecordView rec = cursor.record();
      tree.Insert(MakeRecord(rec.key(), rec.payload()));
      if (++n % 4096 == 0) {
        if (int rc = pager->MaybeSpill(); rc != 0) {
          RemovePackedCopy(temp);
          return rc;
        }
      }
    }
    if (int rc = pager->Flush(); rc != 0) {
      RemovePackedCopy(temp);
      return rc;
    }
  }
  if (int rc = SetLastIssued(temp, options.cipher, s->file->pager()->header().LastIssued);
      rc != 0) {
    RemovePackedCopy(temp);
    return rc;
  }
  // Reopen over the packed file with the same options; the old file object
  // goes first so that its locks and descriptor are released.
  PlxOpenOptions reopen = s->file->options();
  s->file.reset();
  OsStatus renamed = OsStatus::Error(EIO);
  if (ProcessPoint("pack-before-rename")) renamed = RenameFile(temp, path);
  if (!renamed.ok()) {
    RemovePackedCopy(temp);
    // The old file is as it was: open it again. When even that fails the
    // table is closed (a later CLOSE says so) rather than left open over no
    // file.
    if (PlxFile::Open(path, reopen, &s->file) != 0) {
      file.state.reset();
      return PostOsFailure(renamed);
    }
    s->pos = StartOfRows();
    s->current_row = 0;
    return PostOsFailure(renamed);
  }
  // Renamed but perhaps not durably until the folder is synced: the file is
  // the packed one either way, so a failed sync is posted, not returned.
  if (const OsStatus synced = SyncDirectoryOf(path); !synced.ok()) PostOsFailure(synced);
  if (int rc = PlxFile::Open(path, reopen, &s->file); rc != 0) {
    file.state.reset();
    return rc;
  }
  s->pos = StartOfRows();
  s->current_row = 0;
  return 0;
}

// ---- SEND ------------------------------------------------------------------

int Send(FileDescriptor& file, FileArgs& args) {
  const std::string command(Trim(args.driver_string));
  size_t end = 0;
  while (end < command.size() &&
         (std::isalnum(static_cast<unsigned char>(command[end])) || command[end] == '_' ||
          command[end] == '$' || command[end] == '.')) {
    ++end;
  }
  const std::string name = Upper(command.substr(0, end));
  std::string rest(Trim(std::string_view(command).substr(end)));
  const bool has_value = !rest.empty() && rest[0] == '=';
  const std::string value(has_value ? Trim(std::string_view(rest).substr(1)) : std::string_view());
  PalisadeState* s = file.IsOpen() ? StateOf(file) : nullptr;
  FileSettings& settings = s != nullptr ? s->settings : G().pending[&file];
  auto on_off = [](bool b) { return std::string(b ? "ON" : "OFF"); };

  if (name == "DECIMALCHECK") {
    args.value = on_off(settings.decimal_check);
    if (has_value) settings.decimal_check = Upper(value) != "OFF";
    return 0;
  }
  if (name == "FULLBUILD") {
    args.value = on_off(settings.full_build);
    if (has_value) settings.full_build = Upper(value) == "ON";
    return 0;
  }
  if (name == "TCF") {
    args.value = ControlFileName();
    if (has_value) SetControlFileName(value);
    return 0;
  }
  if (name == "PNM" || name == "PNMQ") {
    if (s == nullptr) return kFileNotOpen;
    OpScope op(s->file.get(), false);
    if (op.rc() != 0) return op.rc();
    args.value.clear();
    for (const std::string& t : s->file->tables()->ListTables()) {
      if (Upper(t) == Upper(value)) {
        args.value = name == "PNMQ" ? "\"" + t + "\"" : t;
        break;
      }
    }
    return 0;
  }
  if (name == "FLAGS") {
    uint32_t flags = 0;
    if (settings.full_build) flags |= kFlagFullBuild;
    if (settings.decimal_check) flags |= kFlagDecimalCheck;
    if (s != nullptr) {
      if (s->file->shared()) flags |= kFlagShared;
      if (s->file->deny_write()) flags |= kFlagDenyWrite;
      if (s->file->read_only()) flags |= kFlagReadOnly;
      if (s->stream) flags |= kFlagStream;
      if (s->in_transaction) flags |= kFlagTransaction;
      if (s->file->encrypted()) flags |= kFlagEncrypted;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", flags);
    args.value = buf;
    return 0;
  }
  if (name == "RECOVER" || name == "QUICKSCAN" || name == "ALLOWDETAILS" || name == "LOGFILE") {
    args.value.clear();
    return 0;
  }
  return kUnsupportedFunction;
}

// ---- Properties ---------------------------------------------------------------

int GetProperty(FileDescriptor& file, FileArgs& args) {
  PalisadeState* s = file.IsOpen() ? StateOf(file) : nullptr;
  switch (args.property) {
    case kPropertyReadAhead:
      args.value = std::to_string(s != nullptr ? s->read_ahead : 0);
      return 0;
    case kPropertyPageRows:
      args.value = std::to_string(s != nullptr ? s->page_rows : 0);
      return 0;
    case kPropertyThread:
      args.value = file.Has(kFileThread) ? "1" : "0";
      return 0;
    case kPropertyBlobCount:
      args.value = std::to_string(std::count_if(file.memos.begin(), file.memos.end(),
                                                [](const MemoDesc& m) { return m.IsBlob(); }));
      return 0;
    case kPropertyChangeCount: {
      if (s == nullptr) return kFileNotOpen;
      // The bracket re-reads the header of a shared file, so a change
      // committed by another process shows.
      OpScope op(s->file.get(), false);
      if (op.rc() != 0) return op.rc();
      args.value = std::to_string(s->file->pager()->header().ChangeCount);
      return 0;
    }
    default:
      return kUnsupportedFunction;
  }
}

int SetProperty(FileDescriptor& file, FileArgs& args) {
  switch (args.property) {
    case kPropertyReadAhead: {
      // Rows are read one at a time from the page cache, so the read-ahead
      // count is kept for the caller to read back but changes nothing.
      if (!file.IsOpen()) return kFileNotOpen;
      char* end = nullptr;
      const unsigned long v = std::strtoul(args.value.c_str(), &end, 10);
      StateOf(file)->read_ahead = static_cast<uint32_t>(v);
      return 0;
    }
    case kPropertyPageRows: {
      if (!file.IsOpen()) return kFileNotOpen;
      char* end = nullptr;
      const unsigned long v = std::strtoul(args.value.c_str(), &end, 10);
      StateOf(file)->page_rows = static_cast<uint32_t>(std::min<unsigned long>(v, UINT32_MAX));
      return 0;
    }
    case kPropertyThread:
    case kPropertyBlobCount:
      return 0;  // fixed by the declaration
    default:
      return kUnsupportedFunction;
  }
}

int GetKeyProperty(FileDescriptor& file, FileArgs& args) {
  if (args.key < 0 || static_cast<size_t>(args.key) >= file.keys.size()) {
    return kUnableToAccessIndex;
  }
  const KeyDesc& key = file.keys[static_cast<size_t>(args.key)];
  auto flag = [&](uint16_t bit) { return std::string((key.flags & bit) ? "1" : "0"); };
  switch (args.property) {
    case kKeyPropertyDup:
      args.value = flag(kKeyDup);
      return 0;
    case kKeyPropertyNocase:
      args.value = flag(kKeyNocase);
      return 0;
    case kKeyPropertyPrimary:
      args.value = flag(kKeyPrimary);
      return 0;
    case kKeyPropertyOpt:
      args.value = flag(kKeyOpt);
      return 0;
    case kKeyPropertyComponents:
      args.value = std::to_string(key.components.size());
      return 0;
    case kKeyPropertyComponent: {
      if (args.index < 1 || static_cast<size_t>(args.index) > key.components.size()) {
        return kUnableToAccessIndex;
      }
      const KeyComponent& c = key.components[static_cast<size_t>(args.index) - 1];
      args.value = (c.descending ? "-" : "") + std::to_string(c.field + 1);
      return 0;
    }
    case kKeyPropertyLabel:
      args.value = key.label;
      return 0;
    case kKeyPropertyName:
      args.value = key.name;
      return 0;
    case kKeyPropertyRecords: {
      if (!file.IsOpen()) return kFileNotOpen;
      PalisadeState* s = StateOf(file);
      OpScope op(s->file.get(), false);
      if (op.rc() != 0) return op.rc();
      args.value = std::to_string(
          s->file->tables()->ReadCounters(s->table, static_cast<uint8_t>(args.key)).RecordCount);
      return 0;
    }
    default:
      return kUnsupportedFunction;
  }
}

// ---- The driver -----------------------------------------------------------------

class PalisadeDriver final : public FileDriver {
 public:
  PalisadeDriver() : info_(MakeInfo()) {}

  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    std::lock_guard<std::recursive_mutex> lock(DriverMutex());
    ClearError();
    return Fail(Dispatch(op, file, args));
  }

  const DriverInfo& Info() const override { return info_; }

 private:
  static int Dispatch(FileOp op, FileDescriptor& file, FileArgs& args) {
    switch (op) {
      case FileOp::QUERY_VIEW:
        return 0;
      case FileOp::OPEN:
        return OpenTable(file, args, file.open_mode);
      case FileOp::SHARE:
        return OpenTable(file, args, file.open_mode != 0 ? file.open_mode : kOpenReadWriteDenyNone);
      case FileOp::CREATE:
        return CreateTable(file, args);
      case FileOp::SEND:
        return Send(file, args);
      case FileOp::GETPROPERTYkey:
        return GetKeyProperty(file, args);
      case FileOp::GET_PROPERTY:
        return GetProperty(file, args);
      case FileOp::SET_PROPERTY:
        return SetProperty(file, args);
      case FileOp::REMOVE:
        return Remove(file);
      case FileOp::RENAME:
        return Rename(file, args);
      case FileOp::COPY:
        return Copy(file, args);
      case FileOp::NAME:
        args.value = file.PhysicalName();
        return 0;
      default:
        break;
    }
    if (!file.IsOpen()) return kFileNotOpen;
    // PalisadeState is final: comparing the exact type is the same test as
    // a dynamic_cast, without walking the class hierarchy on every call.
    const DriverFileState* state = file.state.get();
    if (state == nullptr || typeid(*state) != typeid(PalisadeState)) return kFileNotOpen;
    switch (op) {
      case FileOp::CLOSE:
        return CloseTable(file);
      case FileOp::PACK:
        return Pack(file);
      default:
        return RowCall(op, file, *StateOf(file), args);
    }
  }

  DriverInfo info_;
};

}  // namespace

namespace palisade {

PalisadeState::~PalisadeState() {
  if (!in_transaction) return;
  // A descriptor destroyed while still in a transaction leaves it.
  std::lock_guard<std::recursive_mutex> lock(DriverMutex());
  LeaveTransaction(*this);
}

}  // namespace palisade

std::unique_ptr<FileDriver> MakePalisadeDriver() {
  return std::make_unique<PalisadeDriver>();
}

void RegisterPalisadeDriver() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (FindDriver(kPalisadeDriverName) == nullptr) RegisterDriver(MakePalisadeDriver());
  });
}

std::string PalisadeTransactionFile() {
  return palisade::ControlFileName();
}

void SetPalisadeTestOptions(const palisade::PagerOptions& pager, int lock_wait_ms) {
  std::lock_guard<std::recursive_mutex> lock(palisade::DriverMutex());
  G().pager = pager;
  G().lock_wait_ms = lock_wait_ms;
}

void SetPalisadeLockWait(int lock_wait_ms) {
  std::lock_guard<std::recursive_mutex> lock(palisade::DriverMutex());
  G().lock_wait_ms = lock_wait_ms;
}

void ResetPalisadeTestOptions() {
  SetPalisadeTestOptions(DefaultPagerOptions(), 30000);
}

}  // namespace qzr
