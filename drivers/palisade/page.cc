// Page nodes: size bookkeeping, search, and the block codec.

#include "drivers/palisade/page.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "drivers/palisade/format.h"
#include "drivers/palisade/rle.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {

size_t PageNode::Overhead() const {
  return kPageHeaderBytes + (IsInner() ? kChildBytes * RecordCount() : 0);
}

size_t PageNode::EncodedAt(size_t pos) const {
  return EncodedSize(records_[pos], pos == 0 ? nullptr : &records_[pos - 1]);
}

size_t PageNode::ComputePlainSize() const {
  size_t size = Overhead();
  if (read_form_) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      const RecordView prev = i == 0 ? RecordView{} : At(i - 1);
      size += EncodedSize(At(i), i == 0 ? nullptr : &prev);
    }
    return size;
  }
  for (size_t i = 0; i < records_.size(); ++i) size += EncodedAt(i);
  return size;
}

std::vector<PlxRecord>& PageNode::Records() {
  if (read_form_) Materialize();
  return records_;
}

void PageNode::Materialize() {
  // records_ is empty in the read form: the decode gave its records away.
  records_.reserve(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    const RecordView v = At(i);
    PlxRecord rec = pool_ != nullptr ? pool_->Take(v.Length()) : PlxRecord();
    rec.bytes.clear();
    rec.bytes.insert(rec.bytes.end(), v.key_bytes.begin(), v.key_bytes.end());
    rec.bytes.insert(rec.bytes.end(), v.payload_bytes.begin(), v.payload_bytes.end());
    rec.key_length = static_cast<uint16_t>(v.KeyLength());
    rec.child = v.child;
    records_.push_back(std::move(rec));
  }
  // area_ and keys_ keep their bytes: views taken before stay readable.
  entries_.clear();
  read_form_ = false;
}

void PageNode::GiveRecords(RecordPool* pool) {
  image_valid = false;
  if (pool != nullptr) {
    for (PlxRecord& rec : records_) pool->Give(std::move(rec));
  }
  records_.clear();
  entries_.clear();
  read_form_ = false;
  ResetPlainSize();
}

size_t PageNode::KeysRoom(size_t len, size_t count) {
  // Each record puts at most its length there, and takes at least its
  // length less kMaxShared bytes of the area; and the last key's words may
  // reach kCopySlack bytes past its end.
  return len + kMaxShared * count + kCopySlack;
}

size_t PageNode::AreaRoom(size_t len) {
  return len + kCopySlack;
}

uint8_t* PageNode::area_storage(size_t len) {
  // Grown without keeping its bytes: it is about to be overwritten.
  return area_.Fit(AreaRoom(len));
}

namespace {

// Copies bytes [from, to) of the record `v` (key then payload) to `out`.
void CopyRange(const RecordView& v, size_t from, size_t to, uint8_t* out) {
  const size_t k = v.key_bytes.size();
  if (from < k) {
    const size_t n = std::min(to, k) - from;
    std::memcpy(out, v.key_bytes.data() + from, n);
    out += n;
    from = k;
  }
  if (to > from) std::memcpy(out, v.payload_bytes.data() + (from - k), to - from);
}

}  // namespace

