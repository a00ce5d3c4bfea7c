// LOGOUT, COMMIT and ROLLBACK over several Palisade files.

#include "drivers/palisade/transaction.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>

#include "drivers/palisade/page_tree.h"
#include "drivers/palisade/tcf.h"
#include "runtime/core/runtime_error.h"
#include "runtime/os/clock.h"
#include "runtime/os/file_system.h"

namespace qzr::palisade {
namespace {

struct State {
  std::mutex mu;
  bool active = false;
  std::vector<Pager*> files;
  std::string control_file;  // "" = the default
  uint32_t last_id = 0;
};

State& S() {
  static State* state = new State();  // never destroyed: used until exit
  return *state;
}

// Posts `code`; an operating-system failure posted just before (a full
// disk) stays readable as its FILEERRORCODE.
int Fail(int code) {
  const std::string os_error = ERRORCODE() == kFileSystemError ? FILEERRORCODE() : std::string();
  PostError(code, {}, os_error);
  return code;
}

uint32_t ClockId() {
  return static_cast<uint32_t>(EpochMillisecondsNow());
}

// Commits a file's own pending changes before it joins a transaction.
int Settle(Pager* file) {
  if (file->read_only()) return Fail(kUnableToLogTransaction);
  if (!file->HasChanges()) return 0;
  file->HoldChanges(false);
  if (file->Flush() != 0) {
    file->Rollback();
    return Fail(kUnableToLogTransaction);
  }
  return 0;
}

void EndLocked(State& s) {
  for (Pager* file : s.files) file->HoldChanges(false);
  s.files.clear();
  s.active = false;
}

// The multi-file protocol; REQUIRES: at least two files changed.
int CommitSeveral(State& s, const std::vector<Pager*>& changed) {
  const std::string first_path = changed.front()->file()->path();
  std::string tcf_path;
  std::string stored;
  // A control file that cannot even be named is one that cannot be logged to.
  const std::string named =
      s.control_file.empty() ? ResolveControlFile(kDefaultControlFile, first_path) : s.control_file;
  if (!AbsolutePath(named, &tcf_path).ok()) {
    for (Pager* file : changed) file->Rollback();
    return Fail(kUnableToLogTransaction);
  }
  if (!s.control_file.empty()) stored = tcf_path;
  const std::filesystem::path tcf_dir = std::filesystem::path(tcf_path).parent_path();
  std::unique_ptr<ControlFile> tcf;
  if (ControlFile::Open(tcf_path, true, &tcf) != 0) {
    for (Pager* file : changed) file->Rollback();
    return Fail(kUnableToLogTransaction);
  }
  uint32_t id = ClockId();
  if (tcf->Enter(&id) != 0) {
    for (Pager* file : changed) file->Rollback();
    return Fail(kUnableToLogTransaction);
  }
  for (size_t i = 0; i < changed.size(); ++i) {
    Pager* file = changed[i];
    // The default marker keeps a file and its control file movable
    // together; a file elsewhere names the one control file by its path.
    std::string name = stored;
    if (name.empty()) {
      std::string absolute;
      const bool beside = AbsolutePath(file->file()->path(), &absolute).ok() &&
                          std::filesystem::path(absolute).parent_path() == tcf_dir;
      name = beside ? std::string(kDefaultControlFile) : tcf_path;
    }
    PageTree(file).Put(MakeTxnRecord(id, name));
    if (file->PrepareCommit() != 0) {
      // Nothing has reached a home position: abandon what is prepared; the
      // failing file's mark, if it got one, is discarded when it is read
      // back, since the control file still holds the id.
      for (size_t j = 0; j < i; ++j) changed[j]->AbandonCommit();
      for (size_t j = i; j < changed.size(); ++j) changed[j]->Rollback();
      tcf->Leave(id);
      return Fail(kUnableToLogTransaction);
    }
  }
  if (!ProcessPoint("before-commit-point") || tcf->Leave(id) != 0) {
    // Whether the deletion reached the disk is unknown; every file keeps
    // its mark, and its next open asks the control file.
    for (Pager* file : changed) file->Rollback();
    return Fail(kUnableToLogTransaction);
  }
  s.last_id = id;
  if (!ProcessPoint("after-commit-point")) {
    // A simulated death: the updates are committed and left to the next
    // open, as a killed process would leave them.
    return 0;
  }
  for (Pager* file : changed) {
    if (file->ApplyCommit() != 0) {
      ClearError();
      file->Rollback();  // reading back completes the update
    }
  }
  return 0;
}

}  // namespace

int TransactionBegin(const std::vector<Pager*>& files) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  if (s.active) return Fail(kLogoutAlreadyActive);
  for (Pager* file : files) {
    if (int rc = Settle(file); rc != 0) return rc;
  }
  s.files.clear();
  for (Pager* file : files) {
    if (std::find(s.files.begin(), s.files.end(), file) != s.files.end()) continue;
    file->HoldChanges(true);
    s.files.push_back(file);
  }
  s.active = true;
  return 0;
}

int TransactionAdd(Pager* file) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  if (!s.active) return Fail(kLogoutNotActive);
  if (std::find(s.files.begin(), s.files.end(), file) != s.files.end()) return 0;
  if (int rc = Settle(file); rc != 0) return rc;
  file->HoldChanges(true);
  s.files.push_back(file);
  return 0;
}

int TransactionCommit() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  if (!s.active) return Fail(kLogoutNotActive);
  std::vector<Pager*> changed;
  for (Pager* file : s.files) {
    file->HoldChanges(false);
    if (file->HasChanges()) changed.push_back(file);
  }
  int rc = 0;
  if (changed.size() == 1) {
    if (changed[0]->Flush() != 0) {
      changed[0]->Rollback();
      rc = Fail(kUnableToLogTransaction);
    }
  } else if (changed.size() > 1) {
    rc = CommitSeveral(s, changed);
  }
  EndLocked(s);
  return rc;
}

int TransactionRollback() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  if (!s.active) return Fail(kLogoutNotActive);
  bool ok = true;
  for (Pager* file : s.files) {
    file->HoldChanges(false);
    file->Rollback();
    // A file whose header cannot be read back shows no pages and refuses
    // to write; the caller learns it here.
    if (file->broken()) ok = false;
  }
  EndLocked(s);
  return ok ? 0 : Fail(kUnableToRollback);
}

void TransactionForget(Pager* file) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  auto it = std::find(s.files.begin(), s.files.end(), file);
  if (it == s.files.end()) return;
  file->HoldChanges(false);
  file->Rollback();
  s.files.erase(it);
}

bool TransactionActive() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.active;
}

bool InTransaction(const Pager* file) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return std::find(s.files.begin(), s.files.end(), file) != s.files.end();
}

void SetControlFileName(const std::string& name) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  s.control_file = name;
}

std::string ControlFileName() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.control_file;
}

uint32_t LastTransactionId() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mu);
  return s.last_id;
}

}  // namespace qzr::palisade
