// FileManager: the framework object that stands between a procedure and one
// file.
//
// It decides when the file is physically opened and closed (an open count,
// lazy opening, an opener shared by the threads of a shared file), how an
// open failure is met (read-only fall-back, "Recover=" for a locked file,
// creating a missing file, rebuilding keys), how automatic numbers are
// assigned and reserved, what a duplicate key or a record changed by another
// station does, and how the record buffer and the file's state are saved and
// put back around operations that move them. Every failure is reported
// through the error manager by framework error number; operations return a
// Severity (framework/severity.h).
//
// "Reports" below means: LASTERROR := the number, and the runtime error of
// the moment (code, text, driver detail) is captured into the calling
// thread's error status; "throws" means reports and then presents the error
// through the error manager, returning what it returns. A capture happens at
// the moment of failure, so the driver calls made afterwards (re-reading a
// record, rebuilding a buffer) never change what the message says.
//
// State the manager keeps:
//   OPENED   Open calls not yet matched by Close.
//   USED     the file is physically open for this manager.
//   The file is physically open exactly while USED is set; without LAZYOPEN
//   that is from the Open that brings OPENED to 1 to the Close that brings
//   it to 0; with LAZYOPEN, from the first use after an Open to that Close.
//
//   (closed, OPENED 0) --Open--> (open, OPENED 1) --Open--> (OPENED 2) ...
//   (open, OPENED 1) --Close--> (closed, OPENED 0)
//   LAZYOPEN: (closed, OPENED 0) --Open--> (closed, OPENED 1)
//             --EnsureUsable--> (open, OPENED 1)
//
// Driver operations go through CallFileOp (framework/file_registry.h), so
// the manager's operation callback (FunctionCalled/FunctionDone) sees them:
// it keeps BLOBCHANGED and PREVIOUSBUFFER and runs the trigger hooks. Calls
// made straight through DoFileOp are not seen.
//
// What the manager asks of a driver (FileArgs members in brackets):
//   OPEN, CLOSE, CREATE (leaves the file closed), BUILDfile, SEND
//   "Recover=<seconds>"; ADD, PUT, DELETE of the current record; GETfilekey
//   [key]; GETfileptr [position] 0 to leave the file without a current
//   record; SETkey and SETkeykey [key] then NEXT/PREVIOUS; NOMEMO; WATCH
//   (a later PUT of a record changed by another station answers 89);
//   DUPLICATEkey [key, result]; POSITIONkey [key, value] or POSITIONfile
//   [value, or result] and REGETkey/REGETfile [key, value, position];
//   GETSTATE [result], RESTORESTATE and FREESTATE [position]; GET_PROPERTY
//   and SET_PROPERTY [property, value] for 7355h; GETNULLS/SETNULLS [value]
//   when the driver has them. An operation a driver lacks (80) is skipped
//   where the manager can do without it.
//
// Threads: a manager serves one thread at a time; a program that shares one
// between threads serialises its calls. The registry it uses is guarded by
// its own lock, and a file shared by all threads is opened and closed
// through a SharedFileOpener that counts the opens of every thread under a
// lock, so per-thread managers of one shared file may run at once.

#ifndef QZR_FRAMEWORK_FILE_MANAGER_H_
#define QZR_FRAMEWORK_FILE_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"
#include "data/file_driver.h"
#include "framework/error_manager.h"
#include "framework/file_opener.h"
#include "framework/file_registry.h"
#include "framework/severity.h"

