// The pager: header load and commit, page reads, and the write-out.

#include "drivers/palisade/pager.h"

#include <algorithm>
#include <cerrno>

#include "drivers/palisade/format.h"
#include "runtime/fatal.h"
#include "runtime/runtime_error.h"

namespace qzr::palisade {
namespace {

// Posts the runtime error for a failed open and returns its code.
int PostOpenError(int err) {
  switch (err) {
    case ENOENT:
      PostError(2);
      return 2;
    case ENOTDIR:
      PostError(3);
      return 3;
    case EMFILE:
    case ENFILE:
      PostError(4);
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
      PostError(5);
      return 5;
    default:
      PostErrno(err);
      return kFileSystemError;
  }
}

}  // namespace

Pager::Pager(std::unique_ptr<OsFile> file, const PagerOptions& options)
    : file_(std::move(file)), options_(options), cache_(options.cache) {}

Pager::~Pager() = default;

int Pager::Open(const std::string& path, bool writable, bool create, const PagerOptions& options,
                std::unique_ptr<Pager>* out) {
  std::unique_ptr<OsFile> file;
  if (int err = OsFile::Open(path, writable, create, &file); err != 0) return PostOpenError(err);
  file->set_cipher(options.cipher);
  std::unique_ptr<Pager> pager(new Pager(std::move(file), options));
  if (pager->LoadHeader() != 0) {
    PostError(36);
    return 36;
  }
  *out = std::move(pager);
  return 0;
}

int Pager::LoadHeader() {
  const int64_t size = file_->Size();
  if (size < 0) return 1;
  PlxHeader loaded;
  if (size == 0) {
    loaded = PlxHeader::Fresh();
  } else {
    uint8_t block[kHeaderBytes];
    if (ReadBlock(file_.get(), 0, kHeaderBytes, block) < kHeaderBytes) return 1;
    if (!PlxHeader::Decode(block, &loaded)) return 1;
    // Pages past the end of the file: the file was cut short.
    if (loaded.ComputedEnd() > static_cast<uint64_t>(size)) return 1;
  }
  if (header_valid_ && static_cast<int32_t>(loaded.ChangeCount - header_.ChangeCount) <= 0) {
    return 0;
  }
  cache_.Clear();
  free_queue_.clear();
  shadow_map_.clear();
  ++layout_version_;
  header_ = loaded;
  header_valid_ = true;
  header_dirty_ = false;
  has_root_ = !header_.NoPages();
  root_ = has_root_ ? static_cast<int32_t>(header_.RootPage) : 0;
  // Ends that differ mean an update was interrupted after its shadow copies
  // were appended. Pages below CommittedEnd are never overwritten before the
  // commit, so the header at offset 0 still describes the last committed
  // state: the appended area is discarded.
  if (header_.CommittedEnd != header_.WorkingEnd && file_->writable() && size > 0) {
    if (CommitHeader() != 0) return 1;
  }
  return 0;
}

int Pager::CommitHeader() {
  if (!FlushBuffers(file_.get())) return file_->failed_errno();
  const uint32_t end = header_.ComputedEnd();
  header_.CommittedEnd = end;
  header_.WorkingEnd = end;
  ++header_.ChangeCount;
  header_.HomeOffset = 0;
  header_.RootPage = has_root_ ? static_cast<uint32_t>(root_) : 0;
  uint8_t block[kHeaderBytes];
  header_.Encode(block);
  if (!WriteBlock(file_.get(), 0, kHeaderBytes, block)) return file_->failed_errno();
  if (!FlushBuffers(file_.get())) return file_->failed_errno();
  const int64_t size = file_->Size();
  if (size > static_cast<int64_t>(end)) {
    if (int err = file_->Truncate(end); err != 0) {
      file_->set_failed(err);
      return err;
    }
  }
  header_dirty_ = false;
  return 0;
}

uint32_t Pager::IssueNumber() {
  if (read_only()) Corruption(kCheckIssueReadOnly);
  if (!header_valid_) Corruption(kCheckIssueHeader);
  uint32_t id;
  if (!header_.Issue(&id)) Corruption(kCheckIssueLimit);
  header_dirty_ = true;
  return id;
}

void Pager::SetRoot(int32_t address) {
  root_ = address;
  has_root_ = true;
  header_dirty_ = true;
}

PageNode* Pager::GetPage(int32_t address) {
  if (PageNode* hit = cache_.Find(address)) return hit;
  // An in-memory page is never dropped, so a miss on one is a broken link.
  if (address < 0) Corruption(kCheckAddress);
  const int size_class = header_.ClassOf(address);
  if (size_class == 0) Corruption(kCheckAddress);
  cache_.Trim();
  const size_t len = static_cast<size_t>(size_class) * kUnit;
  std::vector<uint8_t> block(len);
  const uint64_t home = PageOffset(address);
  uint64_t actual = home;
  if (!shadow_map_.empty()) {
    if (auto it = shadow_map_.find(static_cast<uint32_t>(home)); it != shadow_map_.end()) {
      actual = it->second;
    }
  }
  ReadExact(file_.get(), actual, len, block.data(), home);
  auto node = std::make_unique<PageNode>();
  node->Address = address;
  if (int check = DecodePage(block.data(), len, node.get()); check != 0) Corruption(check);
  return cache_.Add(std::move(node));
}

PageNode* Pager::NewPage(uint8_t node_flag) {
  auto node = std::make_unique<PageNode>();
  node->Address = --next_negative_;
  node->NodeFlag = node_flag;
  node->ResetPlainSize();
  node->dirty = true;
  return cache_.Add(std::move(node));
}

void Pager::DiscardPage(PageNode* node) {
  if (node->Address >= 0) free_queue_.push_back(node->Address);
  cache_.Remove(node);
}

bool Pager::PutPage(PageNode* node, int mode) {
  int size_class =
      node->image_valid ? static_cast<int>(node->Image.size() / kUnit) : EncodePage(node);
  ResizePage(node, size_class);
  if (mode == 0) return true;
  const uint64_t home = PageOffset(node->Address);
  PatchImage(node, home);
  if (!WriteBlock(file_.get(), home, node->Image.size(), node->Image.data())) return false;
  // Written home: the records are the page's form in memory from now on.
  node->Image.clear();
  node->Image.shrink_to_fit();
  node->image_valid = false;
  cache_.MarkClean(node);
  return true;
}

void Pager::FreeQueued() {
  // Highest first: when a slot is filled from its zone's end, every queued
  // slot above it is already gone, so the page moved in is a live one.
  std::sort(free_queue_.begin(), free_queue_.end(), std::greater<int32_t>());
  for (int32_t address : free_queue_) FreePage(address);
  free_queue_.clear();
}

bool Pager::PlacePages() {
  // Moving pages makes other pages dirty (the moved ones, their parents), so
  // repeat until every dirty page sits in the zone of its size.
  for (bool moved = true; moved;) {
    moved = false;
    for (PageNode* node : cache_.DirtyNodes()) {
      int size_class =
          node->image_valid ? static_cast<int>(node->Image.size() / kUnit) : EncodePage(node);
      if (node->Address >= 0 && header_.ClassOf(node->Address) == size_class) continue;
      ResizePage(node, size_class);
      moved = true;
      if (header_.ZoneEnd[header_.HighestZone()] > kMaxAddress) return false;
    }
  }
  return true;
}

bool Pager::WritePages() {
  std::vector<PageNode*> dirty = cache_.DirtyNodes();
  // In address order, so the writes go out sequentially.
  std::sort(dirty.begin(), dirty.end(),
            [](const PageNode* a, const PageNode* b) { return a->Address < b->Address; });
  for (PageNode* node : dirty) {
    if (!PutPage(node, 1)) return false;
  }
  return true;
}

int Pager::FailFlush(int err) {
  PostErrno(err == 0 ? EIO : err);
  return kFileSystemError;
}

int Pager::Flush() {
  if (!HasChanges()) return 0;
  if (read_only() || broken_) return FailFlush(EBADF);
  if (file_->failed_errno() != 0) return FailFlush(file_->failed_errno());
  FreeQueued();
  // Packing can move a page written by another encoder whose new encoding
  // needs another zone, so place and pack until nothing moves.
  for (int round = 0;; ++round) {
    if (!PlacePages()) return FailFlush(EFBIG);
    PackZones();
    bool placed = true;
    for (PageNode* node : cache_.DirtyNodes()) {
      if (!node->image_valid || node->Address < 0 ||
          header_.ClassOf(node->Address) != static_cast<int>(node->Image.size() / kUnit)) {
        placed = false;
        break;
      }
    }
    if (placed) break;
  }
  if (!file_->Point("before-write-pages")) return FailFlush(file_->failed_errno());
  if (!WritePages()) return FailFlush(file_->failed_errno());
  if (!file_->Point("before-commit-header")) return FailFlush(file_->failed_errno());
  if (int err = CommitHeader(); err != 0) return FailFlush(err);
  return 0;
}

int Pager::MaybeSpill() {
  if (cache_.dirty_count() <= options_.max_dirty_pages) return 0;
  return Flush();
}

void Pager::Rollback() {
  cache_.Clear();
  free_queue_.clear();
  shadow_map_.clear();
  file_->ClearFailed();
  header_valid_ = false;
  ++layout_version_;
  if (LoadHeader() != 0) {
    // The file no longer holds a valid header. Show no pages, and never
    // write: a commit now would replace whatever is left with an empty file.
    header_ = PlxHeader::Fresh();
    has_root_ = false;
    broken_ = true;
  }
}

}  // namespace qzr::palisade
