// The open Palisade file object: opening with sharing and password checks,
// the operation bracket on shared files, and the write-out.

#include "drivers/palisade/plx_file.h"

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <utility>

#include "runtime/core/runtime_error.h"
#include "runtime/os/file_lock.h"

namespace qzr::palisade {
namespace {

constexpr uint64_t kShareGate = kShareBase + 0;
constexpr uint64_t kShareReads = kShareBase + 1;
constexpr uint64_t kShareWrites = kShareBase + 2;
constexpr uint64_t kShareDeniesRead = kShareBase + 3;
constexpr uint64_t kShareDeniesWrite = kShareBase + 4;

// Posts the runtime error of a failed open and returns it.
// The commit counter of the file with identity (dev, ino), shared by every
// file object of the process. Counters stay for the life of the process.
std::atomic<uint64_t>* CommitCounterOf(uint64_t dev, uint64_t ino) {
  static std::mutex mu;
  static auto* counters = new std::map<std::pair<uint64_t, uint64_t>, std::atomic<uint64_t>>();
  std::lock_guard<std::mutex> lock(mu);
  return &(*counters)[{dev, ino}];
}

}  // namespace

int PlxFile::Open(const std::string& path, const PlxOpenOptions& options,
                  std::unique_ptr<PlxFile>* out) {
  std::unique_ptr<PlxFile> f(new PlxFile());
  f->path_ = path;
  f->options_ = options;
  if (f->options_.share < 0x10) f->options_.share += 0x40;
  if (f->options_.share > kShareDenyNone) f->options_.share = kShareDenyNone;

  // The lock descriptor is the file object's own open file description:
  // every lock of this object (sharing, operation, holds) belongs to it and
  // all of them go when it is closed.
  OsOpenOptions open;
  open.access = options.writable ? OsAccess::kReadWrite : OsAccess::kRead;
  open.create = options.create;
  if (const OsStatus st = OsFile::Open(path, open, &f->lock_file_); !st.ok()) {
    return PostOpenError(st);
  }
  // A new file's name must survive a crash as surely as its first commit.
  if (f->lock_file_->created()) {
    if (const OsStatus st = SyncDirectoryOf(path); !st.ok()) return PostOsFailure(st);
  }
  const OsFileId id = f->lock_file_->id();
  f->commit_counter_ = CommitCounterOf(id.device, id.inode);

  if (int rc = f->TakeShare(options.writable ? 3u : 1u); rc != 0) return rc;

  if (!options.password.empty()) {
    std::unique_ptr<PageCipher> cipher = PageCipher::FromPassword(options.password);
    if (cipher == nullptr) {
      // Without the cipher library the file can be neither read nor written.
      PostError(kFileSystemError,
                "the cipher library (" QZR_LIBCRYPTO_SONAME ") could not be loaded");
      return kFileSystemError;
    }
    uint8_t raw[kHeaderBytes];
    size_t got = 0;
    if (const OsStatus st = f->lock_file_->ReadAt(0, raw, sizeof raw, &got); !st.ok()) {
      return PostOsFailure(st);
    }
    if (got > 0 && got < kHeaderBytes) {
      PostError(kInvalidDataFile);
      return kInvalidDataFile;
    }
    // A plain file opened with a password is refused too: enciphering its
    // new pages among the plain ones would ruin it.
    if (got == kHeaderBytes && cipher->CheckHeader(raw) != HeaderCheck::kMatches) {
      return PostWrongPassword();
    }
    f->cipher_ = std::move(cipher);
  }

  f->locks_ = std::make_unique<LockMap>(f->lock_file_->fd());
  PagerOptions pager_options = options.pager;
  // The pager stamps the password check into every header it writes.
  pager_options.cipher = f->cipher_.get();
  pager_options.commit_counter = f->commit_counter_;
  if (f->shared() && options.writable) {
    // Recovering an interrupted update changes the file: it happens under
    // the writer byte, unless this object holds it already.
    PlxFile* self = f.get();
    pager_options.recovery_guard = [self](bool begin) { return self->RecoveryGuard(begin); };
  }
  if (int rc = Pager::Open(path, options.writable, false, pager_options, &f->pager_); rc != 0) {
    return rc;
  }
  f->tree_ = std::make_unique<PageTree>(f->pager_.get());
  f->tree_->set_debug_checks(false);
  f->tables_ = std::make_unique<PlxTables>(f->tree_.get());
  *out = std::move(f);
  return 0;
}

PlxFile::~PlxFile() {
  if (locks_) locks_->ReleaseAll();
  tables_.reset();
  tree_.reset();
  pager_.reset();
  lock_file_.reset();  // closing the description drops every lock it holds
}

int PlxFile::TakeShare(uint32_t access_bits) {
  const int fd = lock_file_->fd();
  const uint32_t share = options_.share;
  const bool deny_read = share == kShareDenyAll || share == kShareDenyRead;
  const bool deny_write = share == kShareDenyAll || share == kShareDenyWrite;
  const bool can_exclusive = OsLockCanBeExclusive(fd);
  // The gate makes "check, then take" one step between file objects.
  OsStatus gate = OsStatus::Error(EAGAIN);
  for (int attempt = 0; attempt < 2000 && gate.Is(EAGAIN); ++attempt) {
    gate = OsTryLock(fd, kShareGate, 1, can_exclusive);
    if (gate.Is(EAGAIN)) OsLockSleep(1);
  }
  if (!gate.ok()) {
    if (gate.Is(EAGAIN)) {
      PostError(kAccessDenied);
      return kAccessDenied;
    }
    return PostOsFailure(gate);
  }
  // A probe or a take that fails for any reason but contention cannot tell
  // whether the sharing allows the open: the open fails with that error
  // rather than going ahead past another object's deny.
  OsStatus failure;
  auto conflict = [&](uint64_t byte) {
    bool busy = false;
    if (const OsStatus st = OsTestLock(fd, byte, 1, true, &busy); !st.ok()) {
      if (failure.ok()) failure = st;
      return true;
    }
    return busy;
  };
  const bool reads = (access_bits & 1u) != 0;
  const bool writes = (access_bits & 2u) != 0;
  bool refused = (reads && conflict(kShareDeniesRead)) || (writes && conflict(kShareDeniesWrite)) ||
                 (deny_read && conflict(kShareReads)) || (deny_write && conflict(kShareWrites));
  if (!refused) {
    auto take = [&](bool want, uint64_t byte) {
      if (!want || refused) return;
      if (const OsStatus st = OsTryLock(fd, byte, 1, false); !st.ok()) {
        refused = true;
        if (!st.Is(EAGAIN)) failure = st;
      }
    };
    take(reads, kShareReads);
    take(writes, kShareWrites);
    take(deny_read, kShareDeniesRead);
    take(deny_write, kShareDeniesWrite);
  }
  // A gate left locked would shut every other opener out for as long as
  // this object lives: the open fails instead, and closing the description
  // releases the gate with everything else it holds.
  if (const OsStatus st = OsUnlock(fd, kShareGate, 1); !st.ok() && failure.ok()) failure = st;
  if (!failure.ok()) return PostOsFailure(failure);
  if (refused) {
    PostError(kAccessDenied);
    return kAccessDenied;
  }
  return 0;
}

int PlxFile::WaitFor(bool changing) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.lock_wait_ms);
  for (;;) {
    const int rc = locks_->BeginOperation(changing, false);
    if (rc != kAccessDenied) return rc;
    if (std::chrono::steady_clock::now() >= deadline) {
      PostError(kAccessDenied);
      return kAccessDenied;
    }
    OsLockSleep(1);
  }
}

