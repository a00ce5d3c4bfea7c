// The pager: header load and commit, page reads, and the atomic write-out.

#include "drivers/palisade/pager.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "drivers/palisade/cipher.h"
#include "drivers/palisade/format.h"
#include "runtime/core/fatal.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

// In-place blocks gathered before a run is written out anyway: large enough
// that a bulk write-out makes few system calls, small enough to stay cached.
constexpr size_t kRunBytes = size_t{1} << 20;
// Blocks kept between sizing a write-out's pages and writing them.
constexpr size_t kSizedBytes = size_t{16} << 20;

}  // namespace

Pager::Pager(std::unique_ptr<OsFile> file, const PagerOptions& options)
    : file_(std::move(file)), options_(options), cache_(options.cache) {
  std::fill(std::begin(searched_), std::end(searched_), -1);
}

Pager::~Pager() = default;

int Pager::Open(const std::string& path, bool writable, bool create, const PagerOptions& options,
                std::unique_ptr<Pager>* out) {
  std::unique_ptr<OsFile> file;
  if (const OsStatus s = OsFile::Open(path, writable, create, &file); !s.ok()) {
    return PostOpenError(s);
  }
  // A new file's name must survive a crash as surely as its first commit.
  if (file->created()) {
    if (const OsStatus s = SyncDirectoryOf(path); !s.ok()) return PostOsFailure(s);
  }
  file->set_cipher(options.cipher);
  std::unique_ptr<Pager> pager(new Pager(std::move(file), options));
  if (int rc = pager->LoadHeader(); rc != 0) {
    // 5: another process kept the writer byte while an update waited to be
    // recovered.
    const int code = rc == kAccessDenied ? kAccessDenied : kInvalidDataFile;
    PostError(code);
    return code;
  }
  *out = std::move(pager);
  return 0;
}

int Pager::ReadHeader(PlxHeader* out, int64_t* size) {
  uint64_t length = 0;
  if (!file_->Size(&length).ok()) return 1;
  *size = static_cast<int64_t>(length);
  if (*size == 0) {
    *out = PlxHeader::Fresh();
    return 0;
  }
  if (length < kHeaderBytes) return 1;
  // The length was just asked, under the operation lock on a shared file,
  // so once the file is mapped the header's bytes can be had without a
  // read of their own.
  const uint8_t* block = ReadCommitted(0, kHeaderBytes);
  return block != nullptr && PlxHeader::Decode(block, out) ? 0 : 1;
}

const uint8_t* Pager::ReadCommitted(uint64_t offset, size_t len) {
  if (pages_loaded_ + pages_searched_ + leaves_searched_ >= options_.plain_read_pages) {
    return ReadBlockView(file_.get(), offset, len, &read_buffer_);
  }
  if (read_buffer_.size() < len) read_buffer_.resize(len);
  if (ReadBlock(file_.get(), offset, len, read_buffer_.data()) != len) return nullptr;
  return read_buffer_.data();
}

void Pager::Install(const PlxHeader& header) {
  cache_.Clear();
  free_queue_.clear();
  shadow_map_.clear();
  ++layout_version_;
  header_ = header;
  header_valid_ = true;
  header_dirty_ = false;
  has_root_ = !header_.NoPages();
  root_ = has_root_ ? static_cast<int32_t>(header_.RootPage) : 0;
}

int Pager::TakeOver(const PlxHeader& loaded, int64_t size) {
  // Pages past the end of the file: the file was cut short.
  if (size > 0 && loaded.ComputedEnd() > static_cast<uint64_t>(size)) return 1;
  last_recovery_ = Recovery::kNone;
  if (header_valid_ && static_cast<int32_t>(loaded.ChangeCount - header_.ChangeCount) <= 0) {
    return 0;
  }
  Install(loaded);
  committed_ = loaded;
  return 0;
}