int PageNode::ReadRecordArea(const uint8_t* in, size_t len, size_t count, RecordPool* pool) {
  GiveRecords(pool);
  pool_ = pool;
  // A count beyond what the bytes could hold is damage; do not reserve for it.
  if (count > len) return kCheckParseLength;
  if (len > 0 && in != area_.data()) std::memcpy(area_storage(len), in, len);
  const uint8_t* a = area_.data();
  // What a record puts in keys_ (its key, and its payload when that is not
  // one run of the area) is at most its length, and it takes at least its
  // length less kMaxShared bytes of the area: so the room is sized once,
  // and the pass below never grows it (offsets would survive that, but the
  // pointers it keeps would not).
  const size_t room = KeysRoom(len, count);
  uint8_t* keys = keys_.Fit(room);
  // A key whose shared bytes and own bytes are 16 or fewer each (most keys
  // of a key page) is put together in words: two loaded from where they
  // lie, then stored. They may read past what they need, inside the
  // storage (kCopySlack), and write past the key, where the next key or
  // payload goes after; loading both first keeps a copy from a key just
  // before correct when the two overlap.
  auto copy16 = [](uint8_t* to, const uint8_t* from) {
    uint64_t w[2];
    std::memcpy(w, from, 16);
    std::memcpy(to, w, 16);
  };
  size_t used = 0;
  if (entries_.capacity() < count) entries_.reserve(std::bit_ceil(count));
  size_t prev_length = 0, prev_key_length = 0;
  size_t encoded = 0;  // the record area as EncodeRecord would write it
  size_t pos = 0;
  auto fail = [this](int check) {
    entries_.clear();
    ResetPlainSize();
    return check;
  };
  for (size_t i = 0; i < count; ++i) {
    RecordHead head;
    if (int check = ReadRecordHead(a, len, &pos, i, prev_length, prev_key_length, &head)) {
      return fail(check);
    }
    const size_t shared = head.shared;
    const size_t length = head.length;
    const size_t key_length = head.key_length;
    const size_t rest = length - shared;
    const uint8_t* own = a + pos;  // the bytes after the shared ones
    const RecordView prev = i == 0 ? RecordView{} : ViewOf(entries_.back());

    Entry e;
    e.key_at = static_cast<uint32_t>(used);
    e.key_length = static_cast<uint16_t>(key_length);
    e.payload_length = static_cast<uint16_t>(length - key_length);
    e.child = 0;
    uint8_t* key = keys + used;
    if (shared <= 16 && key_length > shared && key_length - shared <= 16 &&
        shared <= prev.key_bytes.size()) {
      if (shared > 0) copy16(key, prev.key_bytes.data());
      copy16(key + shared, own);
    } else if (key_length <= shared) {
      CopyRange(prev, 0, key_length, key);
    } else {
      CopyRange(prev, 0, shared, key);
      std::memcpy(key + shared, own, key_length - shared);
    }
    used += key_length;
    if (key_length >= shared) {
      e.payload_at = static_cast<uint32_t>(pos + key_length - shared);
      e.payload_in_keys = false;
    } else {
      // The payload begins inside the shared bytes: put it together.
      e.payload_at = static_cast<uint32_t>(used);
      e.payload_in_keys = true;
      CopyRange(prev, key_length, shared, keys + used);
      std::memcpy(keys + used + (shared - key_length), own, rest);
      used += length - key_length;
    }
    entries_.push_back(e);

    if (i == 0) {
      encoded += 5 + length;
    } else {
      // The tree's search relies on strictly ascending keys within a page.
      // Where the keys first differ also gives the prefix the encoder would
      // share, unless one key begins the other.
      const Bytes prev_key = prev.key();
      const size_t both = std::min(prev_key_length, key_length);
      const size_t d = FirstDifference(prev_key.data(), key, std::min(shared, both), both);
      size_t common;
      if (d < both) {
        if (prev_key[d] > key[d]) return fail(kCheckParseLength);
        common = std::min(d, kMaxShared);
      } else {
        if (prev_key_length >= key_length) return fail(kCheckParseLength);
        common = SharedPrefix(ViewOf(entries_.back()), prev);
      }
      encoded += 1 + length - common;
      if (length != prev_length) encoded += 2;
      if (key_length != prev_key_length) encoded += 2;
    }
    pos += rest;
    prev_length = length;
    prev_key_length = key_length;
  }
  if (pos != len) return fail(kCheckParseLength);
  read_form_ = true;
  plain_size_ = Overhead() + encoded;
  return 0;
}

void PageNode::Insert(size_t pos, PlxRecord rec) {
  std::vector<PlxRecord>& records = Records();
  image_valid = false;
  if (pos < records.size()) plain_size_ -= EncodedAt(pos);
  records.insert(records.begin() + static_cast<std::ptrdiff_t>(pos), std::move(rec));
  plain_size_ += EncodedAt(pos) + (IsInner() ? kChildBytes : 0);
  if (pos + 1 < records.size()) plain_size_ += EncodedAt(pos + 1);
  if (plain_size_ > Capacity) Capacity = static_cast<uint32_t>(plain_size_);
}

void PageNode::Replace(size_t pos, PlxRecord rec) {
  std::vector<PlxRecord>& records = Records();
  image_valid = false;
  plain_size_ -= EncodedAt(pos);
  if (pos + 1 < records.size()) plain_size_ -= EncodedAt(pos + 1);
  records[pos] = std::move(rec);
  plain_size_ += EncodedAt(pos);
  if (pos + 1 < records.size()) plain_size_ += EncodedAt(pos + 1);
  if (plain_size_ > Capacity) Capacity = static_cast<uint32_t>(plain_size_);
}

