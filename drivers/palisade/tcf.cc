// The transaction control file and the data files' transaction records.

#include "drivers/palisade/tcf.h"

#include <strings.h>

#include <cerrno>
#include <filesystem>

#include "drivers/palisade/format.h"
#include "drivers/palisade/page_tree.h"
#include "runtime/core/runtime_error.h"
#include "runtime/os/file_system.h"

namespace qzr::palisade {
namespace {

std::vector<uint8_t> IdKey(uint32_t id) {
  std::vector<uint8_t> key(4);
  StoreBigU32(key.data(), id);
  return key;
}

Bytes AsKey(const std::vector<uint8_t>& v) {
  return Bytes(v.data(), v.size());
}

}  // namespace

std::vector<uint8_t> TxnRecordPayload(uint32_t id, const std::string& control_file) {
  std::vector<uint8_t> out(4);
  StoreBigU32(out.data(), id);
  out.insert(out.end(), control_file.begin(), control_file.end());
  out.push_back(0);
  return out;
}

std::optional<TxnRecord> ParseTxnRecord(Bytes payload) {
  if (payload.size() < 5 || payload.back() != 0) return std::nullopt;
  TxnRecord rec;
  rec.id = LoadBigU32(payload.data());
  const Bytes name = payload.substr(4, payload.size() - 5);
  // A name with a zero inside is not one this code wrote.
  if (name.find(uint8_t{0}) != Bytes::npos) return std::nullopt;
  rec.control_file.assign(name.begin(), name.end());
  return rec;
}

PlxRecord MakeTxnRecord(uint32_t id, const std::string& control_file) {
  const uint8_t key[1] = {kKindTxn};
  const std::vector<uint8_t> payload = TxnRecordPayload(id, control_file);
  return MakeRecord(Bytes(key, 1), Bytes(payload.data(), payload.size()));
}

std::string ResolveControlFile(const std::string& stored, const std::string& data_path) {
  if (strcasecmp(stored.c_str(), kDefaultControlFile) != 0) return stored;
  const std::filesystem::path dir = std::filesystem::path(data_path).parent_path();
  return (dir / kControlFileLeaf).string();
}

TcfVerdict AskControlFile(const std::string& path, uint32_t id) {
  if (!PathExists(path)) return TcfVerdict::kUnavailable;
  std::unique_ptr<ControlFile> tcf;
  if (ControlFile::Open(path, false, &tcf) != 0) {
    ClearError();  // the verdict is the answer; the open's error is not the caller's
    return TcfVerdict::kUnavailable;
  }
  return tcf->Holds(id) ? TcfVerdict::kPending : TcfVerdict::kCommitted;
}

int ControlFile::Open(const std::string& path, bool create, std::unique_ptr<ControlFile>* out) {
  std::unique_ptr<ControlFile> tcf(new ControlFile());
  tcf->path_ = path;
  // A descriptor of its own for the locks: they belong to this object's
  // open file description, apart from the pager's.
  OsOpenOptions open;
  open.access = OsAccess::kReadWrite;
  open.create = create;
  if (const OsStatus st = OsFile::Open(path, open, &tcf->lock_file_); !st.ok()) {
    return PostOpenError(st);
  }
  if (tcf->lock_file_->created()) {
    // The new name must survive a crash before any id is entered in it.
    if (const OsStatus st = SyncDirectoryOf(path); !st.ok()) return PostOsFailure(st);
  }
  tcf->locks_ = std::make_unique<LockMap>(tcf->lock_file_->fd());
  // Opening may recover the control file's own interrupted update.
  if (int rc = tcf->Lock(); rc != 0) return rc;
  PagerOptions options;
  const int rc = Pager::Open(path, true, create, options, &tcf->pager_);
  tcf->Unlock();
  if (rc != 0) return rc;
  *out = std::move(tcf);
  return 0;
}

ControlFile::~ControlFile() {
  pager_.reset();
  lock_file_.reset();  // drops every lock of the description
}

int ControlFile::Lock() {
  const int rc = locks_->BeginOperation(true, true);
  if (rc != 0) return rc;
  if (pager_ && pager_->LoadHeader() != 0) {
    locks_->EndOperation();
    PostError(kInvalidDataFile);
    return kInvalidDataFile;
  }
  return 0;
}

void ControlFile::Unlock() {
  locks_->EndOperation();
}

int ControlFile::Enter(uint32_t* id) {
  if (int rc = Lock(); rc != 0) return rc;
  PageTree tree(pager_.get());
  // Ids come from the clock; two transactions begun in the same tick take
  // neighbouring ids.
  while (tree.Find(AsKey(IdKey(*id))) != nullptr) ++*id;
  tree.Insert(MakeRecord(AsKey(IdKey(*id)), Bytes()));
  int rc = pager_->Flush();
  if (rc != 0) pager_->Rollback();
  Unlock();
  return rc;
}

int ControlFile::Leave(uint32_t id) {
  if (int rc = Lock(); rc != 0) return rc;
  PageTree tree(pager_.get());
  tree.Delete(AsKey(IdKey(id)));
  int rc = pager_->Flush();
  if (rc != 0) pager_->Rollback();
  Unlock();
  return rc;
}

bool ControlFile::Holds(uint32_t id) {
  if (Lock() != 0) return true;  // cannot tell: treat as not committed
  PageTree tree(pager_.get());
  const bool held = tree.Find(AsKey(IdKey(id))) != nullptr;
  Unlock();
  return held;
}

}  // namespace qzr::palisade
