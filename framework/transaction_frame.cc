// TransactionFrame: see transaction_frame.h.

// clang-format off
#include "framework/file_manager_internal.h"  // first: see there
// clang-format on

#include "framework/transaction_frame.h"

#include <algorithm>

#include "data/file_driver.h"
#include "framework/file_registry.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

// The frame open on the thread, if any.
thread_local void* t_open = nullptr;

// COMMIT or ROLLBACK once per driver among the enlisted files, through the
// first file of each. Returns the first failure and its owner.
int EndTransaction(std::vector<std::pair<RelationManager*, FileDescriptor*>>& enlisted, FileOp op,
                   RelationManager** failed) {
  std::vector<const FileDriver*> done;
  int first_error = 0;
  for (auto& [owner, file] : enlisted) {
    const FileDriver* driver = FindDriver(file->driver);
    if (std::find(done.begin(), done.end(), driver) != done.end()) continue;
    done.push_back(driver);
    const int rc = CallFileOp(op, *file);
    if (rc != 0 && first_error == 0) {
      first_error = rc;
      if (failed != nullptr) *failed = owner;
    }
  }
  return first_error;
}

}  // namespace

TransactionFrame::TransactionFrame() : outer_(static_cast<Open*>(t_open)) {
  if (outer_ == nullptr) t_open = &own_;
}

TransactionFrame::~TransactionFrame() {
  if (outer_ == nullptr) {
    Rollback();  // an exit that did not commit
    t_open = nullptr;
  }
}

int TransactionFrame::Enlist(FileDescriptor* file, uint32_t timeout, RelationManager* owner) {
  Open& f = open();
  if (file == nullptr) return 0;
  const bool listed = std::any_of(f.enlisted.begin(), f.enlisted.end(),
                                  [&](const auto& e) { return e.second == file; });
  if (listed) return 0;
  FileArgs a;
  a.timeout = timeout;
  const int rc = CallFileOp(FileOp::LOGOUT, *file, a);
  if (rc == 0) {
    f.enlisted.emplace_back(owner, file);
    f.active = true;
    return 0;
  }
  if (rc == kUnsupportedFunction || rc == kLogoutAlreadyActive) return 0;
  if (f.active) {
    RuntimeErrorKeeper keep;
    EndTransaction(f.enlisted, FileOp::ROLLBACK, nullptr);
    f.active = false;
  }
  return rc;
}

bool TransactionFrame::Transactional() const {
  const Open* f = outer_ != nullptr ? outer_ : &own_;
  return f->active;
}

int TransactionFrame::Commit(RelationManager** failed) {
  if (outer_ != nullptr || !own_.active) return 0;
  const int rc = EndTransaction(own_.enlisted, FileOp::COMMIT, failed);
  own_.active = false;
  if (rc == 0) return 0;
  // A driver that failed to commit is as last committed; the others,
  // committed or not, are put back as far as they still can be.
  RuntimeErrorKeeper keep;
  EndTransaction(own_.enlisted, FileOp::ROLLBACK, nullptr);
  return rc;
}

void TransactionFrame::Rollback() {
  if (outer_ != nullptr || !own_.active) return;
  RuntimeErrorKeeper keep;  // the failure being reported stays the thread's error
  EndTransaction(own_.enlisted, FileOp::ROLLBACK, nullptr);
  own_.active = false;
}

void TransactionFrame::RollbackOpenFrame() {
  auto* f = static_cast<Open*>(t_open);
  if (f == nullptr || !f->active) return;
  RuntimeErrorKeeper keep;
  EndTransaction(f->enlisted, FileOp::ROLLBACK, nullptr);
  f->active = false;
}

}  // namespace qzr