int PlxFile::BeginOperation(bool changing) {
  if (changing && read_only()) {
    PostError(kAccessDenied);
    return kAccessDenied;
  }
  if (!shared() || in_operation_) return 0;
  if (locks_->changing()) {
    // The writer byte is kept from an earlier change: nobody else has
    // written since, and the cached pages hold changes not yet written.
    in_operation_ = true;
    return 0;
  }
  if (int rc = WaitFor(changing); rc != 0) return rc;
  in_operation_ = true;
  if (const int rc = pager_->LoadHeader(); rc != 0) {
    EndOperation();
    const int code = rc == kAccessDenied ? kAccessDenied : kInvalidDataFile;
    PostError(code);
    return code;
  }
  return 0;
}

void PlxFile::EndOperation() {
  if (!shared() || !in_operation_) return;
  in_operation_ = false;
  if (keep_writer_ && locks_->changing()) return;
  locks_->EndOperation();
}

int PlxFile::RecoveryGuard(bool begin) {
  if (begin) {
    if (locks_->changing()) return 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.lock_wait_ms);
    for (;;) {
      const OsStatus st = locks_->LockRange(0, LockKind::kWriter, false);
      if (st.ok()) break;
      if (!st.Is(EAGAIN) || std::chrono::steady_clock::now() >= deadline) return kAccessDenied;
      OsLockSleep(1);
    }
    recovery_writer_ = true;
    return 0;
  }
  if (recovery_writer_) locks_->UnlockRange(0, LockKind::kWriter);
  recovery_writer_ = false;
  return 0;
}

void PlxFile::KeepWriter(bool keep) {
  keep_writer_ = keep;
  if (!keep && !in_operation_ && locks_->changing()) locks_->EndOperation();
}

int PlxFile::WriteOut() {
  if (!pager_->HasChanges()) return 0;
  const bool exclude_readers = shared() || deny_write();
  if (exclude_readers) {
    if (int rc = locks_->BeginWriteOut(); rc != 0) {
      pager_->Rollback();
      return rc;
    }
  }
  const int rc = pager_->Flush();
  if (exclude_readers) locks_->EndWriteOut();
  if (rc != 0) pager_->Rollback();
  return rc;
}

void PlxFile::Rollback() {
  pager_->Rollback();
}

}  // namespace qzr::palisade
