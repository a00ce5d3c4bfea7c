// FileRegistry: the process-wide table of the framework's file objects, and
// the operation-callback route through which the framework's file
// operations reach the driver.
//
// The registry keeps:
//   FILEMAPPING      which file manager serves a file (by descriptor);
//   RELATIONMAPPING  which relation manager serves a file;
//   STATUSQ          per thread and procedure, how a file is being used:
//                    opened how often, the highest use kind so far, and the
//                    file state saved at the first use, which the
//                    procedure's Close puts back;
//   openers          one FileOpener per descriptor, made on first request
//                    (a SharedFileOpener for a file shared by all threads, a
//                    PlainFileOpener for a THREAD file) and freed when the
//                    last manager lets go of it;
//   callbacks        the FileCallbackInterface registered for a descriptor:
//                    CallFileOp runs it before and after every driver call.
//
// A file's identity (FILELABEL) is the address of its descriptor: a THREAD
// file has one descriptor per thread and so one identity per thread, a
// shared file one for the process.
//
// Threads: every table is guarded by one mutex (the framework's critical
// section for the registry). STATUSQ entries carry the thread's number, so
// each thread sees only its own. Callbacks run outside the lock.

#ifndef QZR_FRAMEWORK_FILE_REGISTRY_H_
#define QZR_FRAMEWORK_FILE_REGISTRY_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/file_descriptor.h"
#include "data/file_ops.h"
#include "framework/file_opener.h"

namespace qzr {

class ErrorManager;
class FileManager;
class RelationManagerInterface;
struct FileArgs;

// What the framework runs around every driver call on a file: before it
// (FunctionCalled) and after it with the call's result (FunctionDone).
class FileCallbackInterface {
 public:
  virtual ~FileCallbackInterface() = default;
  virtual void FunctionCalled(FileOp op, FileDescriptor& file, FileArgs& args) = 0;
  virtual void FunctionDone(FileOp op, FileDescriptor& file, FileArgs& args, int code) = 0;
};

// The driver call `op` on `file` through DoFileOp, with the callback
// registered for `file` (if any) run before and after it. Returns the
// runtime error code; the thread's posted error is the call's.
int CallFileOp(FileOp op, FileDescriptor& file, FileArgs& args);
int CallFileOp(FileOp op, FileDescriptor& file);

// The calling thread's number, as STATUSQ and the mappings record it: small,
// positive, unique within the process.
int32_t FileThreadNumber();

// Use kinds (FileManager::EnsureUsable).
inline constexpr uint8_t kUseRead = 2;    // every read and write
inline constexpr uint8_t kUseNoBook = 4;  // skips the usage bookkeeping
inline constexpr uint8_t kUseOpen = 5;    // the open path

// One STATUSQ entry.
struct FileStatusEntry {
  int32_t THREAD = 0;
  std::string PROC;  // the procedure's name; "" outside any
  const FileDescriptor* ID = nullptr;
  uint8_t USTAT = 0;        // highest use kind so far (0: none yet)
  uint16_t HOLD = 0;        // saved file state handle; 0 = none
  uint16_t SCOPELEVEL = 0;  // kept for callers that track scopes; the registry leaves it 0
  uint16_t NESTEDOPEN = 0;  // further opens by the same procedure
};

class FileRegistry {
 public:
  // The process-wide registry. Never destroyed: managers of static
  // lifetime may still unregister at process end.
  static FileRegistry& Instance();

  FileRegistry() = default;
  FileRegistry(const FileRegistry&) = delete;
  FileRegistry& operator=(const FileRegistry&) = delete;

  // The error manager whose procedure-name stack names the procedures of
  // STATUSQ; null: every use counts as outside any procedure. The program
  // sets its global error manager at start and clears it before that
  // manager goes away.
  void SetErrorManager(ErrorManager* errors);
  ErrorManager* ERRS();
  // The calling thread's current procedure name ("" when none).
  std::string CurrentProcedure();

  // FILEMAPPING. A file may have one manager per thread (a shared file used
  // by per-thread managers); GetFileManager prefers the calling thread's.
  void AddFileMapping(const FileDescriptor* file, FileManager* manager);
  void RemoveFileMapping(FileManager* manager);
  FileManager* GetFileManager(const FileDescriptor* file);

  // RELATIONMAPPING, the same way.
  void AddRelationMapping(const FileDescriptor* file, RelationManagerInterface* relation);
  void RemoveRelationMapping(RelationManagerInterface* relation);
  RelationManagerInterface* GetRelationManager(const FileDescriptor* file);

  // The opener of `file`, made on the first request; each call adds one to
  // its USAGE and must be matched by ReleaseOpener.
  FileOpener* AcquireOpener(FileDescriptor* file);
  void ReleaseOpener(FileOpener* opener);

  // The operation callback of `file` for the calling thread (null removes
  // it): per-thread managers of a shared file each see their own thread's
  // calls. The last registration of a thread wins; unregistering removes
  // only `callback`. CallbackFor prefers the calling thread's callback and
  // falls back to another thread's (a manager shared between threads).
  void RegisterCallback(const FileDescriptor* file, FileCallbackInterface* callback);
  void UnregisterCallback(const FileDescriptor* file, FileCallbackInterface* callback);
  FileCallbackInterface* CallbackFor(const FileDescriptor* file);

  // STATUSQ, for the calling thread and its current procedure.
  // An open: a new entry, or NESTEDOPEN + 1 on the procedure's entry.
  void RecordOpen(const FileDescriptor* file);
  // A use of kind `kind` on an entry the procedure opened (none: nothing is
  // recorded and false is returned). USTAT keeps the highest kind. Returns
  // true when this is the entry's first use of a kind below 3 and its HOLD
  // is free, so that the caller should save the file state into it
  // (SetHold).
  bool RecordUse(const FileDescriptor* file, uint8_t kind);
  void SetHold(const FileDescriptor* file, uint16_t hold);
  // A close. When NESTEDOPEN is above 0 it is counted down and false is
  // returned. Otherwise the entry is removed and copied to *entry, and true
  // is returned (false when the procedure has no entry).
  bool RecordClose(const FileDescriptor* file, FileStatusEntry* entry);
  // Removes the calling thread's entries of `file` (its manager is going
  // away); returns their HOLD handles.
  std::vector<uint16_t> DropStatus(const FileDescriptor* file);
  // A copy of STATUSQ, for inspection.
  std::vector<FileStatusEntry> STATUSQ();

 private:
  struct Mapping {
    const FileDescriptor* FILELABEL;
    int32_t THREAD;
    void* object;
  };
  struct OpenerEntry {
    std::unique_ptr<FileOpener> opener;
  };

  FileStatusEntry* FindStatus(const FileDescriptor* file, int32_t thread, const std::string& proc);
  void* Lookup(const std::vector<Mapping>& table, const FileDescriptor* file);

  std::mutex mu_;
  ErrorManager* errs_ = nullptr;
  std::vector<Mapping> file_mapping_;
  std::vector<Mapping> relation_mapping_;
  std::vector<FileStatusEntry> status_;
  std::map<const FileDescriptor*, OpenerEntry> openers_;
  std::map<std::pair<const FileDescriptor*, int32_t>, FileCallbackInterface*> callbacks_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_FILE_REGISTRY_H_
