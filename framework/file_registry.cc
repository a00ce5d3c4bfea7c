// The process-wide registry of file managers, relation managers, openers,
// operation callbacks and per-thread usage records.

#include "framework/file_registry.h"

#include <algorithm>
#include <atomic>

#include "framework/error_manager.h"
#include "framework/file_manager_internal.h"

namespace qzr {
namespace {

constexpr char kProcedureToken[] = "%Procedure";

}  // namespace

int32_t FileThreadNumber() {
  static std::atomic<int32_t> next{1};
  thread_local int32_t number = next.fetch_add(1);
  return number;
}

int CallFileOp(FileOp op, FileDescriptor& file, FileArgs& args) {
  FileCallbackInterface* callback = FileRegistry::Instance().CallbackFor(&file);
  if (callback != nullptr) callback->FunctionCalled(op, file, args);
  int code = DoFileOp(op, file, args);
  if (callback != nullptr) {
    // The callback may run driver calls of its own (a trigger writing
    // another file); the caller reads the error of the call it made.
    RuntimeErrorKeeper keep;
    callback->FunctionDone(op, file, args, code);
  }
  return code;
}

int CallFileOp(FileOp op, FileDescriptor& file) {
  FileArgs args;
  return CallFileOp(op, file, args);
}

FileRegistry& FileRegistry::Instance() {
  static FileRegistry* registry = new FileRegistry();
  return *registry;
}

void FileRegistry::SetErrorManager(ErrorManager* errors) {
  std::lock_guard<std::mutex> lock(mu_);
  errs_ = errors;
}

ErrorManager* FileRegistry::ERRS() {
  std::lock_guard<std::mutex> lock(mu_);
  return errs_;
}

std::string FileRegistry::CurrentProcedure() {
  ErrorManager* errors = ERRS();
  if (errors == nullptr) return {};
  // The error manager keeps each thread's procedure names for "%Procedure";
  // the token comes back unchanged when the thread has pushed none.
  std::string name = errors->Substitute(kProcedureToken);
  return name == kProcedureToken ? std::string() : name;
}

void* FileRegistry::Lookup(const std::vector<Mapping>& table, const FileDescriptor* file) {
  int32_t me = FileThreadNumber();
  void* any = nullptr;
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    if (it->FILELABEL != file) continue;
    if (it->THREAD == me) return it->object;
    if (any == nullptr) any = it->object;
  }
  return any;
}

void FileRegistry::AddFileMapping(const FileDescriptor* file, FileManager* manager) {
  std::lock_guard<std::mutex> lock(mu_);
  file_mapping_.push_back({file, FileThreadNumber(), manager});
}

void FileRegistry::RemoveFileMapping(FileManager* manager) {
  std::lock_guard<std::mutex> lock(mu_);
  std::erase_if(file_mapping_, [&](const Mapping& m) { return m.object == manager; });
}

FileManager* FileRegistry::GetFileManager(const FileDescriptor* file) {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<FileManager*>(Lookup(file_mapping_, file));
}

void FileRegistry::AddRelationMapping(const FileDescriptor* file,
                                      RelationManagerInterface* relation) {
  std::lock_guard<std::mutex> lock(mu_);
  relation_mapping_.push_back({file, FileThreadNumber(), relation});
}

void FileRegistry::RemoveRelationMapping(RelationManagerInterface* relation) {
  std::lock_guard<std::mutex> lock(mu_);
  std::erase_if(relation_mapping_, [&](const Mapping& m) { return m.object == relation; });
}

RelationManagerInterface* FileRegistry::GetRelationManager(const FileDescriptor* file) {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<RelationManagerInterface*>(Lookup(relation_mapping_, file));
}

FileOpener* FileRegistry::AcquireOpener(FileDescriptor* file) {
  std::lock_guard<std::mutex> lock(mu_);
  OpenerEntry& e = openers_[file];
  if (!e.opener) {
    // A THREAD file has a descriptor per thread, so nothing is shared and
    // the plain opener does. A file without it is one descriptor for every
    // thread: its opens and closes are counted together.
    if (file->Has(kFileThread)) {
      e.opener = std::make_unique<PlainFileOpener>(file);
    } else {
      e.opener = std::make_unique<SharedFileOpener>(file);
    }
  }
  ++e.opener->USAGE;
  return e.opener.get();
}

