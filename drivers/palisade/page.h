// Pages in memory (PageNode) and their on-disk block form (PlxPage).
//
// A PageNode holds a page's records in key order together with the bytes
// the page takes once serialised uncompressed (PlainSize), kept up to date
// as records come and go so that the tree knows when a page must split.
// The records live in a sorted array rather than a balanced binary tree:
// both give ordered access and logarithmic search, and the array is denser.
//
// A page read from the file is kept in its read form until it changes: its
// record area expanded once into storage the node owns, an index of where
// each record's key and payload lie, and the keys rebuilt from their shared
// prefixes side by side. Reading a record (At, KeyAt) then copies nothing;
// a page of rows read for one of them costs one expansion of its area and
// a pass over its record headers, not a copy of every record. The first
// change (Insert, Replace, Erase, MoveTailTo, Clear, Records()) turns the
// node into owning PlxRecords. Both forms answer the same questions, and
// the decode validates the whole page either way.
//
// EncodePage turns a node into its stored block (header, child array for an
// inner page, record area compressed when that saves a 256-byte unit,
// padding 0xB0 up to the zone size); DecodePage does the reverse and
// validates every size and offset on the way, so that a damaged block ends
// in its numbered corruption check and never in an out-of-bounds access.
//
// Nodes are owned by the PageCache; one thread at a time (the driver
// serialises calls).

#ifndef QZR_DRIVERS_PALISADE_PAGE_H_
#define QZR_DRIVERS_PALISADE_PAGE_H_

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/palisade/record.h"

namespace qzr::palisade {

struct PageNode {
  // ---- Contents
  int32_t Address = 0;     // page address; negative while the page lives only in memory
  uint8_t NodeFlag = 0;    // 0 leaf, 1 inner page
  uint32_t Capacity = 13;  // grows with PlainSize; written to the page header

  // ---- Encoded form
  // While image_valid, the encoding of the records is current: its size
  // class is image_class, and Image holds its bytes unless it is empty (a
  // write-out sizes every page first and builds most blocks only as it
  // writes them, in storage it reuses).
  std::vector<uint8_t> Image;
  bool image_valid = false;
  int image_class = 0;

  // ---- Cache bookkeeping (PageCache)
  bool dirty = false;
  int pins = 0;
  uint64_t created = 0;   // cache clock when loaded or created
  uint64_t last_use = 0;  // cache clock at the last access
  uint32_t uses = 0;
  PageNode* hash_next = nullptr;
  PageNode* lru_prev = nullptr;
  PageNode* lru_next = nullptr;
  bool in_lru = false;
  bool in_passed = false;  // on the list of leaves a cursor has read past

  bool IsInner() const { return NodeFlag != 0; }
  size_t RecordCount() const { return read_form_ ? entries_.size() : records_.size(); }
  bool empty() const { return RecordCount() == 0; }

  // Record i as it lies in the node, in either form. The view is valid
  // until the node changes or is dropped. REQUIRES: i < RecordCount().
  RecordView At(size_t i) const {
    if (!read_form_) return records_[i].View();
    return ViewOf(entries_[i]);
  }
  Bytes KeyAt(size_t i) const {
    if (!read_form_) return records_[i].key();
    return Bytes(keys_.data() + entries_[i].key_at, entries_[i].key_length);
  }
  int32_t ChildAt(size_t i) const { return read_form_ ? entries_[i].child : records_[i].child; }
  // Repoints child i (the page moved); the encoded records stay as they are.
  void SetChild(size_t i, int32_t address) {
    if (read_form_) {
      entries_[i].child = address;
    } else {
      records_[i].child = address;
    }
  }
  // The records as owning PlxRecords, for changing them: a node in its read
  // form is converted first (its storage from the pool it was decoded
  // with). Views taken before stay readable until the node is decoded again
  // or dropped.
  std::vector<PlxRecord>& Records();
  // Empties the node, its records' storage going to `pool` (which may be
  // nullptr); the buffers of the read form are kept for the next decode.
  void GiveRecords(RecordPool* pool);
  bool in_read_form() const { return read_form_; }
  // The owning records. REQUIRES: !in_read_form().
  const std::vector<PlxRecord>& owned_records() const { return records_; }
  // Bytes of the page serialised without compression, header included.
  size_t PlainSize() const { return plain_size_; }

  // Record edits that keep PlainSize exact and invalidate the image.
  // REQUIRES: the caller keeps the keys in strictly ascending order.
  void Insert(size_t pos, PlxRecord rec);
  void Replace(size_t pos, PlxRecord rec);
  PlxRecord Erase(size_t pos);
  // Moves records [from, end) to the end of `dest` (the tree's splits and
  // merges).
  void MoveTailTo(size_t from, PageNode* dest);
  void Clear();
  // Recomputes PlainSize from the records (after a decode, and in checks).
  size_t ComputePlainSize() const;
  void ResetPlainSize() { plain_size_ = ComputePlainSize(); }

  // Takes the page's record area (`len` bytes, `count` records) in its read
  // form: `area` is copied unless it is the node's own area storage
  // (area_storage()). Same checks and results as DecodeRecords; PlainSize
  // is set as ComputePlainSize would. On failure the node is empty.
  int ReadRecordArea(const uint8_t* area, size_t len, size_t count, RecordPool* pool);
  // Storage the node keeps for its expanded record area, at least `len`
  // bytes, to expand a compressed area into before ReadRecordArea.
  uint8_t* area_storage(size_t len);

