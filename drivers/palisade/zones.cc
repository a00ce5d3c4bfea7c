// Zone management of the pager: allocating, freeing, moving and resizing
// pages so that every zone stays dense, ordered and sized by its class.
//
// Zone i holds pages of i units. A page is allocated in the gap just below
// its zone when that gap is wide enough, otherwise at the zone's end after
// room has been made above it by shifting the zones above upward (a zone of
// several pages shifts by one page: its first page moves to its end; a zone
// of at most one page shifts by exactly the missing units). Freeing fills
// the slot with the zone's last page. PackZones closes the gaps again.
// Every move goes through MovePage, which repairs the page's one reference.
//
// A page that holds no change in memory and lands past the committed end
// moves as its stored block: read, its home offset set, written at its new
// place, its parent found from its first key; it is neither decoded nor
// made dirty, so it is not encoded and written again by the write-out. (A
// load's zones grow under the pages it wrote early: a 100k-entry import
// moves about 114,000 pages that way, four times as many as it writes.)
// Placing moves the first pages of a zone to its end a chunk at a time
// (MovePages). Below the committed end a page moves in memory, to be written
// as a shadow.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/palisade/format.h"
#include "drivers/palisade/pager.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {
namespace {

// Deeper than any tree of 15104-byte pages over a 4 GiB file: a walk that
// goes further is following a cycle.
constexpr int kMaxDepth = 48;

// Bytes of stored blocks MovePages reads and writes at a time.
constexpr size_t kMoveChunkBytes = size_t{1} << 20;

// Reads one count of a run-length stream at in[*pos] (as the decoder does).
bool GetCount(const uint8_t* in, size_t in_len, size_t* pos, size_t* value) {
  size_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (*pos >= in_len) return false;
    const uint8_t b = in[(*pos)++];
    v |= static_cast<size_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) {
      *value = v;
      return true;
    }
  }
  return false;
}

// The first `want` bytes that RleDecode would expand in[0, in_len) into;
// false when the stream breaks off or is damaged before them. Only what a
// page's first key needs is expanded, not its whole record area.
bool RlePrefix(const uint8_t* in, size_t in_len, uint8_t* out, size_t want) {
  size_t pos = 0, written = 0;
  for (;;) {
    if (written >= want) return true;
    size_t literal, repeat;
    if (!GetCount(in, in_len, &pos, &literal) || literal > in_len - pos) return false;
    const size_t take = std::min(literal, want - written);
    std::memcpy(out + written, in + pos, take);
    pos += literal;
    written += take;
    if (written >= want) return true;
    if (!GetCount(in, in_len, &pos, &repeat)) return false;
    if (repeat > 0) {
      if (written == 0) return false;
      const size_t fill = std::min(repeat, want - written);
      std::memset(out + written, out[written - 1], fill);
      written += fill;
    }
  }
}

// The key of the first record of a leaf's stored block of `len` bytes,
// which lies inside the page's range (KeyInside takes it from a decoded
// leaf), appended to `key`; `area` is room for the expanded bytes of a
// compressed block. False, with `key` as it was, when the block is not a
// sound leaf with a record as far as the key goes (the decode then reports
// the damage).
bool FirstKeyOfLeafBlock(const uint8_t* block, size_t len, std::vector<uint8_t>* area,
                         std::vector<uint8_t>* key) {
  if (len < kPageHeaderBytes) return false;
  const size_t stored = LoadU16(block + kPgStoredSize);
  const size_t plain = LoadU16(block + kPgPlainSize);
  if (block[kPgNodeFlag] != 0 || LoadU16(block + kPgRecordCount) == 0 ||
      RoundUpToUnit(stored) != len || stored < kPageHeaderBytes || stored > plain) {
    return false;
  }
  const uint8_t* in = block + kPageHeaderBytes;
  const size_t in_len = stored - kPageHeaderBytes;
  const size_t n = plain - kPageHeaderBytes;
  constexpr size_t kPrefix = 5;  // flags, Length, KeyLength
  if (n < kPrefix) return false;
  const uint8_t* a = in;
  if (stored < plain) {
    if (area->size() < kPrefix + kMaxKeyLength) area->resize(kPrefix + kMaxKeyLength);
    if (!RlePrefix(in, in_len, area->data(), kPrefix)) return false;
    a = area->data();
  }
  // The first record carries its Length and KeyLength and shares nothing.
  constexpr uint8_t kBoth = kRecHasLength | kRecHasKeyLength;
  if ((a[0] & kBoth) != kBoth || (a[0] & kRecSharedMask) != 0) return false;
  const size_t length = LoadU16(a + 1);
  const size_t key_length = LoadU16(a + 3);
  if (length >= kRecordLengthBound || key_length > length || key_length > kMaxKeyLength ||
      n - kPrefix < length) {
    return false;
  }
  if (stored < plain && !RlePrefix(in, in_len, area->data(), kPrefix + key_length)) return false;
  key->insert(key->end(), a + kPrefix, a + kPrefix + key_length);
  return true;
}

}  // namespace