PlxRecord PageNode::Erase(size_t pos) {
  std::vector<PlxRecord>& records = Records();
  image_valid = false;
  plain_size_ -= EncodedAt(pos) + (IsInner() ? kChildBytes : 0);
  if (pos + 1 < records.size()) plain_size_ -= EncodedAt(pos + 1);
  PlxRecord rec = std::move(records[pos]);
  records.erase(records.begin() + static_cast<std::ptrdiff_t>(pos));
  if (pos < records.size()) plain_size_ += EncodedAt(pos);
  return rec;
}

void PageNode::MoveTailTo(size_t from, PageNode* dest) {
  std::vector<PlxRecord>& records = Records();
  std::vector<PlxRecord>& to = dest->Records();
  image_valid = false;
  dest->image_valid = false;
  for (size_t i = from; i < records.size(); ++i) to.push_back(std::move(records[i]));
  records.resize(from);
  ResetPlainSize();
  dest->ResetPlainSize();
  if (dest->plain_size_ > dest->Capacity) dest->Capacity = static_cast<uint32_t>(dest->plain_size_);
}

void PageNode::Clear() {
  Records().clear();
  image_valid = false;
  ResetPlainSize();
}

size_t PageNode::LowerBound(Bytes key) const {
  size_t lo = 0, hi = RecordCount();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CompareKeys(KeyAt(mid), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

size_t PageNode::ChildIndex(Bytes key) const {
  // First separator greater than key, minus one.
  size_t lo = 0, hi = RecordCount();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CompareKeys(KeyAt(mid), key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo == 0 ? 0 : lo - 1;
}

int EncodePage(PageNode* node) {
  const int size_class = EncodeBlock(*node, &node->Image);
  node->image_valid = true;
  node->image_class = size_class;
  return size_class;
}

namespace {

// The block of `node` written at `raw` when it is given (room for
// kMaxPageBytes), else at (*out)[base] with *out resized to end with it.
int EncodeBlockAt(const PageNode& node, std::vector<uint8_t>* out, size_t base, uint8_t* raw) {
  const size_t count = node.RecordCount();
  const size_t head = kPageHeaderBytes + (node.IsInner() ? kChildBytes * count : 0);
  const size_t plain = node.PlainSize();
  if (plain > node.Capacity) Corruption(kCheckOverCapacity);
  if (plain > 0xFFFF) Corruption(kCheckPageTooLarge);

  // The plain page and its packed form are built in storage kept for the
  // thread (a write-out encodes thousands of pages, each several times the
  // size of its block); the node keeps only the stored block.
  thread_local std::vector<uint8_t> plain_image;
  thread_local std::vector<uint8_t> packed;
  // Every byte of the record area is written below; the header part of
  // the plain image is never read.
  if (plain_image.size() < plain) plain_image.resize(plain);
  uint8_t* area = plain_image.data() + head;
  if (node.in_read_form()) {
    RecordView prev;
    for (size_t i = 0; i < count; ++i) {
      const RecordView rec = node.At(i);
      area += EncodeRecord(rec, i == 0 ? nullptr : &prev, area);
      prev = rec;
    }
  } else {
    const PlxRecord* prev = nullptr;
    for (const PlxRecord& rec : node.owned_records()) {
      area += EncodeRecord(rec, prev, area);
      prev = &rec;
    }
  }
  if (static_cast<size_t>(area - plain_image.data()) != plain) Corruption(kCheckOverCapacity);

  size_t stored = plain;
  const uint8_t* body = plain_image.data() + head;
  if (packed.size() < RleEncodeBound(plain - head)) packed.resize(RleEncodeBound(plain - head));
  const size_t packed_len = RleEncodeInto(plain_image.data() + head, plain - head, packed.data());
  if (packed_len != 0 && RoundUpToUnit(head + packed_len) < RoundUpToUnit(plain)) {
    stored = head + packed_len;
    body = packed.data();
  }
  const size_t rounded = RoundUpToUnit(stored);
  if (rounded > kMaxPageBytes) Corruption(kCheckPageTooLarge);
  uint8_t* image = raw;
  if (image == nullptr) {
    out->resize(base + rounded);
    image = out->data() + base;
  }
  std::memset(image, 0, head);
  std::memcpy(image + head, body, stored - head);
  std::memset(image + stored, kPadByte, rounded - stored);

  StoreU32(image + kPgHomeOffset, 0);
  StoreU16(image + kPgStoredSize, static_cast<uint16_t>(stored));
  StoreU16(image + kPgPlainSize, static_cast<uint16_t>(plain));
  StoreU16(image + kPgCapacity, static_cast<uint16_t>(std::min<uint32_t>(node.Capacity, 0xFFFF)));
  StoreU16(image + kPgRecordCount, static_cast<uint16_t>(count));
  image[kPgNodeFlag] = node.NodeFlag;
  PatchBlock(node, 0, image);
  return static_cast<int>(rounded / kUnit);
}

}  // namespace

int EncodeBlock(const PageNode& node, std::vector<uint8_t>* block) {
  return EncodeBlockAt(node, block, 0, nullptr);
}

int EncodeBlockInto(const PageNode& node, uint8_t* out) {
  return EncodeBlockAt(node, nullptr, 0, out);
}

void PatchImage(PageNode* node, uint64_t home_offset) {
  PatchBlock(*node, home_offset, node->Image.data());
}

void PatchBlock(const PageNode& node, uint64_t home_offset, uint8_t* image) {
  StoreU32(image + kPgHomeOffset, static_cast<uint32_t>(home_offset));
  if (node.IsInner()) {
    uint8_t* child = image + kPageHeaderBytes;
    for (size_t i = 0; i < node.RecordCount(); ++i) {
      StoreU32(child, static_cast<uint32_t>(node.ChildAt(i)));
      child += kChildBytes;
    }
  }
}

ReadFormSize ReadFormSizeOf(const uint8_t* block, size_t block_len) {
  ReadFormSize size;
  if (block_len < kPageHeaderBytes) return size;
  size.count = LoadU16(block + kPgRecordCount);
  const size_t head = kPageHeaderBytes + (block[kPgNodeFlag] != 0 ? kChildBytes * size.count : 0);
  const size_t plain = LoadU16(block + kPgPlainSize);
  size.area = plain > head ? plain - head : 0;
  return size;
}

int DecodePage(const uint8_t* block, size_t block_len, PageNode* node, RecordPool* pool) {
  if (block_len < kPageHeaderBytes) return kCheckStoredSize;
  const size_t stored = LoadU16(block + kPgStoredSize);
  const size_t plain = LoadU16(block + kPgPlainSize);
  const size_t count = LoadU16(block + kPgRecordCount);
  const uint8_t flag = block[kPgNodeFlag];
  if (RoundUpToUnit(stored) != block_len) return kCheckStoredSize;
  const size_t head = kPageHeaderBytes + (flag != 0 ? kChildBytes * count : 0);
  // The header and child array are never compressed, so both sizes cover them.
  if (stored < head || plain < head || stored > plain) return kCheckParseLength;

  node->NodeFlag = flag;
  node->image_valid = false;
  int check;
  if (stored < plain) {
    // Expanded into the node's own storage, which the read form keeps (a
    // recycled node brings storage already grown).
    node->GiveRecords(pool);
    uint8_t* area = node->area_storage(plain - head);
    check = RleDecode(block + head, stored - head, area, plain - head);
    if (check == 0) check = node->ReadRecordArea(area, plain - head, count, pool);
  } else {
    check = node->ReadRecordArea(block + head, plain - head, count, pool);
  }
  if (check != 0) return check;
  if (flag != 0) {
    const uint8_t* child = block + kPageHeaderBytes;
    for (size_t i = 0; i < count; ++i) {
      const uint32_t address = LoadU32(child);
      // Negative addresses exist only in memory; on disk one is damage.
      if (address > static_cast<uint32_t>(INT32_MAX)) return kCheckAddress;
      node->SetChild(i, static_cast<int32_t>(address));
      child += kChildBytes;
    }
  }
  node->Capacity =
      std::max<uint32_t>(LoadU16(block + kPgCapacity), static_cast<uint32_t>(node->PlainSize()));
  return 0;
}

}  // namespace qzr::palisade