  // Bytes the storage of the read form holds (kept from page to page).
  size_t read_form_bytes() const {
    return area_.size() + keys_.size() + entries_.capacity() * sizeof(Entry);
  }
  // True iff a record area of `len` bytes and `count` records is read into
  // this node without growing its storage.
  bool ReadFormFits(size_t len, size_t count) const {
    return area_.size() >= AreaRoom(len) && keys_.size() >= KeysRoom(len, count) &&
           entries_.capacity() >= count;
  }
  // Records an index of this node's storage holds: a node that has held a
  // page of many records (a key page, an inner page) holds about ten times
  // the storage of one that has held rows.
  size_t read_form_records() const { return entries_.capacity(); }
  // What the read form puts in keys_ for such an area, at most, and the
  // storage it takes for the area itself.
  static size_t KeysRoom(size_t len, size_t count);
  static size_t AreaRoom(size_t len);
  // Bytes the storage holds past what it needs, so that short runs can be
  // copied in whole words.
  static constexpr size_t kCopySlack = 16;

  // Index of the first record whose key is >= key (records.size() if none).
  size_t LowerBound(Bytes key) const;
  // Inner pages: index of the child whose range holds `key`: the last record
  // whose separator is <= key, or 0 when none is.
  size_t ChildIndex(Bytes key) const;

 private:
  // Where record i of the read form lies: its key in keys_, its payload in
  // area_, or in keys_ when it is not one run there (its first bytes came
  // from the record before).
  struct Entry {
    uint32_t key_at;
    uint32_t payload_at;
    uint16_t key_length;
    uint16_t payload_length;
    bool payload_in_keys;
    int32_t child;
  };

  RecordView ViewOf(const Entry& e) const {
    const uint8_t* payload = (e.payload_in_keys ? keys_.data() : area_.data()) + e.payload_at;
    return RecordView{Bytes(keys_.data() + e.key_at, e.key_length),
                      Bytes(payload, e.payload_length), e.child};
  }
  size_t Overhead() const;             // header plus child array
  size_t EncodedAt(size_t pos) const;  // EncodedSize of records_[pos] in place
  void Materialize();                  // read form -> records_
  size_t plain_size_ = 13;
  std::vector<PlxRecord> records_;
  bool read_form_ = false;
  // Storage a page's read form is built in. It grows by powers of two and is
  // never zero-filled (every byte read from it was written first), so a node
  // reused for page after page stops allocating once it has held the largest,
  // and a page of many records does not pay for clearing room it never uses.
  class Scratch {
   public:
    uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    // Room for at least n bytes; what was held before is not kept.
    uint8_t* Fit(size_t n) {
      if (n > size_) {
        size_ = std::bit_ceil(std::max<size_t>(n, 1024));
        bytes_.reset(new uint8_t[size_]);
      }
      return bytes_.get();
    }

   private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_ = 0;
  };
  Scratch area_;
  Scratch keys_;
  std::vector<Entry> entries_;
  RecordPool* pool_ = nullptr;  // where Materialize takes record storage from
};

// Encodes `node` into node->Image (stored block, padded to its size class)
// and sets image_valid; returns the size class (1..59). The HomeOffset and
// the child array are refreshed separately by PatchImage just before the
// block is written. Checks: 1659 PlainSize above Capacity; 1678 the block
// would be 15105 bytes or more.
int EncodePage(PageNode* node);
// EncodePage into `block` (resized to the block) instead of node->Image,
// leaving the node as it is. Returns the size class; same checks.
int EncodeBlock(const PageNode& node, std::vector<uint8_t>* block);
// EncodeBlock into `out`, which has room for kMaxPageBytes (storage a run
// of blocks written together is built in). Returns the size class; the
// block is that many units long. Same checks.
int EncodeBlockInto(const PageNode& node, uint8_t* out);

// Writes the page's home offset and current child addresses into its image.
// REQUIRES: node->image_valid and node->Image holds the block.
void PatchImage(PageNode* node, uint64_t home_offset);
// PatchImage on a block EncodeBlock built for `node`.
void PatchBlock(const PageNode& node, uint64_t home_offset, uint8_t* block);

// Decodes the block of `block_len` bytes (the zone's page size) into
// `node`'s NodeFlag, Capacity and records. Returns 0 or the check that
// failed: 1477 stored size does not match block_len; 522/530 the compressed
// area is damaged; 1602 the sizes are inconsistent or the records do not
// parse to PlainSize; 824 a record is too long; 1735 an inner page names a
// child at a negative address. The records `node` already holds go to
// `pool` (may be nullptr), from where the decode takes the storage of the
// records it makes (see DecodeRecordsInto).
int DecodePage(const uint8_t* block, size_t block_len, PageNode* node, RecordPool* pool = nullptr);

// The record area length and record count a stored block declares, as
// DecodePage would read them, for choosing the node to decode it into.
// Nothing is checked (DecodePage does): a damaged block gives numbers that
// only make the choice a poor one.
struct ReadFormSize {
  size_t area = 0;
  size_t count = 0;
};
ReadFormSize ReadFormSizeOf(const uint8_t* block, size_t block_len);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PAGE_H_