int32_t Pager::AllocatePage(int c) {
  if (c < 1 || c > kMaxClass) Corruption(kCheckShiftTooLarge);
  const uint32_t units = static_cast<uint32_t>(c);
  header_dirty_ = true;
  if (c > 1 && header_.ZoneStart[c] - header_.ZoneEnd[c - 1] >= units) {
    header_.ZoneStart[c] -= units;
    return static_cast<int32_t>(header_.ZoneStart[c]);
  }
  MakeRoomAbove(c, units);
  const uint32_t address = header_.ZoneEnd[c];
  header_.ZoneEnd[c] += units;
  return static_cast<int32_t>(address);
}

void Pager::MakeRoomAbove(int k, uint32_t n) {
  if (n > static_cast<uint32_t>(k)) Corruption(kCheckShiftTooLarge);
  if (k == kMaxClass) return;
  const int j = k + 1;
  const uint32_t gap = header_.ZoneStart[j] - header_.ZoneEnd[k];
  if (gap >= n) return;
  const uint32_t jj = static_cast<uint32_t>(j);
  if (header_.PagesIn(j) > 1) {
    // Shift by one whole page: the first page moves to the end.
    MakeRoomAbove(j, jj);
    MovePage(static_cast<int32_t>(header_.ZoneStart[j]), static_cast<int32_t>(header_.ZoneEnd[j]));
    header_.ZoneStart[j] += jj;
    header_.ZoneEnd[j] += jj;
  } else {
    const uint32_t d = n - gap;
    MakeRoomAbove(j, d);
    if (header_.PagesIn(j) == 1) {
      MovePage(static_cast<int32_t>(header_.ZoneStart[j]),
               static_cast<int32_t>(header_.ZoneStart[j] + d));
    }
    header_.ZoneStart[j] += d;
    header_.ZoneEnd[j] += d;
  }
}

void Pager::FreePage(int32_t address) {
  const int c = header_.ClassOf(address);
  if (c == 0) Corruption(kCheckAddress);
  const uint32_t units = static_cast<uint32_t>(c);
  const int32_t last = static_cast<int32_t>(header_.ZoneEnd[c] - units);
  if (last != address) MovePage(last, address);
  header_.ZoneEnd[c] -= units;
  header_dirty_ = true;
}

std::vector<uint8_t> Pager::KeyInside(PageNode* node, int depth) {
  if (depth > kMaxDepth) Corruption(kCheckParentNotFound);
  PinGuard pin(&cache_, node);
  if (node->empty()) Corruption(kCheckParentNotFound);
  if (!node->IsInner()) {
    Bytes k = node->KeyAt(0);
    return std::vector<uint8_t>(k.begin(), k.end());
  }
  if (node->RecordCount() >= 2) {
    Bytes k = node->KeyAt(1);
    return std::vector<uint8_t>(k.begin(), k.end());
  }
  // A single-entry inner page: its separator may be empty, so take a key
  // from below it.
  return KeyInside(GetPage(node->ChildAt(0)), depth + 1);
}

void Pager::MovePage(int32_t from, int32_t to) {
  PageNode* node = cache_.Find(from);
  if (node != nullptr) {
    // Pinned first: finding the parent may load pages and trim the cache.
    PinGuard pin(&cache_, node);
    // A page that holds no change in memory moves as its stored block.
    if (!node->dirty && MoveBlock(from, to, node)) return;
  } else if (MoveBlock(from, to, nullptr)) {
    return;
  } else {
    node = GetPage(from);
  }
  PinGuard pin(&cache_, node);
  if (has_root_ && root_ == from) {
    root_ = to;
    header_dirty_ = true;
  } else {
    std::vector<uint8_t> key_bytes = KeyInside(node, 0);
    RepairParent(from, to, Bytes(key_bytes.data(), key_bytes.size()));
  }
  cache_.Rekey(node, to);
  cache_.MarkDirty(node);
  ++layout_version_;
}

