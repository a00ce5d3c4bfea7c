// Searching a leaf's stored block for a key without decoding it.
//
// A lookup that reads one record, or the few records of one row (its memo
// pieces), from a leaf that is not cached needs those records, not the
// page: FindInLeafBlock walks the block's records in place, keeping only
// the first bytes of the record at hand (all a following record may share
// with it), and copies out the record found and those after it that begin
// with the same prefix. A leaf of rows or memo pieces (15 KB, ten to sixty
// records) then costs a walk over its record headers and one copy of what
// is read, instead of a copy of its whole area, an index of its records and
// a node in the cache.
//
// It accepts exactly the blocks DecodePage accepts (every size, length,
// shared prefix and the key order is checked over the whole page, found
// record or not), so a caller that falls back to decoding on a refusal
// reports the same damage with the same check. What it hands back is a
// copy: nothing points into the block, which may lie in a mapping of the
// file.
//
// Pure functions over caller-owned storage; one thread per LeafSearch and
// LeafRun.

#ifndef QZR_DRIVERS_PALISADE_LEAF_SEARCH_H_
#define QZR_DRIVERS_PALISADE_LEAF_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/palisade/record.h"

namespace qzr::palisade {

// Storage a search reuses: the expanded record area of a compressed block,
// the leading bytes of the record at hand and the key before it.
struct LeafSearch {
  std::vector<uint8_t> area;
  std::vector<uint8_t> cur;
  std::vector<uint8_t> prev;
};

// The records a search copied out of a leaf: the first whose key is >= the
// key sought (at `index` of the leaf's `count`), then each following one
// whose key begins with the sought key's first `prefix` bytes (set by the
// caller), up to the first that does not or the leaf's end.
struct LeafRun {
  size_t prefix = 0;

  size_t index = 0;  // the leaf position of the first record copied
  size_t count = 0;  // records in the leaf
  struct Item {
    uint32_t at;  // in bytes
    uint32_t length;
    uint32_t key_length;
  };
  std::vector<Item> items;
  std::vector<uint8_t> bytes;

  size_t size() const { return items.size(); }
  // Record i of the run (valid until the run is searched into again).
  RecordView At(size_t i) const {
    const Item& it = items[i];
    return RecordView{Bytes(bytes.data() + it.at, it.key_length),
                      Bytes(bytes.data() + it.at + it.key_length, it.length - it.key_length), 0};
  }
};

// Searches the block of `block_len` bytes (as DecodePage takes it) for
// `key`. Returns true iff the block is a sound leaf: then run->index is the
// position of the first record >= key (run->count when none is), and the
// run holds that record and those after it sharing the prefix (nothing when
// index == count). False for an inner page or any damage (which DecodePage
// then reports); the run is then unspecified.
bool FindInLeafBlock(const uint8_t* block, size_t block_len, Bytes key, LeafSearch* scratch,
                     LeafRun* run);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_LEAF_SEARCH_H_
