// Searching an inner page's stored block for a key without decoding it.
//
// A lookup that passes through an inner page once (a command reading one
// row by key passes through five of them, each of a thousand separators or
// more) needs only the child whose range holds its key, not the page's
// records: FindChildInBlock walks the block's records in place, one key at
// a time in two buffers it reuses, and allocates nothing once they have
// grown. It accepts exactly the blocks DecodePage accepts (every size,
// length, shared prefix, child address and the key order is checked), so a
// caller that falls back to decoding on a refusal reports the same damage
// with the same check.
//
// Pure functions over caller-owned storage; one thread per ChildSearch.

#ifndef QZR_DRIVERS_PALISADE_CHILD_SEARCH_H_
#define QZR_DRIVERS_PALISADE_CHILD_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/palisade/record.h"

namespace qzr::palisade {

// Storage a search reuses: the expanded record area of a compressed block
// and the keys of the record before and the record at hand.
struct ChildSearch {
  std::vector<uint8_t> area;
  std::vector<uint8_t> prev;
  std::vector<uint8_t> cur;
};

// Searches the block of `block_len` bytes (as DecodePage takes it) for the
// child whose range holds `key`: the last separator <= key, or the first
// when none is (PageNode::ChildIndex). Returns true, with *index and
// *child, iff the block is a sound inner page with at least one record;
// false for a leaf, an empty page, or any damage (which DecodePage then
// reports).
bool FindChildInBlock(const uint8_t* block, size_t block_len, Bytes key, ChildSearch* scratch,
                      size_t* index, int32_t* child);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_CHILD_SEARCH_H_