void Pager::RepairParent(int32_t from, int32_t to, Bytes key) {
  if (!has_root_) Corruption(kCheckParentNotFound);
  int32_t address = root_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) Corruption(kCheckParentNotFound);
    PageNode* parent = GetPage(address);
    if (!parent->IsInner()) Corruption(kCheckParentNotInner);
    if (parent->empty()) Corruption(kCheckParentNotFound);
    const size_t entry = parent->ChildIndex(key);
    if (parent->ChildAt(entry) == from) {
      // Only the child array changes: the encoded records stay valid.
      parent->SetChild(entry, to);
      cache_.MarkDirty(parent);
      return;
    }
    address = parent->ChildAt(entry);
  }
}

bool Pager::MoveBlock(int32_t from, int32_t to, PageNode* cached) {
  // Only where nothing committed lives (the page lands past the committed
  // end, which neither a reader nor a recovery looks at), and only while
  // every stored block can be read as it is (no shadow map).
  if (from < 0 || !CanMoveBlockTo(to)) return false;
  const int size_class = header_.ClassOf(from);
  if (size_class == 0) return false;  // GetPage reports the check
  const size_t len = static_cast<size_t>(size_class) * kUnit;
  const uint8_t* stored = ReadCommitted(PageOffset(from), len);
  if (stored == nullptr) return false;
  // Copied out first: the write below may change what a view of the file
  // shows, and a page must not be moved over itself.
  move_block_.assign(stored, stored + len);
  // The key that finds the page's parent: from the node when it is cached,
  // else the first key of a leaf's block. An inner page, or a block that
  // does not parse (the decode then reports it), moves the old way.
  if (!(has_root_ && root_ == from)) {
    if (cached != nullptr) {
      move_key_ = KeyInside(cached, 0);
    } else {
      move_key_.clear();
      if (!FirstKeyOfLeafBlock(move_block_.data(), len, &move_area_, &move_key_)) return false;
    }
  }
  StoreU32(move_block_.data() + kPgHomeOffset, static_cast<uint32_t>(PageOffset(to)));
  // A failed write leaves the page where it was (and the file in its
  // failed state): the caller moves it in memory instead, so that the rest
  // of the transaction still reads it, and the commit then fails.
  if (!WriteBlock(file_.get(), PageOffset(to), len, move_block_.data())) return false;
  if (has_root_ && root_ == from) {
    root_ = to;
    header_dirty_ = true;
  } else {
    RepairParent(from, to, Bytes(move_key_.data(), move_key_.size()));
  }
  if (cached != nullptr) cache_.Rekey(cached, to);
  ++blocks_moved_;
  ++layout_version_;
  return true;
}