void FileRegistry::ReleaseOpener(FileOpener* opener) {
  if (opener == nullptr) return;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = openers_.find(opener->MYFILE);
  if (it == openers_.end() || it->second.opener.get() != opener) return;
  if (--opener->USAGE <= 0) openers_.erase(it);
}

void FileRegistry::RegisterCallback(const FileDescriptor* file, FileCallbackInterface* callback) {
  std::lock_guard<std::mutex> lock(mu_);
  auto key = std::make_pair(file, FileThreadNumber());
  if (callback == nullptr) {
    callbacks_.erase(key);
  } else {
    callbacks_[key] = callback;
  }
}

void FileRegistry::UnregisterCallback(const FileDescriptor* file, FileCallbackInterface* callback) {
  std::lock_guard<std::mutex> lock(mu_);
  std::erase_if(callbacks_,
                [&](const auto& e) { return e.first.first == file && e.second == callback; });
}

FileCallbackInterface* FileRegistry::CallbackFor(const FileDescriptor* file) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = callbacks_.find(std::make_pair(file, FileThreadNumber()));
  if (it != callbacks_.end()) return it->second;
  for (auto& [key, callback] : callbacks_) {
    if (key.first == file) return callback;
  }
  return nullptr;
}

FileStatusEntry* FileRegistry::FindStatus(const FileDescriptor* file, int32_t thread,
                                          const std::string& proc) {
  for (FileStatusEntry& e : status_) {
    if (e.ID == file && e.THREAD == thread && e.PROC == proc) return &e;
  }
  return nullptr;
}

void FileRegistry::RecordOpen(const FileDescriptor* file) {
  std::string proc = CurrentProcedure();
  std::lock_guard<std::mutex> lock(mu_);
  int32_t me = FileThreadNumber();
  if (FileStatusEntry* e = FindStatus(file, me, proc)) {
    ++e->NESTEDOPEN;
    return;
  }
  FileStatusEntry e;
  e.THREAD = me;
  e.PROC = std::move(proc);
  e.ID = file;
  status_.push_back(std::move(e));
}

bool FileRegistry::RecordUse(const FileDescriptor* file, uint8_t kind) {
  std::string proc = CurrentProcedure();
  std::lock_guard<std::mutex> lock(mu_);
  FileStatusEntry* e = FindStatus(file, FileThreadNumber(), proc);
  // A use by a procedure that never opened the file has no Close to put
  // the file back, so nothing is recorded for it.
  if (e == nullptr) return false;
  e->USTAT = std::max(e->USTAT, kind);
  return kind < 3 && e->HOLD == 0;
}

void FileRegistry::SetHold(const FileDescriptor* file, uint16_t hold) {
  std::string proc = CurrentProcedure();
  std::lock_guard<std::mutex> lock(mu_);
  if (FileStatusEntry* e = FindStatus(file, FileThreadNumber(), proc)) e->HOLD = hold;
}

bool FileRegistry::RecordClose(const FileDescriptor* file, FileStatusEntry* entry) {
  std::string proc = CurrentProcedure();
  std::lock_guard<std::mutex> lock(mu_);
  FileStatusEntry* e = FindStatus(file, FileThreadNumber(), proc);
  if (e == nullptr) return false;
  if (e->NESTEDOPEN > 0) {
    --e->NESTEDOPEN;
    return false;
  }
  *entry = *e;
  status_.erase(status_.begin() + (e - status_.data()));
  return true;
}

std::vector<uint16_t> FileRegistry::DropStatus(const FileDescriptor* file) {
  std::lock_guard<std::mutex> lock(mu_);
  int32_t me = FileThreadNumber();
  auto mine = [&](const FileStatusEntry& e) { return e.ID == file && e.THREAD == me; };
  std::vector<uint16_t> holds;
  for (const FileStatusEntry& e : status_) {
    if (mine(e) && e.HOLD != 0) holds.push_back(e.HOLD);
  }
  std::erase_if(status_, mine);
  return holds;
}

std::vector<FileStatusEntry> FileRegistry::STATUSQ() {
  std::lock_guard<std::mutex> lock(mu_);
  return status_;
}

}  // namespace qzr
