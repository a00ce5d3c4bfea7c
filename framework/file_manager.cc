// FileManager: set-up, opening and closing, usage bookkeeping and the record
// operations. Saved buffers, saved file states and the operation callback
// are in file_manager_state.cc.

#include "framework/file_manager.h"

#include <algorithm>

#include "framework/file_manager_internal.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/values/decimal.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

constexpr size_t kFileNameSize = 256;
constexpr size_t kDescriptionSize = 80;

// Rounds of automatic numbering one call makes at most, each of three adds
// and a question. A user answers "try again" a handful of times; an error
// manager set to answer every question with its default (Yes) would
// otherwise retry a failing add for ever.
constexpr int kMaxNumberingRounds = 100;

std::string Cut(std::string_view s, size_t n) {
  return std::string(s.substr(0, std::min(s.size(), n)));
}

// Marks an operation's use check: INUSEFILE is set while it runs.
class UseMark {
 public:
  explicit UseMark(uint8_t* flag) : flag_(flag), old_(*flag) { *flag_ = 1; }
  ~UseMark() { *flag_ = old_; }

 private:
  uint8_t* flag_;
  uint8_t old_;
};

}  // namespace

FileManager::FileManager() {
  FILECALLBACKINTERFACE = this;
}

FileManager::~FileManager() {
  if (INITIALIZED && !KILLED) FileManager::Kill();
  FILENAME = nullptr;
}

void FileManager::Init(FileDescriptor* file, ErrorManager* errors) {
  if (INITIALIZED) Kill();
  // A mode set before the first Init is the application's choice; later
  // Inits keep whatever the first one kept, so a read-only fall-back of an
  // earlier life does not count as a choice.
  if (!ever_initialized_ && OPENMODE != kDefaultOpenMode) OPENMODEOVERRIDDEN = 1;
  ever_initialized_ = true;

  FILE = file;
  ERRORS = errors;
  nulls_unsupported_ = false;
  BUFFER = file != nullptr ? &file->record : nullptr;
  OPENER = file != nullptr ? FileRegistry::Instance().AcquireOpener(file) : nullptr;
  KEYS.clear();
  BUFFERS.clear();
  SAVED.clear();
  FIELDS.clear();
  PREVIOUSBUFFER.clear();
  if (file != nullptr) {
    for (size_t i = 0; i < file->fields.size(); ++i) {
      const FieldDesc& f = file->fields[i];
      FIELDS.push_back({f.label, static_cast<int>(i), f.type, f.picture});
    }
  }
  SKIPHELDRECORDS = 0;
  if (!OPENMODEOVERRIDDEN) OPENMODE = kDefaultOpenMode;
  CREATE = 1;
  LOCKRECOVER = 10;
  PRIMARYKEY = 0;
  HASAUTOINC = 0;
  AUTOINCDONE = 0;
  FILENAMEVALUE = file != nullptr ? Cut(file->PhysicalName(), kFileNameSize) : std::string();
  CLEANEDUP = 0;
  INITIALIZED = 1;
  KILLED = 0;
  USEMRP = 0;
  MRPSIZE = 20;
  if (file != nullptr) {
    FileRegistry::Instance().RegisterCallback(file, this);
    FileRegistry::Instance().AddFileMapping(file, this);
    registered_ = true;
  }
}

void FileManager::Kill() {
  if (!INITIALIZED || KILLED) return;
  // Saved states are let go, not put back: a manager going away leaves the
  // file where it is. The driver's copies are freed.
  if (FILE != nullptr && FILE->IsOpen()) {
    RuntimeErrorKeeper keep;
    for (const SavedStateEntry& e : SAVED) {
      if (e.STATE == 0) continue;
      FileArgs a;
      a.position = static_cast<uint32_t>(e.STATE);
      Op(FileOp::FREESTATE, a);
    }
  }
  SAVED.clear();
  BUFFERS.clear();
  KEYS.clear();
  FIELDS.clear();
  PREVIOUSBUFFER.clear();
  CleanUpRegistry();
  if (OPENER != nullptr) FileRegistry::Instance().ReleaseOpener(OPENER);
  OPENER = nullptr;
  KILLED = 1;
  INITIALIZED = 0;
}