namespace qzr {

// What ReleaseAutoNumber needs of a relation manager: delete the current
// record of its file together with the records that follow it.
class RelationManagerInterface {
 public:
  virtual ~RelationManagerInterface() = default;
  virtual Severity Delete(bool ask) = 0;
};

// Framework error numbers the file manager uses.
inline constexpr int32_t kErrRecordRetrieval = 1;
inline constexpr int32_t kErrAccessDenied = 2;
inline constexpr int32_t kErrRecordInsert = 4;
inline constexpr int32_t kErrChangedByOther = 7;
inline constexpr int32_t kErrChangedByOtherShown = 8;
inline constexpr int32_t kErrConfirmDelete = 11;
inline constexpr int32_t kErrFileCreation = 12;
inline constexpr int32_t kErrRecordDelete = 13;
inline constexpr int32_t kErrDuplicateKey = 15;
inline constexpr int32_t kErrFileOpen = 26;
inline constexpr int32_t kErrRecordUpdate = 28;
inline constexpr int32_t kErrKeyRepair = 29;
inline constexpr int32_t kErrKeyInvalid = 30;
inline constexpr int32_t kErrRecordHeld = 31;
inline constexpr int32_t kErrAutoIncrement = 35;
inline constexpr int32_t kErrFileNotOpened = 42;

// The default open mode: read/write, deny none.
inline constexpr uint8_t kDefaultOpenMode = 0x42;

// Update modes.
inline constexpr int kUpdateReportOnly = 0;
inline constexpr int kUpdateThrow = 1;
inline constexpr int kUpdateThrowShowChanges = 2;

// A KEYS entry's component.
struct FileKeyComponent {
  int FIELD = 0;          // index in the descriptor's field list
  std::string FIELDNAME;  // the field's label; "UPPER(" label ")" for a NOCASE key
  uint8_t ASCEND = 1;     // the component sorts ascending
};

// A KEYS entry.
struct FileKeyEntry {
  int KEY = -1;              // index in the descriptor's key list
  std::string PDESCRIPTION;  // for messages; at most 80 bytes
  std::vector<FileKeyComponent> FIELDS;
  uint8_t AUTOINC = 0;  // 1-based component numbered automatically; 0 none
  uint8_t DUPS = 0;
  uint8_t NOCASE = 0;
};

// A FIELDS entry.
struct FileFieldEntry {
  std::string TAG;  // the field's label
  int FLD = 0;      // index in the descriptor's field list
  TypeCode FTYPE = TypeCode::END;
  std::string FPICTURE;  // its display picture, without "@"
};

// A group of saved copies (BUFFERS): the record buffer, the memo and BLOB
// contents and the null map, under one handle.
struct SavedBufferEntry {
  uint16_t ID = 0;
  std::vector<uint8_t> BUFFER;
  std::vector<std::string> MEMOS;
  std::string NULLS;
  bool HAS_NULLS = false;
};

// A saved file state (SAVED).
struct SavedStateEntry {
  uint16_t BUFFER = 0;  // the saved buffer group's handle
  uint16_t ID = 0;
  uint8_t AUTOINCDONE = 0;
  int64_t STATE = 0;    // the driver's saved state; 0 = none
  std::string POS;      // the position; empty = none (at most 1024 bytes)
  uint8_t POSKIND = 0;  // 1: a key position of KEY; 2: a file position
  int POSKEY = -1;
};

class FileManager : public FileCallbackInterface {
 public:
  FileManager();
  // Runs Kill when it has not run, and clears FILENAME.
  ~FileManager() override;

  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // Stores the file and the error manager, obtains OPENER, sets the
  // defaults (OPENMODE 42h unless OPENMODEOVERRIDDEN, CREATE 1,
  // LOCKRECOVER 10, MRPSIZE 20, FILENAMEVALUE from the file's name), fills
  // FIELDS from the declaration, and registers the manager as the file's
  // operation callback and its manager in the registry. A second Init
  // first kills what the first one set up.
  virtual void Init(FileDescriptor* file, ErrorManager* errors);
  // Once: releases saved buffers and states, the opener, the callback and
  // the registry entries; KILLED 1, INITIALIZED 0.
  virtual void Kill();

  // Appends a KEYS entry for key `key` (an index in the declaration's key
  // list) and returns its 1-based position, or 0 when there is no such key.
  // DUPS, NOCASE, the components and the primary flag come from the key's
  // declaration; `autoIncComponent` (1-based, 0 none) numbers that
  // component automatically and sets HASAUTOINC.
  int RegisterKey(int key, std::string_view description = {}, int autoIncComponent = 0);
  // The same for the key labelled `label`.
  int RegisterKey(std::string_view label, std::string_view description = {},
                  int autoIncComponent = 0);

  // Counts an open; opens the file unless LAZYOPEN (or it is open already),
  // or always with `force`.
  virtual Severity Open(bool handleErrors = true, bool force = false);
  // Counts a close; closes the file when the count reaches 0, and puts the
  // file back as the procedure found it. Returns SeverityNone.
  virtual Severity Close();
  // Makes the file usable for a use of `useKind` (2 reads and writes, 5 the
  // open path, 4 without bookkeeping); with LAZYOPEN opens it on its first
  // use. A failure makes the calling operation return SeverityHalt.
  virtual Severity EnsureUsable(int useKind);

  // Record operations.
  virtual Severity Insert(bool handleErrors = true);
  virtual Severity Update(int mode = kUpdateThrow);
  virtual Severity Delete(bool ask = true);
  // Reads the record whose value of key `key` (an index in the
  // declaration's key list, as RegisterKey takes) is in the buffer: SeverityNone, or SeverityInform
  // on any error, silently.
  virtual Severity Fetch(int key);
  virtual Severity ReadNext(bool handleErrors = true);
  virtual Severity ReadPrevious(bool handleErrors = true);
  virtual Severity NumberAutoIncrement(bool handleErrors = true);
  virtual Severity ReleaseAutoNumber(RelationManagerInterface* relation = nullptr);
  virtual Severity StartNewRecord(bool keepBuffer = false);

  // Saved record buffers: the buffer, memo and BLOB contents and null map.
  // A handle is never 0 and unique among the groups kept.
  uint16_t SaveRecordBuffer();
  // Copies the group back when `restore`; always releases it. An unknown
  // handle does nothing.
  void RestoreRecordBuffer(uint16_t handle, bool restore = true);
  // True when BLOBCHANGED is set, or the buffer, a memo or a BLOB differs
  // from the group's copy (an unknown handle counts as changed).
  bool CompareToSaved(uint16_t handle);

  // Saved file states: a buffer group, AUTOINCDONE, the driver's state and
  // the position.
  uint16_t SaveFileState();
  // Puts the driver state back, re-reads the record at the saved position,
  // restores the buffer when `restore`, and frees it all.
  void RestoreFileState(uint16_t handle, bool restore = true);