void Pager::MovePages(uint32_t from, uint32_t to, uint32_t count, uint32_t units) {
  const size_t len = static_cast<size_t>(units) * kUnit;
  // Blocks read and written at a time: few system calls, little memory.
  const uint32_t per_chunk = static_cast<uint32_t>(std::max<size_t>(1, kMoveChunkBytes / len));
  struct Moving {
    uint32_t from;
    uint32_t to;
    size_t key_at;
    size_t key_length;
  };
  std::vector<Moving> moving;
  std::vector<uint32_t> single;  // indexes of pages moved one at a time
  std::vector<BlockPiece> pieces;
  for (uint32_t k = 0; k < count;) {
    const uint32_t n = std::min(per_chunk, count - k);
    const uint32_t a0 = from + k * units;
    const uint32_t b0 = to + k * units;
    moving.clear();
    single.clear();
    move_key_.clear();
    // Where blocks may be copied at all, the chunk's blocks are read in one
    // go, and each page that holds no change in memory and whose parent is
    // found from its first key moves as its block.
    bool copy = CanMoveBlockTo(static_cast<int32_t>(b0));
    if (copy) {
      if (move_block_.size() < n * len) move_block_.resize(n * len);
      copy = ReadBlock(file_.get(), PageOffset(a0), n * len, move_block_.data()) == n * len;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t a = a0 + i * units;
      const uint32_t b = b0 + i * units;
      const size_t key_at = move_key_.size();
      if (!copy || cache_.Find(static_cast<int32_t>(a)) != nullptr ||
          (has_root_ && root_ == static_cast<int32_t>(a)) ||
          !FirstKeyOfLeafBlock(move_block_.data() + i * len, len, &move_area_, &move_key_)) {
        single.push_back(i);
        continue;
      }
      StoreU32(move_block_.data() + i * len + kPgHomeOffset, static_cast<uint32_t>(PageOffset(b)));
      moving.push_back({a, b, key_at, move_key_.size() - key_at});
    }
    // Written in runs of consecutive slots; a failed write leaves every
    // page of the chunk where it was (no parent is repaired yet), and they
    // move in memory instead.
    bool written = true;
    for (size_t m = 0; m < moving.size() && written;) {
      size_t e = m;
      pieces.clear();
      while (e < moving.size() && (e == m || moving[e].to == moving[e - 1].to + units)) {
        pieces.push_back({move_block_.data() + (moving[e].from - a0) * kUnit, len});
        ++e;
      }
      written = WriteBlocks(file_.get(), PageOffset(moving[m].to), pieces.data(), pieces.size());
      m = e;
    }
    if (written) {
      for (const Moving& p : moving) {
        RepairParent(static_cast<int32_t>(p.from), static_cast<int32_t>(p.to),
                     Bytes(move_key_.data() + p.key_at, p.key_length));
        ++blocks_moved_;
      }
      if (!moving.empty()) ++layout_version_;
    } else {
      for (const Moving& p : moving) single.push_back((p.from - a0) / units);
    }
    for (uint32_t i : single) {
      MovePage(static_cast<int32_t>(a0 + i * units), static_cast<int32_t>(b0 + i * units));
    }
    k += n;
  }
}

bool Pager::CanMoveBlockTo(int32_t to) const {
  return to >= 0 && !read_only() && !broken_ && !prepared_ && shadow_map_.empty() &&
         file_->failed_errno() == 0 && PageOffset(to) >= committed_.CommittedEnd;
}

void Pager::ResizePage(PageNode* node, int size_class) {
  PinGuard pin(&cache_, node);
  if (node->Address >= 0) {
    if (header_.ClassOf(node->Address) == size_class) return;
    const int32_t old = node->Address;
    MovePage(old, --next_negative_);
    FreePage(old);
  }
  MovePage(node->Address, AllocatePage(size_class));
}

void Pager::PackZones() {
  for (int i = 2; i <= kMaxClass; ++i) {
    const uint32_t units = static_cast<uint32_t>(i);
    if (header_.PagesIn(i) <= 1) {
      const uint32_t target = header_.ZoneEnd[i - 1];
      if (header_.ZoneStart[i] == target) continue;
      if (header_.PagesIn(i) == 1) {
        MovePage(static_cast<int32_t>(header_.ZoneStart[i]), static_cast<int32_t>(target));
      }
      header_.ZoneEnd[i] = target + (header_.ZoneEnd[i] - header_.ZoneStart[i]);
      header_.ZoneStart[i] = target;
      header_dirty_ = true;
    } else {
      while (header_.ZoneStart[i] - header_.ZoneEnd[i - 1] >= units) {
        MovePage(static_cast<int32_t>(header_.ZoneEnd[i] - units),
                 static_cast<int32_t>(header_.ZoneStart[i] - units));
        header_.ZoneStart[i] -= units;
        header_.ZoneEnd[i] -= units;
        header_dirty_ = true;
      }
    }
  }
}

std::vector<std::string> Pager::CheckZones() const {
  std::vector<std::string> problems;
  std::string why;
  if (!header_.ZonesValid(&why)) problems.push_back("header: " + why);
  for (int i = 2; i <= kMaxClass; ++i) {
    if (header_.ZoneStart[i] != header_.ZoneEnd[i - 1] && header_.PagesIn(i) > 0 &&
        header_.ZoneStart[i] - header_.ZoneEnd[i - 1] >= static_cast<uint32_t>(i)) {
      problems.push_back("zone " + std::to_string(i) + " is not packed down");
    }
  }
  return problems;
}

}  // namespace qzr::palisade