void FileManager::CleanUpRegistry() {
  if (!registered_) return;
  FileRegistry& r = FileRegistry::Instance();
  r.DropStatus(FILE);
  r.UnregisterCallback(FILE, this);
  r.RemoveFileMapping(this);
  registered_ = false;
  CLEANEDUP = 1;
}

int FileManager::RegisterKey(int key, std::string_view description, int autoIncComponent) {
  if (FILE == nullptr || key < 0 || static_cast<size_t>(key) >= FILE->keys.size()) return 0;
  const KeyDesc& k = FILE->keys[static_cast<size_t>(key)];
  FileKeyEntry e;
  e.KEY = key;
  e.PDESCRIPTION = Cut(description, kDescriptionSize);
  e.DUPS = (k.flags & kKeyDup) != 0;
  e.NOCASE = (k.flags & kKeyNocase) != 0;
  for (const KeyComponent& c : k.components) {
    FileKeyComponent fc;
    fc.FIELD = c.field;
    std::string label = c.field >= 0 && static_cast<size_t>(c.field) < FILE->fields.size()
                            ? FILE->fields[static_cast<size_t>(c.field)].label
                            : std::string();
    fc.FIELDNAME = e.NOCASE ? "UPPER(" + label + ")" : label;
    fc.ASCEND = c.descending ? 0 : 1;
    e.FIELDS.push_back(std::move(fc));
  }
  // A component number the key does not have cannot be numbered; the key
  // is registered without automatic numbering rather than failing later
  // on every insert.
  if (autoIncComponent > 0 && static_cast<size_t>(autoIncComponent) <= e.FIELDS.size()) {
    e.AUTOINC = static_cast<uint8_t>(autoIncComponent);
    HASAUTOINC = 1;
  }
  KEYS.push_back(std::move(e));
  int position = static_cast<int>(KEYS.size());
  if ((k.flags & kKeyPrimary) != 0) PRIMARYKEY = static_cast<uint8_t>(position);
  return position;
}

int FileManager::RegisterKey(std::string_view label, std::string_view description,
                             int autoIncComponent) {
  if (FILE == nullptr) return 0;
  return RegisterKey(FILE->KeyIndex(label), description, autoIncComponent);
}

std::string FileManager::FileName() const {
  if (FILENAME != nullptr && !FILENAME->empty()) return *FILENAME;
  return FILENAMEVALUE;
}

// ---------------------------------------------------------------------------
// Reporting.

void FileManager::Report(int32_t id) {
  LASTERROR = id;
  if (ERRORS != nullptr) {
    ERRORS->SetFile(FileName());
    ERRORS->CaptureRuntimeError();
  }
}

Severity FileManager::Present(int32_t id) {
  // Without an error manager nobody can be told or asked: the operation
  // counts as not completed, and a question as not answered Yes.
  if (ERRORS == nullptr) return SeverityInform;
  ERRORS->SetFile(FileName());
  return ERRORS->Throw(id);
}

void FileManager::RecordError(int32_t id) {
  Report(id);
}

Severity FileManager::Throw(int32_t id) {
  Report(id);
  return Present(id);
}

Severity FileManager::ThrowCurrent() {
  return Present(LASTERROR);
}

Severity FileManager::ThrowWithText(int32_t id, std::string_view text) {
  Report(id);
  if (ERRORS != nullptr) ERRORS->SetMessageText(text);
  return Present(id);
}

std::string FileManager::KeyName(const FileKeyEntry& entry) const {
  if (!entry.PDESCRIPTION.empty()) return entry.PDESCRIPTION;
  if (FILE != nullptr && entry.KEY >= 0 && static_cast<size_t>(entry.KEY) < FILE->keys.size())
    return FILE->keys[static_cast<size_t>(entry.KEY)].label;
  return {};
}

