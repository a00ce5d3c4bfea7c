// Page nodes: size bookkeeping, search, and the block codec.

#include "drivers/palisade/page.h"

#include <algorithm>
#include <cstring>

#include "drivers/palisade/format.h"
#include "drivers/palisade/rle.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {

size_t PageNode::Overhead() const {
  return kPageHeaderBytes + (IsInner() ? kChildBytes * records.size() : 0);
}

size_t PageNode::EncodedAt(size_t pos) const {
  return EncodedSize(records[pos], pos == 0 ? nullptr : &records[pos - 1]);
}

size_t PageNode::ComputePlainSize() const {
  size_t size = Overhead();
  for (size_t i = 0; i < records.size(); ++i) size += EncodedAt(i);
  return size;
}

void PageNode::Insert(size_t pos, PlxRecord rec) {
  image_valid = false;
  if (pos < records.size()) plain_size_ -= EncodedAt(pos);
  records.insert(records.begin() + static_cast<std::ptrdiff_t>(pos), std::move(rec));
  plain_size_ += EncodedAt(pos) + (IsInner() ? kChildBytes : 0);
  if (pos + 1 < records.size()) plain_size_ += EncodedAt(pos + 1);
  if (plain_size_ > Capacity) Capacity = static_cast<uint32_t>(plain_size_);
}

void PageNode::Replace(size_t pos, PlxRecord rec) {
  image_valid = false;
  plain_size_ -= EncodedAt(pos);
  if (pos + 1 < records.size()) plain_size_ -= EncodedAt(pos + 1);
  records[pos] = std::move(rec);
  plain_size_ += EncodedAt(pos);
  if (pos + 1 < records.size()) plain_size_ += EncodedAt(pos + 1);
  if (plain_size_ > Capacity) Capacity = static_cast<uint32_t>(plain_size_);
}

PlxRecord PageNode::Erase(size_t pos) {
  image_valid = false;
  plain_size_ -= EncodedAt(pos) + (IsInner() ? kChildBytes : 0);
  if (pos + 1 < records.size()) plain_size_ -= EncodedAt(pos + 1);
  PlxRecord rec = std::move(records[pos]);
  records.erase(records.begin() + static_cast<std::ptrdiff_t>(pos));
  if (pos < records.size()) plain_size_ += EncodedAt(pos);
  return rec;
}

void PageNode::MoveTailTo(size_t from, PageNode* dest) {
  image_valid = false;
  dest->image_valid = false;
  for (size_t i = from; i < records.size(); ++i) dest->records.push_back(std::move(records[i]));
  records.resize(from);
  ResetPlainSize();
  dest->ResetPlainSize();
  if (dest->plain_size_ > dest->Capacity) dest->Capacity = static_cast<uint32_t>(dest->plain_size_);
}

void PageNode::Clear() {
  image_valid = false;
  records.clear();
  ResetPlainSize();
}

size_t PageNode::LowerBound(Bytes key) const {
  size_t lo = 0, hi = records.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CompareKeys(records[mid].key(), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

size_t PageNode::ChildIndex(Bytes key) const {
  // First separator greater than key, minus one.
  size_t lo = 0, hi = records.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CompareKeys(records[mid].key(), key) <= 0) {
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
  const size_t count = node.records.size();
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
  const PlxRecord* prev = nullptr;
  for (const PlxRecord& rec : node.records) {
    area += EncodeRecord(rec, prev, area);
    prev = &rec;
  }
  if (static_cast<size_t>(area - plain_image.data()) != plain) Corruption(kCheckOverCapacity);

  size_t stored = plain;
  const uint8_t* body = plain_image.data() + head;
  if (RleEncode(plain_image.data() + head, plain - head, &packed) &&
      RoundUpToUnit(head + packed.size()) < RoundUpToUnit(plain)) {
    stored = head + packed.size();
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
    for (const PlxRecord& rec : node.records) {
      StoreU32(child, static_cast<uint32_t>(rec.child));
      child += kChildBytes;
    }
  }
}

int DecodePage(const uint8_t* block, size_t block_len, PageNode* node, RecordPool* pool) {
  RecordPool local;
  if (pool == nullptr) pool = &local;
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
    // The expanded record area, kept between calls (one per thread) so
    // that a page load allocates nothing once it has grown.
    thread_local std::vector<uint8_t> area;
    if (area.size() < plain - head) area.resize(plain - head);
    check = RleDecode(block + head, stored - head, area.data(), plain - head);
    if (check == 0) {
      check = DecodeRecordsInto(area.data(), plain - head, count, &node->records, pool);
    }
  } else {
    check = DecodeRecordsInto(block + head, plain - head, count, &node->records, pool);
  }
  if (check != 0) return check;
  if (flag != 0) {
    const uint8_t* child = block + kPageHeaderBytes;
    for (PlxRecord& rec : node->records) {
      const uint32_t address = LoadU32(child);
      // Negative addresses exist only in memory; on disk one is damage.
      if (address > static_cast<uint32_t>(INT32_MAX)) return kCheckAddress;
      rec.child = static_cast<int32_t>(address);
      child += kChildBytes;
    }
  }
  node->ResetPlainSize();
  node->Capacity =
      std::max<uint32_t>(LoadU16(block + kPgCapacity), static_cast<uint32_t>(node->PlainSize()));
  return 0;
}

}  // namespace qzr::palisade