  // Checks run before every insert and update. The base CheckRecord runs
  // CheckField for each field (1-based) and stops at the first failure.
  virtual Severity CheckRecord();
  virtual Severity CheckField(int number);

  // Reporting.
  void RecordError(int32_t id);
  Severity Throw(int32_t id);
  Severity ThrowCurrent();
  Severity ThrowWithText(int32_t id, std::string_view text);

  // Trigger hooks, run around adds, writes and deletes.
  virtual Severity BeforeInsert() { return SeverityNone; }
  virtual Severity AfterInsert() { return SeverityNone; }
  virtual Severity BeforeUpdate() { return SeverityNone; }
  virtual Severity AfterUpdate() { return SeverityNone; }
  virtual Severity BeforeDelete() { return SeverityNone; }
  virtual Severity AfterDelete() { return SeverityNone; }

  // Hooks with empty base versions: the per-file open hook, run by Open
  // before the physical open; the field priming of StartNewRecord.
  virtual void OpenHook() {}
  virtual void PrimeFields() {}

  // The operation callback.
  void FunctionCalled(FileOp op, FileDescriptor& file, FileArgs& args) override;
  void FunctionDone(FileOp op, FileDescriptor& file, FileArgs& args, int code) override;

  // The name messages use for the file: the value of FILENAME when it is
  // set and not empty, else FILENAMEVALUE.
  std::string FileName() const;

  // Fields.
  FileCallbackInterface* FILECALLBACKINTERFACE = nullptr;
  FileManager* ALIASEDFILE = nullptr;
  std::vector<uint8_t>* BUFFER = nullptr;  // the file's record buffer
  std::vector<SavedBufferEntry> BUFFERS;
  uint8_t CREATE = 1;
  ErrorManager* ERRORS = nullptr;
  std::vector<FileFieldEntry> FIELDS;
  FileDescriptor* FILE = nullptr;
  const std::string* FILENAME = nullptr;
  std::string FILENAMEVALUE;  // at most 256 bytes
  uint8_t HASAUTOINC = 0;
  uint8_t INUSEFILE = 0;
  uint8_t INCALLBACK = 0;
  uint8_t INCLOSE = 0;
  uint8_t INRESTORE = 0;
  uint8_t INVIEW = 0;
  uint8_t USED = 0;
  int32_t OPENED = 0;
  uint8_t ATEOF = 0;
  uint8_t AUTOINCDONE = 0;
  int32_t LASTERROR = 0;
  uint8_t LAZYOPEN = 0;
  int16_t LOCKRECOVER = 10;
  uint8_t OPENMODE = kDefaultOpenMode;
  uint8_t OPENMODEOVERRIDDEN = 0;
  uint8_t PRIMARYKEY = 0;
  std::vector<SavedStateEntry> SAVED;
  uint8_t SKIPHELDRECORDS = 0;
  uint8_t CLEANEDUP = 0;
  std::vector<FileKeyEntry> KEYS;
  uint8_t BLOBCHANGED = 0;
  std::vector<uint8_t> PREVIOUSBUFFER;
  uint8_t SAVEPREVIOUSBUFFER = 0;
  uint8_t INITIALIZED = 0;
  uint8_t KILLED = 0;
  FileOpener* OPENER = nullptr;
  uint8_t USEMRP = 0;
  uint8_t MRPSIZE = 20;

 protected:
  // The physical open, with the caller's handleErrors.
  Severity OpenServer(bool handleErrors);
  // The driver call `op` with the manager's bookkeeping (callback).
  int Op(FileOp op, FileArgs& args);
  int Op(FileOp op);
  // Reports `id`: LASTERROR and the captured runtime error.
  void Report(int32_t id);
  // Presents `id` as it was reported.
  Severity Present(int32_t id);

 private:
  Severity ReadSequential(bool next, bool handleErrors);
  Severity NumberKeys(bool handleErrors, bool* failed);
  Severity NumberOneKey(const FileKeyEntry& entry, bool handleErrors, bool* failed);
  // Name of the KEYS entry for messages: its description, or the key's label.
  std::string KeyName(const FileKeyEntry& entry) const;
  // The first KEYS entry whose key the driver reports as duplicated by the
  // buffer, or nullptr.
  const FileKeyEntry* FindDuplicateKey();
  void SetReadAhead(int value);
  int ReadAhead();
  // The current position: of the primary key when there is one, else of
  // the file. Empty when the driver cannot say.
  void TakePosition(SavedStateEntry* into);
  int RegetPosition(const SavedStateEntry& from);
  void CleanUpRegistry();
  uint16_t NextHandle(bool for_buffers) const;

  bool registered_ = false;           // callback and mapping in the registry
  bool ever_initialized_ = false;     // Init has run at least once
  int opening_ = 0;                   // depth of OpenServer calls in progress
  bool nulls_unsupported_ = false;    // the driver answered GETNULLS with 80
  std::vector<bool> call_owns_view_;  // per driver call in progress: it set INVIEW
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_FILE_MANAGER_H_