// ---------------------------------------------------------------------------
// Driver calls.

int FileManager::Op(FileOp op, FileArgs& args) {
  if (FILE == nullptr) {
    PostError(kFileNotOpen);
    return kFileNotOpen;
  }
  return CallFileOp(op, *FILE, args);
}

int FileManager::Op(FileOp op) {
  FileArgs args;
  return Op(op, args);
}

void FileManager::SetReadAhead(int value) {
  RuntimeErrorKeeper keep;
  FileArgs a;
  a.property = kPropertyReadAhead;
  a.value = std::to_string(value);
  Op(FileOp::SET_PROPERTY, a);
}

int FileManager::ReadAhead() {
  RuntimeErrorKeeper keep;
  FileArgs a;
  a.property = kPropertyReadAhead;
  if (Op(FileOp::GET_PROPERTY, a) != 0) return -1;
  return std::atoi(a.value.c_str());
}

// ---------------------------------------------------------------------------
// Opening and closing.

Severity FileManager::Open(bool handleErrors, bool force) {
  FileRegistry::Instance().RecordOpen(FILE);
  OpenHook();
  if (force || (!LAZYOPEN && OPENED <= 0)) {
    Severity s = OpenServer(handleErrors);
    if (s != SeverityNone) {
      // The open did not count, so no Close will follow it: take back the
      // usage record too, or the procedure's next open would count as a
      // nested one and its close would never put the file back.
      FileStatusEntry entry;
      if (FileRegistry::Instance().RecordClose(FILE, &entry) && entry.HOLD != 0)
        RestoreFileState(entry.HOLD, false);
      return s;
    }
  }
  ++OPENED;
  return SeverityNone;
}

Severity FileManager::OpenServer(bool handleErrors) {
  struct Depth {
    explicit Depth(int* d) : d_(d) { ++*d_; }
    ~Depth() { --*d_; }
    int* d_;
  } depth(&opening_);

  int code = 0;
  bool failed = EnsureUsable(kUseOpen) != SeverityNone;
  // A derived EnsureUsable may have opened the file on the way (a lazy
  // first use); opening again would count the file twice in a shared
  // opener.
  if (!failed && USED) return SeverityNone;
  if (!failed && (OPENER == nullptr || FILE == nullptr)) {
    PostError(kFileNotOpen);
    if (ERRORS != nullptr) ERRORS->CaptureRuntimeError();
    failed = true;
  }
  for (int attempt = 1; !failed && attempt <= 2; ++attempt) {
    code = OPENER->OpenFile(OPENMODE, attempt);
    if (code == kAccessDenied) {
      // The file may be locked by a station that went away: give the driver
      // LOCKRECOVER seconds to recover the lock, then try once more.
      SendToDriver(*FILE, "Recover=" + std::to_string(LOCKRECOVER));
      code = OPENER->OpenFile(OPENMODE, attempt);
    }
    if (code == 0) {
      USED = 1;
      ATEOF = 0;
      AUTOINCDONE = 0;
      return SeverityNone;
    }
    // The failure as it stands now is what a message about it must say,
    // whatever the recovery steps below post.
    if (ERRORS != nullptr) ERRORS->CaptureRuntimeError();
    if (code == kAccessDenied) {
      if ((OPENMODE & 0x03) == 0) break;  // read-only already: nothing to fall back to
      OPENMODE = static_cast<uint8_t>(OPENMODE & 0xF0);
      LASTERROR = kErrAccessDenied;
      Present(kErrAccessDenied);
      continue;
    }
    if (code == kFileNotFound) {
      if (!CREATE) break;
      int c = Op(FileOp::CREATE);
      if (c == 0) {
        // A driver that leaves a created file open would answer the next
        // OPEN with "already open" in the creator's mode, not OPENMODE.
        if (FILE->IsOpen()) {
          RuntimeErrorKeeper keep;
          DoFileOp(FileOp::CLOSE, *FILE);
        }
        continue;
      }
      Report(kErrFileCreation);
      return handleErrors ? Present(kErrFileCreation) : SeverityInform;
    }
    if (code == kKeyFileMustBeRebuilt) {
      LASTERROR = kErrKeyInvalid;
      if (!handleErrors) return SeverityInform;
      Present(kErrKeyInvalid);
      int b = Op(FileOp::BUILDfile);
      if (b == 0) continue;
      Report(kErrKeyRepair);
      return Present(kErrKeyRepair);
    }
    break;
  }
  // The runtime error was captured when the open failed.
  LASTERROR = kErrFileOpen;
  return handleErrors ? Present(kErrFileOpen) : SeverityInform;
}

