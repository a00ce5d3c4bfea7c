// Searching an inner page's block in place (see child_search.h).

#include "drivers/palisade/child_search.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "drivers/palisade/format.h"
#include "drivers/palisade/rle.h"

namespace qzr::palisade {

bool FindChildInBlock(const uint8_t* block, size_t block_len, Bytes key, ChildSearch* scratch,
                      size_t* index, int32_t* child) {
  if (block_len < kPageHeaderBytes) return false;
  const size_t stored = LoadU16(block + kPgStoredSize);
  const size_t plain = LoadU16(block + kPgPlainSize);
  const size_t count = LoadU16(block + kPgRecordCount);
  if (block[kPgNodeFlag] == 0 || count == 0) return false;
  if (RoundUpToUnit(stored) != block_len) return false;
  const size_t head = kPageHeaderBytes + kChildBytes * count;
  if (stored < head || plain < head || stored > plain) return false;
  const uint8_t* in = block + head;
  const size_t len = plain - head;
  if (stored < plain) {
    if (scratch->area.size() < len) scratch->area.resize(len);
    if (RleDecode(block + head, stored - head, scratch->area.data(), len) != 0) return false;
    in = scratch->area.data();
  }
  if (count > len) return false;

  // The record at hand is built in `cur` over the one before: its shared
  // prefix is already there, only the rest is copied. The key order is
  // told by the first byte after the shared prefix, as the encoder shares
  // all it can; only when that byte cannot tell (a prefix held to its
  // limit, a record that is a prefix of the other) is the key before kept
  // in `prev` for a whole comparison.
  std::vector<uint8_t>& prev = scratch->prev;
  // Room for any record of the area once: the bytes after its shared ones
  // lie in the area, and it shares at most kMaxShared. The loop then works
  // through a plain pointer (a store through a vector's element could
  // change the vector itself, as far as the compiler knows, and each would
  // reload where its storage lies).
  // Sixteen bytes more: short runs are copied in whole words (below).
  if (scratch->cur.size() < len + kMaxShared + 16) scratch->cur.resize(len + kMaxShared + 16);
  uint8_t* const cur = scratch->cur.data();
  size_t prev_length = 0, prev_key_length = 0;
  size_t found = 0;
  bool past = false;  // a separator above the key was met: the rest are too
  // While not past: the bytes the record before shares with the key (it is
  // <= the key, so it differs from it first at that byte, lower there, or
  // it is a prefix of the key). A record whose shared prefix reaches past
  // that byte sorts below the key too, and one whose shared prefix stops
  // short of it sorts above (its byte there is above the one before, which
  // is the key's): only a record sharing exactly that much is compared
  // with the key, from there on. Most separators before the key's take
  // no comparison.
  size_t common = 0;
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    RecordHead head;
    if (ReadRecordHead(in, len, &pos, i, prev_length, prev_key_length, &head) != 0) return false;
    const size_t shared = head.shared;
    const size_t length = head.length;
    const size_t key_length = head.key_length;
    const size_t rest = length - shared;
    bool ordered = i == 0;
    bool compare_whole = false;
    if (!ordered) {
      if (shared < prev_key_length && shared < key_length && in[pos] != cur[shared]) {
        ordered = cur[shared] < in[pos];
        if (!ordered) return false;
      } else {
        compare_whole = true;
        prev.assign(cur, cur + prev_key_length);
      }
    }
    // Separators are short: their bytes go in one or two words when the
    // area has that many left to read (what lands past the record's end is
    // never read: the next record shares at most this one's length).
    if (rest <= 16 && len - pos >= 16) {
      uint64_t w[2];
      std::memcpy(w, in + pos, 16);
      std::memcpy(cur + shared, w, 16);
    } else if (rest <= 32) {
      for (size_t b = 0; b < rest; ++b) cur[shared + b] = in[pos + b];
    } else {
      std::memcpy(cur + shared, in + pos, rest);
    }
    pos += rest;
    const Bytes cur_key(cur, key_length);
    // Keys strictly ascend within a page.
    if (compare_whole && CompareKeys(Bytes(prev.data(), prev.size()), cur_key) >= 0) return false;
    if (!past) {
      size_t from = 0;  // compare from here; 0: the whole key
      bool decided = false;
      if (i > 0 && !compare_whole) {
        // Here shared < both key lengths and cur[shared] > the byte before.
        if (shared > common) {
          decided = true;  // below the key, sharing `common` bytes with it
        } else if (shared < common) {
          decided = past = true;
        } else {
          from = common;
        }
      }
      if (!decided) {
        const size_t both = std::min(key_length, key.size());
        const size_t d = FirstDifference(cur, key.data(), from, both);
        if (d < both ? cur[d] < key[d] : key_length <= key.size()) {
          common = d;
        } else {
          past = true;
        }
      }
      if (!past) found = i;
    }
    prev_length = length;
    prev_key_length = key_length;
  }
  if (pos != len) return false;
  // Negative addresses exist only in memory; on disk one is damage.
  const uint8_t* children = block + kPageHeaderBytes;
  for (size_t i = 0; i < count; ++i) {
    if (LoadU32(children + kChildBytes * i) > static_cast<uint32_t>(INT32_MAX)) return false;
  }
  *index = found;
  *child = static_cast<int32_t>(LoadU32(children + kChildBytes * found));
  return true;
}

}  // namespace qzr::palisade
