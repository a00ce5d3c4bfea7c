// Searching a leaf's block in place (see leaf_search.h).

#include "drivers/palisade/leaf_search.h"

#include <algorithm>
#include <cstring>

#include "drivers/palisade/format.h"
#include "drivers/palisade/rle.h"

namespace qzr::palisade {
bool FindInLeafBlock(const uint8_t* block, size_t block_len, Bytes key, LeafSearch* scratch,
                     LeafRun* run) {
  run->items.clear();
  run->bytes.clear();
  if (block_len < kPageHeaderBytes) return false;
  const size_t stored = LoadU16(block + kPgStoredSize);
  const size_t plain = LoadU16(block + kPgPlainSize);
  const size_t count = LoadU16(block + kPgRecordCount);
  if (block[kPgNodeFlag] != 0) return false;
  if (RoundUpToUnit(stored) != block_len) return false;
  const size_t head = kPageHeaderBytes;
  if (stored < head || plain < head || stored > plain) return false;
  const uint8_t* in = block + head;
  const size_t len = plain - head;
  if (stored < plain) {
    if (scratch->area.size() < len) scratch->area.resize(len);
    if (RleDecode(block + head, stored - head, scratch->area.data(), len) != 0) return false;
    in = scratch->area.data();
  }
  if (count > len) return false;

  // The records are not put together. `win` holds the first kWindow bytes
  // of the record at hand (fewer when it is shorter), which is all the
  // next record may share with it (kMaxShared); each record's bytes after
  // its shared ones are copied over it a fixed kWindow at a time, without
  // a branch on their length, and the rest of the record is read where it
  // lies (`own`). The key order is told by the first byte after the shared
  // prefix, as the encoder shares all it can; only when that byte cannot
  // tell (a prefix held to its limit, a record that is a prefix of the
  // other) are both keys compared whole. Keys longer than the window are
  // put together in `cur` (and the one before kept in `prev`). So a leaf
  // of 15 KB costs a walk over its record headers and what is copied out.
  constexpr size_t kWindow = 64;
  static_assert(kWindow > kMaxShared);
  // The bytes a window copy may write past the record's shared ones.
  uint8_t win[kWindow * 2];
  uint8_t before_win[kWindow];  // the window of the record before, when compared whole
  std::vector<uint8_t>& long_key = scratch->cur;
  std::vector<uint8_t>& long_prev = scratch->prev;
  const size_t prefix = std::min(run->prefix, key.size());
  size_t prev_length = 0, prev_key_length = 0;
  bool past = false;     // the record at or after the key was met
  bool copying = false;  // and the records since begin with the prefix
  // While not past: the bytes the record before shares with the key (it is
  // below the key, so it differs from it first at that byte, lower there,
  // or it is a prefix of the key). A record whose shared prefix reaches
  // past that byte sorts below the key too, and one whose shared prefix
  // stops short of it sorts above (its byte there is above the one before,
  // which is the key's): only a record sharing exactly that much is
  // compared with the key, from there on.
  size_t common = 0;
  size_t found = count;
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    RecordHead head;
    if (ReadRecordHead(in, len, &pos, i, prev_length, prev_key_length, &head) != 0) return false;
    const size_t shared = head.shared;
    const size_t length = head.length;
    const size_t key_length = head.key_length;
    const size_t rest = length - shared;
    const size_t left = len - pos;
    const uint8_t* own = in + pos;
    pos += rest;
    bool whole = i == 0;  // compared by its whole key
    const uint8_t* prev_key = nullptr;
    if (i > 0) {
      if (shared < prev_key_length && shared < key_length) {
        // win[shared] is the record before's byte there.
        if (win[shared] > own[0]) return false;
        whole = win[shared] == own[0];
      } else {
        whole = true;
      }
      if (whole) {
        if (prev_key_length <= kWindow) {
          std::memcpy(before_win, win, kWindow);
          prev_key = before_win;
        } else {
          long_prev.swap(long_key);
          prev_key = long_prev.data();
        }
      }
    }
    if (left >= kWindow) {
      std::memcpy(win + shared, own, kWindow);
    } else if (left > 0) {
      std::memcpy(win + shared, own, left);
    }
    const uint8_t* k = win;
    if (key_length > kWindow) {
      long_key.resize(key_length);
      std::memcpy(long_key.data(), win, shared);
      std::memcpy(long_key.data() + shared, own, key_length - shared);
      k = long_key.data();
    }
    // Keys strictly ascend within a page.
    if (whole && i > 0 &&
        CompareKeys(Bytes(prev_key, prev_key_length), Bytes(k, key_length)) >= 0) {
      return false;
    }
    bool take = false;
    if (!past) {
      bool below;
      size_t d = 0;  // where the record's key and the key first differ
      if (whole || shared == common) {
        const size_t both = std::min(key_length, key.size());
        d = FirstDifference(k, key.data(), whole ? 0 : common, both);
        below = d < both ? k[d] < key[d] : key_length < key.size();
      } else {
        below = shared > common;
        d = common;
      }
      if (below) {
        common = d;
      } else {
        past = take = true;
        found = i;
        // The records after it are copied while they begin as the key does.
        copying = key_length >= prefix && (prefix == 0 || std::memcmp(k, key.data(), prefix) == 0);
      }
    } else if (copying) {
      // The record before began with the prefix: this one does iff its
      // bytes past the shared ones do.
      take = key_length >= prefix &&
             (shared >= prefix || std::memcmp(k + shared, key.data() + shared, prefix - shared) == 0);
      copying = take;
    }
    if (take) {
      const size_t at = run->bytes.size();
      run->bytes.resize(at + length);
      uint8_t* out = run->bytes.data() + at;
      std::memcpy(out, win, shared);
      if (rest > 0) std::memcpy(out + shared, own, rest);
      run->items.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(length),
                            static_cast<uint32_t>(key_length)});
    }
    prev_length = length;
    prev_key_length = key_length;
  }
  if (pos != len) return false;
  run->index = found;
  run->count = count;
  return true;
}

}  // namespace qzr::palisade