Severity FileManager::Close() {
  ++INCLOSE;
  FileStatusEntry entry;
  if (FileRegistry::Instance().RecordClose(FILE, &entry) && entry.HOLD != 0) {
    // Put the file back as this procedure found it; the record buffer too
    // unless the procedure changed records (uses of kind 3 and above).
    RestoreFileState(entry.HOLD, entry.USTAT < 3);
  }
  if (USEMRP) {
    SetReadAhead(0);
    USEMRP = 0;
  }
  if (OPENED > 0) {
    --OPENED;
    // Only a manager that really opened the file closes it: a lazy manager
    // that was never used would otherwise take one count off a shared
    // opener that other threads' managers hold.
    if (OPENED == 0) {
      if (INITIALIZED && USED && OPENER != nullptr) OPENER->CloseFile();
      USED = 0;
    }
  }
  --INCLOSE;
  return SeverityNone;
}

Severity FileManager::EnsureUsable(int useKind) {
  UseMark mark(&INUSEFILE);
  if (useKind == kUseOpen) {
    // Inside this manager's own physical open there is nothing to do; the
    // branch serves a use that arrives before any Open.
    if (LAZYOPEN && opening_ == 0) {
      if (!USED && OPENED < 1) {
        ++OPENED;
        Open(true, true);
        --OPENED;
      } else if (USED && OPENED < 1) {
        Open(true, false);
      }
    }
    return SeverityNone;
  }
  if (useKind != kUseNoBook && FILE != nullptr) {
    if (FileRegistry::Instance().RecordUse(FILE, static_cast<uint8_t>(useKind))) {
      uint16_t hold = SaveFileState();
      FileRegistry::Instance().SetHold(FILE, hold);
    }
  }
  if (LAZYOPEN && !USED) {
    if (OPENED < 1) {
      PostError(kFileNotOpen);
      return Throw(kErrFileNotOpened);
    }
    uint16_t saved = SaveRecordBuffer();
    Severity s = OpenServer(true);
    RestoreRecordBuffer(saved, true);
    return s;
  }
  return SeverityNone;
}

// ---------------------------------------------------------------------------
// Reading.

Severity FileManager::Fetch(int key) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  FileArgs a;
  a.key = key;
  return Op(FileOp::GETfilekey, a) == 0 ? SeverityNone : SeverityInform;
}

Severity FileManager::ReadNext(bool handleErrors) {
  return ReadSequential(true, handleErrors);
}

Severity FileManager::ReadPrevious(bool handleErrors) {
  return ReadSequential(false, handleErrors);
}

Severity FileManager::ReadSequential(bool next, bool handleErrors) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  // Skipping held records ends at the end of the file; a driver that kept
  // answering "held" without moving on is stopped after as many skips as
  // the file has records.
  int64_t skips_left = -1;
  for (;;) {
    ATEOF = 0;
    if (USEMRP && ReadAhead() == 0) SetReadAhead(MRPSIZE);
    int code = Op(next ? FileOp::NEXT : FileOp::PREVIOUS);
    if (code == 0) return SeverityNone;
    if (code == kRecordNotAvailable) {
      ATEOF = 1;
      return SeverityInform;
    }
    if (code == kRecordIsAlreadyHeld) {
      if (SKIPHELDRECORDS) {
        if (skips_left < 0) {
          RuntimeErrorKeeper keep;
          FileArgs a;
          skips_left = Op(FileOp::RECORDSfile, a) == 0 ? a.result + 1 : 1000000;
        }
        if (skips_left-- > 0) continue;
      }
      Report(kErrRecordHeld);
      return handleErrors ? Present(kErrRecordHeld) : SeverityInform;
    }
    Report(kErrRecordRetrieval);
    return handleErrors ? Present(kErrRecordRetrieval) : SeverityHalt;
  }
}