int Pager::LoadHeader() {
  // Our own mark is on disk while an update is prepared; the state in
  // memory is the one that counts until it is applied or abandoned.
  if (prepared_) return 0;
  PlxHeader loaded;
  int64_t size = 0;
  if (int rc = ReadHeader(&loaded, &size); rc != 0) return rc;
  if (size == 0 || loaded.CommittedEnd == loaded.WorkingEnd) return TakeOver(loaded, size);
  // A mark: decide under the writer byte, and read again once it is ours,
  // since whoever held it may have finished the update meanwhile.
  // A read-only file decides in memory, but under the guard as well: while
  // another process completes the update on disk its shadows may vanish.
  if (!options_.recovery_guard) return Recover(loaded, size);
  if (options_.recovery_guard(true) != 0) return kAccessDenied;
  int rc = ReadHeader(&loaded, &size);
  if (rc == 0) {
    rc = size > 0 && loaded.CommittedEnd != loaded.WorkingEnd ? Recover(loaded, size)
                                                              : TakeOver(loaded, size);
  }
  options_.recovery_guard(false);
  return rc;
}

void Pager::EncodeHeader(const PlxHeader& header, uint8_t out[kHeaderBytes]) const {
  header.Encode(out);
  // An encrypted file proves its password through every header it holds.
  if (const auto* cipher = dynamic_cast<const PageCipher*>(options_.cipher)) {
    cipher->StampHeader(out);
  }
}

bool Pager::Sync() {
  ++stats_.syncs;
  return FlushBuffers(file_.get());
}

int Pager::CommitHeader() {
  if (!Sync()) return file_->failed_errno();
  const uint32_t end = header_.ComputedEnd();
  header_.CommittedEnd = end;
  header_.WorkingEnd = end;
  ++header_.ChangeCount;
  header_.HomeOffset = 0;
  header_.RootPage = has_root_ ? static_cast<uint32_t>(root_) : 0;
  uint8_t block[kHeaderBytes];
  EncodeHeader(header_, block);
  if (!WriteBlock(file_.get(), 0, kHeaderBytes, block)) return file_->failed_errno();
  // The header must be durable before the shadows it no longer needs go.
  if (!Sync()) return file_->failed_errno();
  // A length that cannot be read leaves the tail past the end in place: it
  // holds nothing committed, and the next commit cuts it.
  uint64_t size = 0;
  if (file_->Size(&size).ok() && size > end) {
    if (const OsStatus s = file_->Truncate(end); !s.ok()) {
      file_->set_failed(s.error());
      return s.error();
    }
  }
  header_dirty_ = false;
  committed_ = header_;
  ResetSpill();
  if (options_.commit_counter != nullptr) options_.commit_counter->fetch_add(1);
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
  ++shape_version_;
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
  const uint8_t* block = ReadPageBlock(address, len);
  ++pages_loaded_;
  // A recycled node lends its storage to the decode.
  std::unique_ptr<PageNode> node = cache_.TakeNodeToRead(ReadFormSizeOf(block, len));
  node->Address = address;
  if (int check = DecodePage(block, len, node.get(), cache_.spare_records()); check != 0) {
    Corruption(check);
  }
  return cache_.Add(std::move(node));
}

PageNode* Pager::DescendThrough(int32_t address, Bytes key, bool leaf, size_t* index,
                                int32_t* child, LeafRun* run) {
  if (PageNode* hit = cache_.Find(address)) return hit;
  if (address < 0) return GetPage(address);
  if (leaf) {
    if (run == nullptr) return GetPage(address);
    LeafSeen& seen =
        leaves_seen_[(static_cast<uint32_t>(address) * 0x9E3779B1u) >> (32 - kLeafSlotBits)];
    if (seen.address == address &&
        static_cast<uint32_t>(leaves_searched_) - seen.when < options_.cache.max_pages) {
      return GetPage(address);
    }
    const int size_class = header_.ClassOf(address);
    if (size_class == 0) return GetPage(address);  // reports the check
    const size_t len = static_cast<size_t>(size_class) * kUnit;
    const uint8_t* block = ReadPageBlock(address, len);
    // An inner page (the leaf depth was guessed wrong) or damage: decoded,
    // which reports the damage.
    if (!FindInLeafBlock(block, len, key, &leaf_search_, run)) return GetPage(address);
    seen = {address, static_cast<uint32_t>(leaves_searched_)};
    ++leaves_searched_;
    *index = run->index;
    return nullptr;
  }
  for (int32_t searched : searched_) {
    if (searched == address) return GetPage(address);
  }
  const int size_class = header_.ClassOf(address);
  if (size_class == 0) return GetPage(address);  // reports the check
  const size_t len = static_cast<size_t>(size_class) * kUnit;
  const uint8_t* block = ReadPageBlock(address, len);
  if (!FindChildInBlock(block, len, key, &child_search_, index, child)) return GetPage(address);
  ++pages_searched_;
  searched_[searched_next_] = address;
  searched_next_ = (searched_next_ + 1) % kSearchedKept;
  return nullptr;
}

