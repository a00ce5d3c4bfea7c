// Record construction, comparison and the in-page record encoding.

#include "drivers/palisade/record.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

#include "drivers/palisade/format.h"
#include "runtime/core/fatal.h"

namespace qzr::palisade {

PlxRecord MakeRecord(size_t key_length, size_t payload_length) {
  if (key_length > kMaxKeyLength || payload_length > kMaxRecordLength ||
      key_length + payload_length > kMaxRecordLength) {
    Corruption(kCheckRecordTooLong);
  }
  PlxRecord rec;
  rec.bytes.assign(key_length + payload_length, 0);
  rec.key_length = static_cast<uint16_t>(key_length);
  return rec;
}

PlxRecord MakeRecord(Bytes key, Bytes payload) {
  PlxRecord rec = MakeRecord(key.size(), payload.size());
  if (!key.empty()) std::memcpy(rec.bytes.data(), key.data(), key.size());
  if (!payload.empty()) std::memcpy(rec.bytes.data() + key.size(), payload.data(), payload.size());
  return rec;
}

PlxRecord RecordView::ToRecord() const {
  PlxRecord rec = MakeRecord(key_bytes, payload_bytes);
  rec.child = child;
  return rec;
}

// ---- Encoding -------------------------------------------------------------
//
// One encoder for both forms of a record. A PlxRecord's bytes are one run,
// key then payload; a RecordView's are two (its key and its payload, each
// where it lies in its page's read form). The steps are the same and so are
// the bytes written; the one-run form compares and copies in single steps.

namespace {

template <typename R>
constexpr bool kOneRun = std::is_same_v<R, PlxRecord>;

uint8_t ByteAt(const RecordView& rec, size_t i) {
  return i < rec.key_bytes.size() ? rec.key_bytes[i] : rec.payload_bytes[i - rec.key_bytes.size()];
}

template <typename R>
size_t SharedPrefixOf(const R& rec, const R& prev) {
  const size_t limit = std::min({kMaxShared, rec.Length(), prev.Length()});
  if constexpr (kOneRun<R>) {
    return FirstDifference(rec.bytes.data(), prev.bytes.data(), 0, limit);
  } else {
    // Eight bytes a step while both are in their keys; past the shorter
    // key, byte by byte across into the payloads.
    const size_t keys = std::min({limit, rec.key_bytes.size(), prev.key_bytes.size()});
    size_t n = FirstDifference(rec.key_bytes.data(), prev.key_bytes.data(), 0, keys);
    if (n < keys) return n;
    while (n < limit && ByteAt(rec, n) == ByteAt(prev, n)) ++n;
    return n;
  }
}

// Copies bytes [from, Length()) of `rec` to `out`; returns the count.
template <typename R>
size_t CopyFrom(const R& rec, size_t from, uint8_t* out) {
  const size_t n = rec.Length() - from;
  if constexpr (kOneRun<R>) {
    if (n > 0) std::memcpy(out, rec.bytes.data() + from, n);
  } else {
    const size_t key_length = rec.KeyLength();
    uint8_t* p = out;
    if (from < key_length) {
      std::memcpy(p, rec.key_bytes.data() + from, key_length - from);
      p += key_length - from;
    }
    const size_t skip = from > key_length ? from - key_length : 0;
    const size_t rest = rec.payload_bytes.size() - skip;
    if (rest > 0) std::memcpy(p, rec.payload_bytes.data() + skip, rest);
  }
  return n;
}

template <typename R>
size_t EncodedSizeOf(const R& rec, const R* prev) {
  if (prev == nullptr) return 5 + rec.Length();
  size_t size = 1 + rec.Length() - SharedPrefixOf(rec, *prev);
  if (rec.Length() != prev->Length()) size += 2;
  if (rec.KeyLength() != prev->KeyLength()) size += 2;
  return size;
}

template <typename R>
size_t EncodeRecordOf(const R& rec, const R* prev, uint8_t* out) {
  size_t shared = 0;
  uint8_t flags = 0;
  if (prev == nullptr) {
    flags = kRecHasLength | kRecHasKeyLength;
  } else {
    shared = SharedPrefixOf(rec, *prev);
    if (rec.Length() != prev->Length()) flags |= kRecHasLength;
    if (rec.KeyLength() != prev->KeyLength()) flags |= kRecHasKeyLength;
  }
  uint8_t* p = out;
  *p++ = static_cast<uint8_t>(flags | shared);
  if (flags & kRecHasLength) {
    StoreU16(p, static_cast<uint16_t>(rec.Length()));
    p += 2;
  }
  if (flags & kRecHasKeyLength) {
    StoreU16(p, static_cast<uint16_t>(rec.KeyLength()));
    p += 2;
  }
  p += CopyFrom(rec, shared, p);
  return static_cast<size_t>(p - out);
}

}  // namespace

size_t SharedPrefix(const PlxRecord& rec, const PlxRecord& prev) {
  return SharedPrefixOf(rec, prev);
}
size_t EncodedSize(const PlxRecord& rec, const PlxRecord* prev) {
  return EncodedSizeOf(rec, prev);
}
size_t EncodeRecord(const PlxRecord& rec, const PlxRecord* prev, uint8_t* out) {
  return EncodeRecordOf(rec, prev, out);
}
size_t SharedPrefix(const RecordView& rec, const RecordView& prev) {
  return SharedPrefixOf(rec, prev);
}
size_t EncodedSize(const RecordView& rec, const RecordView* prev) {
  return EncodedSizeOf(rec, prev);
}
size_t EncodeRecord(const RecordView& rec, const RecordView* prev, uint8_t* out) {
  return EncodeRecordOf(rec, prev, out);
}

// ---- Decoding -------------------------------------------------------------

namespace {

// True iff rec's key sorts after prev's. Their first `shared` bytes are the
// same (rec copied them), so the byte after those decides whenever it
// differs, as it does when the encoder shared all it could.
bool KeyAbove(const PlxRecord& prev, const PlxRecord& rec, size_t shared) {
  if (shared < prev.KeyLength() && shared < rec.KeyLength()) {
    const uint8_t a = prev.bytes[shared];
    const uint8_t b = rec.bytes[shared];
    if (a != b) return a < b;
  }
  return CompareKeys(prev.key(), rec.key()) < 0;
}

// Parses `count` records from in[0, len); slot(i, length) gives the record
// to fill for the i-th, `length` bytes long. REQUIRES: the records slot() hands out stay where they
// are while the parse runs (the caller reserves room for all of them first).
template <typename Slot>
int ParseRecords(const uint8_t* in, size_t len, size_t count, Slot slot) {
  size_t pos = 0;
  const PlxRecord* prev = nullptr;
  for (size_t i = 0; i < count; ++i) {
    RecordHead head;
    if (int check = ReadRecordHead(in, len, &pos, i, prev == nullptr ? 0 : prev->Length(),
                                   prev == nullptr ? 0 : prev->KeyLength(), &head)) {
      return check;
    }
    const size_t shared = head.shared;
    const size_t length = head.length;
    const size_t key_length = head.key_length;
    const size_t rest = length - shared;
    PlxRecord& rec = slot(i, length);
    // Appended rather than resized and overwritten: a pooled record's
    // storage is filled once, never zeroed first.
    rec.bytes.clear();
    if (shared > 0) {
      rec.bytes.insert(rec.bytes.end(), prev->bytes.begin(),
                       prev->bytes.begin() + static_cast<std::ptrdiff_t>(shared));
    }
    rec.bytes.insert(rec.bytes.end(), in + pos, in + pos + rest);
    rec.key_length = static_cast<uint16_t>(key_length);
    rec.child = 0;
    pos += rest;
    // The tree's search relies on strictly ascending keys within a page.
    if (prev != nullptr && !KeyAbove(*prev, rec, shared)) return kCheckParseLength;
    prev = &rec;
  }
  return pos == len ? 0 : kCheckParseLength;
}

}  // namespace

int DecodeRecords(const uint8_t* in, size_t len, size_t count, std::vector<PlxRecord>* out) {
  const size_t first = out->size();
  out->reserve(first + count);
  return ParseRecords(in, len, count,
                      [out](size_t, size_t) -> PlxRecord& { return out->emplace_back(); });
}

int RecordPool::ClassOf(size_t capacity) {
  int k = 0;
  while (k + 1 < kClasses && (size_t{2} << k) <= capacity) ++k;
  return k;
}

PlxRecord RecordPool::Take(size_t length) {
  // A new record's room is a power of two of at least kMinRoom, so it is
  // kept in the class above the one `length` falls in (or in kMinRoom's). Only
  // those classes are tried: a short key taking a row's room would leave the
  // next row page to allocate, and the pool would never settle.
  const int first = ClassOf(length);
  const int last = std::max(first + 1, ClassOf(kMinRoom));
  for (int k = first; k < kClasses && k <= last; ++k) {
    std::vector<PlxRecord>& c = classes_[k];
    if (!c.empty() && c.back().bytes.capacity() >= length) {
      PlxRecord rec = std::move(c.back());
      c.pop_back();
      --count_;
      return rec;
    }
  }
  PlxRecord rec;
  rec.bytes.reserve(std::bit_ceil(std::max<size_t>(length, kMinRoom)));
  return rec;
}

void RecordPool::FitList(std::vector<PlxRecord>* list, size_t count) {
  const size_t room = list->capacity();
  const bool oversized = room > 4 * count + 64;
  if (room >= count && !oversized) return;
  // The smallest kept list that holds `count`.
  size_t best = lists_.size();
  for (size_t i = 0; i < lists_.size(); ++i) {
    const size_t c = lists_[i].capacity();
    if (c >= count && (best == lists_.size() || c < lists_[best].capacity())) best = i;
  }
  if (best < lists_.size() && (room < count || lists_[best].capacity() < room)) {
    list->swap(lists_[best]);
    return;
  }
  // A new list of the size asked for; the one replaced is kept while there
  // is space (an oversized one for a page of many records, a small one for
  // a page of a few).
  if (lists_.size() >= kMaxLists) {
    if (room >= count) return;
  } else if (room > 0) {
    lists_.push_back(std::move(*list));
    *list = std::vector<PlxRecord>();
  }
  list->reserve(std::bit_ceil(std::max<size_t>(count, 1)));
}

void RecordPool::Give(PlxRecord&& rec) {
  if (count_ >= kMaxRecords || rec.bytes.capacity() == 0) return;
  std::vector<PlxRecord>& c = classes_[ClassOf(rec.bytes.capacity())];
  // Room for a class's usual count from the start, so that the swings of a
  // steady run of decodes seldom grow it.
  if (c.capacity() == 0) c.reserve(kClassRoom);
  c.push_back(std::move(rec));
  ++count_;
}

int DecodeRecordsInto(const uint8_t* in, size_t len, size_t count, std::vector<PlxRecord>* records,
                      RecordPool* pool) {
  // A count beyond what the bytes could hold is damage; do not reserve for it.
  if (count > len) return kCheckParseLength;
  for (PlxRecord& rec : *records) pool->Give(std::move(rec));
  records->clear();
  pool->FitList(records, count);
  return ParseRecords(in, len, count, [records, pool](size_t, size_t length) -> PlxRecord& {
    return records->emplace_back(pool->Take(length));
  });
}

}  // namespace qzr::palisade