// ---------------------------------------------------------------------------
// Writing.

const FileKeyEntry* FileManager::FindDuplicateKey() {
  RuntimeErrorKeeper keep;
  for (const FileKeyEntry& e : KEYS) {
    FileArgs a;
    a.key = e.KEY;
    if (Op(FileOp::DUPLICATEkey, a) == 0 && a.result != 0) return &e;
  }
  // A driver without DUPLICATE, or one whose check leaves out the file's
  // current record (which a failed reset may leave in place), answers
  // "none" although the add was refused: a unique key that finds a record
  // with the buffer's value is the duplicated one. The reads go to a copy
  // of the buffer, which is put back.
  for (const FileKeyEntry& e : KEYS) {
    if (e.DUPS) continue;
    uint16_t saved = SaveRecordBuffer();
    FileArgs g;
    g.key = e.KEY;
    int found = Op(FileOp::GETfilekey, g);
    RestoreRecordBuffer(saved, true);
    if (found == 0) return &e;
  }
  return nullptr;
}

Severity FileManager::Insert(bool handleErrors) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (CheckRecord() != SeverityNone) return SeverityInform;
  SetReadAhead(0);
  int code = 0;
  if (HASAUTOINC) {
    if (AUTOINCDONE) {
      code = Op(FileOp::PUT);  // the record was added when it was numbered
    } else if (NumberAutoIncrement(handleErrors) != SeverityNone) {
      return SeverityInform;
    }
  } else {
    code = Op(FileOp::ADD);
  }
  if (code == 0) {
    AUTOINCDONE = 0;
    return SeverityNone;
  }
  if (code == kCreatesDuplicateKey) {
    Report(kErrDuplicateKey);
    if (!handleErrors) return SeverityInform;
    if (!HASAUTOINC) {
      RuntimeErrorKeeper keep;
      FileArgs a;
      a.position = 0;
      Op(FileOp::GETfileptr, a);  // leaves the file without a current record
    }
    const FileKeyEntry* dup = FindDuplicateKey();
    if (dup == nullptr) return SeverityInform;
    if (ERRORS != nullptr) {
      ERRORS->SetKey(KeyName(*dup));
      ERRORS->SetMessageText(dup->PDESCRIPTION);
    }
    Present(kErrDuplicateKey);
    return SeverityInform;
  }
  Report(kErrRecordInsert);
  return handleErrors ? Present(kErrRecordInsert) : SeverityInform;
}

Severity FileManager::Update(int mode) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (CheckRecord() != SeverityNone) return SeverityQuestion;
  SetReadAhead(0);
  SavedStateEntry position;
  TakePosition(&position);
  int code = Op(FileOp::PUT);
  if (code == 0) return SeverityNone;
  if (code == kRecordChangedByAnotherStation) {
    int32_t id = mode == kUpdateThrowShowChanges ? kErrChangedByOtherShown : kErrChangedByOther;
    Report(id);
    if (mode != kUpdateReportOnly) Present(id);
    RuntimeErrorKeeper keep;
    Op(FileOp::WATCH);
    RegetPosition(position);  // the other station's version into the buffer
    return SeverityInform;
  }
  Report(kErrRecordUpdate);
  return mode != kUpdateReportOnly ? Present(kErrRecordUpdate) : SeverityInform;
}