const uint8_t* Pager::ReadPageBlock(int32_t address, size_t len) {
  const uint64_t home = PageOffset(address);
  if (hold_changes_ && home >= committed_.CommittedEnd) ++held_reloads_;
  const uint8_t* block;
  if (shadow_map_.empty()) {
    // Committed pages are decoded straight from the file's mapping (once
    // the pager has read enough pages for it to pay). While a read goes
    // through the shadow map it reads with pread: another process may
    // complete or drop that update and cut the file under this one.
    block = ReadCommitted(home, len);
    if (block == nullptr) Corruption(kCheckShortTransfer);
  } else {
    uint64_t actual = home;
    if (auto it = shadow_map_.find(static_cast<uint32_t>(home)); it != shadow_map_.end()) {
      actual = it->second;
    }
    if (read_buffer_.size() < len) read_buffer_.resize(len);
    // A shadow is enciphered for where it lies, not for its home.
    ReadExact(file_.get(), actual, len, read_buffer_.data(), actual);
    block = read_buffer_.data();
  }
  return block;
}

PageNode* Pager::NewPage(uint8_t node_flag) {
  std::unique_ptr<PageNode> node = cache_.TakeNode(true);
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

int Pager::SizeClassOf(PageNode* node) {
  if (node->image_valid) return node->image_class;
  // While there is room the block is kept for the write, in storage reused
  // from one write-out to the next, so that each page is encoded once.
  // Past that room only the size is kept, and the block is built again when
  // it is written: a write-out of thousands of pages then holds no block per
  // page (their storage, first touched, cost more than the second encode).
  if (sized_blocks_ == nullptr) sized_blocks_.reset(new uint8_t[kSizedBytes]);
  if (sized_used_ + kMaxPageBytes <= kSizedBytes) {
    node->image_class = EncodeBlockInto(*node, sized_blocks_.get() + sized_used_);
    sized_at_[node] = sized_used_;
    sized_used_ += static_cast<size_t>(node->image_class) * kUnit;
  } else {
    node->image_class = EncodeBlock(*node, &block_);
    sized_at_.erase(node);
  }
  node->Image.clear();
  node->image_valid = true;
  return node->image_class;
}

const uint8_t* Pager::SizedBlock(const PageNode* node) const {
  if (!node->image_valid) return nullptr;
  auto it = sized_at_.find(node);
  return it == sized_at_.end() ? nullptr : sized_blocks_.get() + it->second;
}

bool Pager::PutPage(PageNode* node, int mode) {
  const int size_class = SizeClassOf(node);
  ResizePage(node, size_class);
  if (mode == 0) return true;
  const uint64_t home = PageOffset(node->Address);
  const size_t size = static_cast<size_t>(size_class) * kUnit;
  const uint8_t* sized = node->Image.empty() ? SizedBlock(node) : nullptr;
  // Protected: the home slot still holds the committed page, so the block
  // goes to the shadow area, and the node keeps it (still dirty) until it
  // is copied home.
  if (home < committed_.CommittedEnd) {
    if (sized != nullptr) {
      node->Image.assign(sized, sized + size);
    } else if (node->Image.empty() && EncodeBlock(*node, &node->Image) != size_class) {
      Corruption(kCheckStoredSize);
    }
    if (node->Image.size() != size) Corruption(kCheckStoredSize);
    PatchBlock(*node, home, node->Image.data());
    if (!Queue(&shadow_run_, working_end_, node->Image.data(), size, nullptr)) return false;
    shadows_.push_back({static_cast<uint32_t>(home), static_cast<uint32_t>(working_end_),
                        static_cast<uint32_t>(size)});
    working_end_ += size;
    ++stats_.shadow_pages;
    return true;
  }
  // In place: the block sized for it, or one encoded now beside the other
  // blocks of its run, in storage kept from one write-out to the next.
  uint8_t* block = const_cast<uint8_t*>(sized);
  if (block == nullptr) {
    if (run_blocks_ == nullptr) run_blocks_.reset(new uint8_t[kRunBytes + kMaxPageBytes]);
    if (run_used_ > kRunBytes) {
      if (!WriteRun(&home_run_)) return false;
      run_used_ = 0;
    }
    block = run_blocks_.get() + run_used_;
    if (node->Image.empty()) {
      if (EncodeBlockInto(*node, block) != size_class) Corruption(kCheckStoredSize);
    } else {
      if (node->Image.size() != size) Corruption(kCheckStoredSize);
      std::memcpy(block, node->Image.data(), size);
    }
    run_used_ += size;
  }
  PatchBlock(*node, home, block);
  ++stats_.in_place_pages;
  return Queue(&home_run_, home, block, size, node);
}

bool Pager::Queue(Run* run, uint64_t offset, const uint8_t* data, size_t size, PageNode* written) {
  if (!run->pieces.empty() && run->end != offset && !WriteRun(run)) return false;
  if (run->pieces.empty()) run->start = run->end = offset;
  run->pieces.push_back({data, size});
  run->end += size;
  if (written != nullptr) run->written.push_back(written);
  return true;
}

bool Pager::WriteRun(Run* run) {
  if (run->pieces.empty()) return file_->failed_errno() == 0;
  ++stats_.runs;
  const bool ok = WriteBlocks(file_.get(), run->start, run->pieces.data(), run->pieces.size());
  if (ok) {
    // Written home: the records are the page's form in memory from now on.
    for (PageNode* node : run->written) {
      node->Image.clear();
      node->Image.shrink_to_fit();
      node->image_valid = false;
      cache_.MarkClean(node);
    }
  }
  run->pieces.clear();
  run->written.clear();
  return ok;
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
  // repeat until every dirty page sits in the zone of its size. Each round
  // takes every page that needs a slot out of its old one first, then makes
  // room for all of them at once (PlaceAll).
  std::vector<std::pair<PageNode*, int>>& homeless = placing_;
  for (;;) {
    homeless.clear();
    for (PageNode* node : cache_.DirtyNodes()) {
      const int size_class = SizeClassOf(node);
      if (node->Address >= 0 && header_.ClassOf(node->Address) == size_class) continue;
      homeless.emplace_back(node, size_class);
    }
    if (homeless.empty()) return true;
    for (auto& [node, size_class] : homeless) {
      if (node->Address < 0) continue;
      // Out of a zone of the wrong size: its slot is filled from that
      // zone's end.
      const int32_t old = node->Address;
      MovePage(old, --next_negative_);
      FreePage(old);
    }
    PlaceAll(homeless);
    if (header_.ZoneEnd[header_.HighestZone()] > kMaxAddress) return false;
  }
}

void Pager::PlaceAll(const std::vector<std::pair<PageNode*, int>>& pages) {
  // The pages wanted per class, and the zones that make room for them: zone
  // i keeps its pages and grows by its new ones. Built from the bottom up, a
  // zone that must start higher moves by whole pages of its class (its
  // first pages go to its end) or, when it moves by more than it holds,
  // every page moves; a zone with no pages simply starts higher.
  uint32_t wanted[kZoneCount] = {};
  for (const auto& [node, size_class] : pages) ++wanted[size_class];
  uint32_t start[kZoneCount] = {};
  uint32_t end[kZoneCount] = {};
  uint32_t floor = 0;
  for (int i = 1; i <= kMaxClass; ++i) {
    const uint32_t units = static_cast<uint32_t>(i);
    uint32_t s = header_.ZoneStart[i];
    if (s < floor) {
      s = header_.PagesIn(i) == 0 ? floor : s + (floor - s + units - 1) / units * units;
    }
    start[i] = s;
    end[i] = s + (header_.PagesIn(i) + wanted[i]) * units;
    floor = end[i];
  }
  // Moves run from the top zone down: each lands in room that the zones
  // above it have already left.
  for (int i = kMaxClass; i >= 1; --i) {
    const uint32_t units = static_cast<uint32_t>(i);
    const uint32_t old_start = header_.ZoneStart[i];
    const uint32_t old_end = header_.ZoneEnd[i];
    const uint32_t pages = header_.PagesIn(i);
    const uint32_t shift = start[i] - old_start;
    if (pages > 0 && shift > 0) {
      const uint32_t moving = shift / units;
      MovePages(old_start, moving < pages ? old_end : start[i], std::min(pages, moving), units);
    }
    header_.ZoneStart[i] = start[i];
    header_.ZoneEnd[i] = start[i] + pages * units;
  }
  // The new pages take the slots at the zones' ends.
  for (const auto& [node, size_class] : pages) {
    const uint32_t slot = header_.ZoneEnd[size_class];
    header_.ZoneEnd[size_class] += static_cast<uint32_t>(size_class);
    MovePage(node->Address, static_cast<int32_t>(slot));
  }
  header_dirty_ = true;
}

bool Pager::WritePages() {
  std::vector<PageNode*> dirty = cache_.DirtyNodes();
  // In address order, so the writes go out sequentially.
  std::sort(dirty.begin(), dirty.end(),
            [](const PageNode* a, const PageNode* b) { return a->Address < b->Address; });
  bool ok = true;
  for (PageNode* node : dirty) {
    if (!(ok = PutPage(node, 1))) break;
  }
  // Whatever is queued goes out (or is dropped after a failure: the caller
  // rolls back).
  ok = WriteRun(&home_run_) && ok;
  ok = WriteRun(&shadow_run_) && ok;
  return ok;
}

int Pager::FailFlush(int err) {
  PostErrno(err == 0 ? EIO : err);
  return kFileSystemError;
}

int Pager::Flush() {
  if (!HasChanges() || hold_changes_) return 0;
  if (prepared_) return ApplyCommit();
  if (int rc = Prepare(false); rc != 0) return rc;
  return prepared_ ? ApplyCommit() : 0;
}

int Pager::PrepareCommit() {
  if (prepared_) return 0;
  return Prepare(true);
}

bool Pager::PlaceAndPack() {
  // Blocks kept from an earlier sizing are dropped (their pages are encoded
  // again when written); their runs are written or dropped by now.
  sized_used_ = 0;
  sized_at_.clear();
  FreeQueued();
  // Packing can move a page written by another encoder whose new encoding
  // needs another zone, so place and pack until nothing moves.
  for (;;) {
    if (!PlacePages()) return false;
    PackZones();
    bool placed = true;
    for (PageNode* node : cache_.DirtyNodes()) {
      if (!node->image_valid || node->Address < 0 ||
          header_.ClassOf(node->Address) != node->image_class) {
        placed = false;
        break;
      }
    }
    if (placed) return true;
  }
}

bool Pager::WriteFirstHeader() {
  uint64_t length = 0;
  if (!file_->Size(&length).ok() || length != 0) return true;
  // A new file gets its empty header first, durably: a death during its
  // first commit must leave a file that opens (empty), never one whose
  // pages lie behind a header that was not written.
  uint8_t empty[kHeaderBytes];
  EncodeHeader(committed_, empty);
  return WriteBlock(file_.get(), 0, kHeaderBytes, empty) && Sync();
}

void Pager::SpillHeld() {
  if (!hold_changes_ || prepared_ || read_only() || broken_ || file_->failed_errno() != 0) return;
  if (held_limit_ == 0) held_limit_ = options_.max_held_pages;
  if (cache_.dirty_count() <= spill_floor_ + held_limit_) return;
  const CommitStats kept = stats_;
  home_run_ = Run();
  // Placed as a commit would place them, so that every page has its
  // address in the zones the commit will write (header_ in memory; the
  // header on disk still describes the committed file).
  if (!PlaceAndPack() || !WriteFirstHeader()) {
    spill_floor_ = cache_.dirty_count();
    stats_ = kept;
    return;
  }
  // Writing early pays while the pages written stay written. A transaction
  // that reads them back (to change them again) as often as half as many as
  // the last spill wrote holds four times as many pages before it writes
  // early again: few spills from then on. The pages just placed stay in
  // memory until then. Its memory stays bounded: past most_held_pages it
  // writes early again whatever it reads back. (Leaves that placing moves
  // are not read back: they move as their stored blocks.)
  const size_t most = std::max(options_.most_held_pages, options_.max_held_pages);
  if (last_spill_ > 0 && held_reloads_ * 2 > last_spill_ && held_limit_ < most) {
    held_limit_ = std::min(held_limit_ * 4, most);
    last_spill_ = 0;
    held_reloads_ = 0;
    stats_ = kept;
    return;
  }
  // Only pages whose homes lie past the committed end: nothing committed
  // lives there, so writing them changes nothing a reader, a rollback or a
  // recovery sees. The rest wait for the commit's shadows.
  const uint64_t committed_end = committed_.CommittedEnd;
  std::vector<PageNode*> early;
  for (PageNode* node : cache_.DirtyNodes()) {
    if (PageOffset(node->Address) >= committed_end) early.push_back(node);
  }
  std::sort(early.begin(), early.end(),
            [](const PageNode* a, const PageNode* b) { return a->Address < b->Address; });
  bool ok = true;
  for (PageNode* node : early) {
    if (!(ok = PutPage(node, 1))) break;
  }
  // A failed write leaves its pages dirty in memory and the file in the
  // failed state: the transaction's COMMIT then fails and rolls back.
  if (WriteRun(&home_run_) && ok) spilled_pages_ += early.size();
  stats_ = kept;
  last_spill_ = early.size();
  held_reloads_ = 0;
  // Pages that must wait do not make every later operation try again.
  spill_floor_ = cache_.dirty_count();
  // The pages written count against the cache's limits from now on.
  cache_.Trim();
}

void Pager::ResetSpill() {
  spill_floor_ = 0;
  held_limit_ = 0;
  last_spill_ = 0;
  held_reloads_ = 0;
}

int Pager::Prepare(bool transactional) {
  stats_ = CommitStats();
  // Runs left by a write-out that a corruption check ended hold nothing
  // that may still be written.
  home_run_ = Run();
  shadow_run_ = Run();
  if (read_only() || broken_) return FailFlush(EBADF);
  if (file_->failed_errno() != 0) return FailFlush(file_->failed_errno());
  if (!PlaceAndPack()) return FailFlush(EFBIG);
  if (!file_->Point("before-write-pages")) return FailFlush(file_->failed_errno());

  const uint64_t committed_end = committed_.CommittedEnd;
  bool needs_shadow = transactional;
  for (PageNode* node : cache_.DirtyNodes()) {
    if (PageOffset(node->Address) < committed_end) needs_shadow = true;
  }
  shadows_.clear();
  if (!WriteFirstHeader()) return FailFlush(file_->failed_errno());
  shadow_start_ = std::max<uint64_t>(committed_end, header_.ComputedEnd());
  working_end_ = shadow_start_;
  if (!WritePages()) return FailFlush(file_->failed_errno());
  if (!file_->Point("before-commit-header")) return FailFlush(file_->failed_errno());
  if (!needs_shadow) {
    // Every page went past the committed end, where nothing committed
    // lives: the header alone switches to the new state.
    if (int err = CommitHeader(); err != 0) return FailFlush(err);
    return 0;
  }

  // 4a: the new header, last in the shadow area.
  PlxHeader shadow_header = header_;
  shadow_header.HomeOffset = 0;
  shadow_header.RootPage = has_root_ ? static_cast<uint32_t>(root_) : 0;
  shadow_header.CommittedEnd = static_cast<uint32_t>(shadow_start_);
  shadow_header.WorkingEnd = static_cast<uint32_t>(working_end_ + kHeaderBytes);
  uint8_t block[kHeaderBytes];
  EncodeHeader(shadow_header, block);
  if (!WriteBlock(file_.get(), working_end_, kHeaderBytes, block)) {
    return FailFlush(file_->failed_errno());
  }
  working_end_ += kHeaderBytes;
  // 4b: shadows durable before the mark can point at them.
  if (!Sync()) return FailFlush(file_->failed_errno());
  if (!file_->Point("before-mark")) return FailFlush(file_->failed_errno());
  // 4c: the mark keeps the committed header and names the shadow area.
  PlxHeader mark = committed_;
  mark.HomeOffset = 0;
  mark.CommittedEnd = static_cast<uint32_t>(shadow_start_);
  mark.WorkingEnd = static_cast<uint32_t>(working_end_);
  EncodeHeader(mark, block);
  if (!WriteBlock(file_.get(), 0, kHeaderBytes, block)) return FailFlush(file_->failed_errno());
  // 4d: the mark durable before any home is overwritten.
  if (!Sync()) return FailFlush(file_->failed_errno());
  prepared_ = true;
  return 0;
}

int Pager::ApplyCommit() {
  if (!prepared_) return 0;
  if (!file_->Point("before-apply")) return FailFlush(file_->failed_errno());
  home_run_ = Run();
  // 5a: each shadow home, from the image the node still holds.
  // The shadows lie in address order, so homes next to each other go out
  // in one write.
  for (const Shadow& shadow : shadows_) {
    const int32_t address = static_cast<int32_t>((shadow.home - kHeaderBytes) / kUnit);
    PageNode* node = cache_.Find(address);
    bool ok;
    if (node != nullptr && node->image_valid && node->Image.size() == shadow.size) {
      ok = Queue(&home_run_, shadow.home, node->Image.data(), shadow.size, nullptr);
    } else {
      ok = WriteRun(&home_run_) && CopyHome(shadow);
    }
    if (!ok) return FailFlush(file_->failed_errno());
  }
  if (!WriteRun(&home_run_)) return FailFlush(file_->failed_errno());
  if (!file_->Point("before-final-header")) return FailFlush(file_->failed_errno());
  // 5b: homes durable, header, header durable, shadows cut away.
  if (int err = CommitHeader(); err != 0) return FailFlush(err);
  for (PageNode* node : cache_.DirtyNodes()) {
    node->Image.clear();
    node->Image.shrink_to_fit();
    node->image_valid = false;
    cache_.MarkClean(node);
  }
  // The pages just written are clean now and count against the cache's
  // limits. Trimming otherwise happens only before a page is loaded, so a
  // bulk load followed by reads that all hit would keep every page cached
  // and make each lookup walk long hash chains.
  cache_.Trim();
  shadows_.clear();
  prepared_ = false;
  return 0;
}

int Pager::AbandonCommit() {
  if (!prepared_) {
    Rollback();
    return 0;
  }
  prepared_ = false;
  shadows_.clear();
  cache_.Clear();
  free_queue_.clear();
  shadow_map_.clear();
  ++layout_version_;
  header_ = committed_;
  has_root_ = !header_.NoPages();
  root_ = has_root_ ? static_cast<int32_t>(header_.RootPage) : 0;
  const int err = CommitHeader();
  if (err != 0) {
    // The mark stays on disk; the next open asks the control file again.
    Rollback();
    return FailFlush(err);
  }
  return 0;
}

int Pager::MaybeSpill() {
  if (hold_changes_ || cache_.dirty_count() <= options_.max_dirty_pages) return 0;
  return Flush();
}

void Pager::Rollback() {
  // A prepared update is left to the next open's recovery: its mark is on
  // disk, and only the caller knows whether its transaction committed.
  prepared_ = false;
  ResetSpill();
  shadows_.clear();
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