Severity FileManager::Delete(bool ask) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (ask && Throw(kErrConfirmDelete) != SeverityNone) return SeverityDeclined;
  if (Op(FileOp::DELETE) != 0) {
    Report(kErrRecordDelete);
    return SeverityInform;
  }
  return SeverityNone;
}

// ---------------------------------------------------------------------------
// Automatic numbering.

namespace {

// The values of components [0, count) of a key as one text, for comparing
// the leading part of two records' keys. A case-insensitive key compares
// them folded, as the key orders them.
std::string PrefixText(FileDescriptor& file, const FileKeyEntry& entry, size_t count) {
  std::string text;
  UfoSlot slot;
  for (size_t i = 0; i < count && i < entry.FIELDS.size(); ++i) {
    int f = entry.FIELDS[i].FIELD;
    if (f < 0 || static_cast<size_t>(f) >= file.fields.size()) continue;
    const FieldDesc& fd = file.fields[static_cast<size_t>(f)];
    if (fd.offset + fd.size > file.record.size()) continue;
    UFO* u = slot.Make(fd.type, file.FieldData(f), fd.size, fd.places);
    char buf[1024];
    size_t n = std::min(u->GetText(buf, sizeof buf), sizeof buf);
    std::string part(buf, n);
    if (entry.NOCASE) part = Upper(part);
    text += part;
    text += '\x1f';  // keeps ("ab","c") apart from ("a","bc")
  }
  return text;
}

}  // namespace

Severity FileManager::NumberOneKey(const FileKeyEntry& entry, bool handleErrors, bool* failed) {
  *failed = false;
  if (ERRORS != nullptr) ERRORS->SetKey(KeyName(entry));
  size_t index = static_cast<size_t>(entry.AUTOINC) - 1;
  int field = entry.FIELDS[index].FIELD;
  bool ascending = entry.FIELDS[index].ASCEND != 0;
  if (field < 0 || static_cast<size_t>(field) >= FILE->fields.size()) {
    PostError(kInvalidRecordDeclaration);
    Report(kErrRecordRetrieval);
    *failed = true;
    return handleErrors ? Present(kErrRecordRetrieval) : SeverityInform;
  }
  const FieldDesc& fd = FILE->fields[static_cast<size_t>(field)];
  uint16_t saved = SaveRecordBuffer();

  FileArgs a;
  a.key = entry.KEY;
  int code = 0;
  bool same_prefix = true;
  UfoSlot slot;
  if (entry.FIELDS.size() == 1) {
    Op(FileOp::SETkey, a);
    Op(FileOp::NOMEMO);
    code = Op(ascending ? FileOp::PREVIOUS : FileOp::NEXT);
  } else {
    std::string before = PrefixText(*FILE, entry, index);
    slot.Make(fd.type, FILE->FieldData(field), fd.size, fd.places)->Clear(1);
    Op(FileOp::SETkeykey, a);
    Op(FileOp::NOMEMO);
    code = Op(ascending ? FileOp::PREVIOUS : FileOp::NEXT);
    if (code == 0) same_prefix = PrefixText(*FILE, entry, index) == before;
  }

  Decimal next = Decimal::FromLong(1);
  if (code == 0) {
    if (same_prefix) {
      Decimal last = slot.Make(fd.type, FILE->FieldData(field), fd.size, fd.places)->GetDecimal();
      if (!Decimal::Add(last, Decimal::FromLong(1), &next)) code = kCreatesDuplicateKey;
    }
  } else if (code != kRecordNotAvailable) {
    Report(kErrRecordRetrieval);
    RestoreRecordBuffer(saved, true);
    *failed = true;
    return handleErrors ? Present(kErrRecordRetrieval) : SeverityInform;
  }
  RestoreRecordBuffer(saved, true);
  std::vector<uint8_t> entered(FILE->FieldData(field), FILE->FieldData(field) + fd.size);
  UFO* target = slot.Make(fd.type, FILE->FieldData(field), fd.size, fd.places);
  target->SetDecimal(next);
  if (code == kCreatesDuplicateKey || Decimal::Compare(target->GetDecimal(), next) != 0) {
    // The highest value the field can hold is taken: no number that fits
    // is free above it, and another try would find the same. Reported as
    // a numbering failure without retries; the field keeps what it held.
    std::copy(entered.begin(), entered.end(), FILE->FieldData(field));
    PostError(kCreatesDuplicateKey);
    Report(kErrAutoIncrement);
    *failed = true;
    if (handleErrors) Present(kErrAutoIncrement);
    return SeverityInform;
  }
  return SeverityNone;
}

Severity FileManager::NumberKeys(bool handleErrors, bool* failed) {
  for (const FileKeyEntry& e : KEYS) {
    if (e.AUTOINC == 0) continue;
    Severity s = NumberOneKey(e, handleErrors, failed);
    if (*failed) return s;
  }
  *failed = false;
  return SeverityNone;
}

Severity FileManager::NumberAutoIncrement(bool handleErrors) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (!HASAUTOINC || AUTOINCDONE) return SeverityNone;
  SetReadAhead(0);
  int attempts = 0;
  for (int rounds = 0;;) {
    bool failed = false;
    Severity s = NumberKeys(handleErrors, &failed);
    if (failed) return s;
    int code = Op(FileOp::ADD);
    if (code == 0) {
      AUTOINCDONE = 1;
      return SeverityNone;
    }
    // Another station may have taken the number between the read and the
    // add: number again.
    if (++attempts < 3) continue;
    Report(kErrAutoIncrement);
    if (code == kCreatesDuplicateKey) {
      if (const FileKeyEntry* dup = FindDuplicateKey(); dup != nullptr && ERRORS != nullptr)
        ERRORS->SetKey(KeyName(*dup));
    }
    if (!handleErrors) return SeverityInform;
    if (Present(kErrAutoIncrement) != SeverityNone || ++rounds >= kMaxNumberingRounds)
      return SeverityInform;
    attempts = 0;
  }
}

Severity FileManager::ReleaseAutoNumber(RelationManagerInterface* relation) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (!HASAUTOINC || !AUTOINCDONE) return SeverityNone;
  Severity s = relation != nullptr ? relation->Delete(false) : Delete(false);
  if (s == SeverityNone) AUTOINCDONE = 0;
  return s;
}

Severity FileManager::StartNewRecord(bool keepBuffer) {
  if (EnsureUsable(kUseRead) != SeverityNone) return SeverityHalt;
  if (ALIASEDFILE != nullptr && ALIASEDFILE != this && ALIASEDFILE->BUFFER != nullptr &&
      BUFFER != nullptr) {
    // The real file's manager does the work on its own buffer, which is
    // given this file's record and then put back as it was; the new record
    // (with its number) comes back into this file's buffer.
    uint16_t theirs = ALIASEDFILE->SaveRecordBuffer();
    if (ALIASEDFILE->BUFFER->size() == BUFFER->size()) *ALIASEDFILE->BUFFER = *BUFFER;
    Severity s = ALIASEDFILE->StartNewRecord(keepBuffer);
    if (ALIASEDFILE->BUFFER->size() == BUFFER->size()) *BUFFER = *ALIASEDFILE->BUFFER;
    ALIASEDFILE->RestoreRecordBuffer(theirs, true);
    return s;
  }
  if (!keepBuffer) internal::ClearRecord(FILE);
  PrimeFields();
  if (HASAUTOINC) {
    AUTOINCDONE = 0;
    return NumberAutoIncrement(true);
  }
  return SeverityNone;
}

Severity FileManager::CheckRecord() {
  for (size_t i = 1; i <= FIELDS.size(); ++i) {
    Severity s = CheckField(static_cast<int>(i));
    if (s != SeverityNone) return s;
  }
  return SeverityNone;
}

Severity FileManager::CheckField(int /*number*/) {
  return SeverityNone;
}

}  // namespace qzr
