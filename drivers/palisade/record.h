// Palisade records (PlxRecord) and their encoding inside a page.
//
// A record is a run of bytes whose leading KeyLength bytes are its key; keys
// alone order the records of the file's one page tree (plain byte-wise
// comparison, a proper prefix first). In a page each record is stored
// relative to the one before it: a flag byte (0x80 Length follows, 0x40
// KeyLength follows, low six bits the count of leading bytes shared with the
// previous record), the lengths when they differ from the previous record's,
// then the bytes after the shared part.
//
// Records are values; the functions here are pure and safe from any thread.

#ifndef QZR_DRIVERS_PALISADE_RECORD_H_
#define QZR_DRIVERS_PALISADE_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace qzr::palisade {

// A read-only run of bytes (a key or a payload).
using Bytes = std::basic_string_view<uint8_t>;

inline Bytes AsBytes(std::string_view s) {
  return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Byte-wise comparison of keys, a proper prefix first: <0, 0, >0. Inline,
// eight bytes a step: keys are short and most differ early (table, kind,
// row), where a call to memcmp costs more than the comparison.
inline int CompareKeys(Bytes a, Bytes b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// True iff `key` begins with `prefix` (a table's or an index's key prefix).
inline bool StartsWith(Bytes key, const std::vector<uint8_t>& prefix) {
  return key.substr(0, prefix.size()) == Bytes(prefix.data(), prefix.size());
}

struct PlxRecord;

// A record as read: its key and its payload where they lie, in the page
// that holds the record (or in a PlxRecord). It owns nothing: it is valid
// while what it points into is, which for a record read from the tree is
// until the next call into the tree or the pager. A caller that keeps the
// record copies it (ToRecord) or the parts it needs.
struct RecordView {
  Bytes key_bytes;
  Bytes payload_bytes;
  int32_t child = 0;  // inner pages: the child page address

  size_t Length() const { return key_bytes.size() + payload_bytes.size(); }
  size_t KeyLength() const { return key_bytes.size(); }
  Bytes key() const { return key_bytes; }
  Bytes payload() const { return payload_bytes; }
  PlxRecord ToRecord() const;
};

struct PlxRecord {
  std::vector<uint8_t> bytes;  // key then payload; Length() == bytes.size()
  uint16_t key_length = 0;
  int32_t child = 0;  // inner pages: the child page address

  size_t Length() const { return bytes.size(); }
  size_t KeyLength() const { return key_length; }
  Bytes key() const { return Bytes(bytes.data(), key_length); }
  Bytes payload() const { return Bytes(bytes.data() + key_length, bytes.size() - key_length); }
  uint8_t* payload_data() { return bytes.data() + key_length; }
  RecordView View() const { return RecordView{key(), payload(), child}; }
};

// A record with `key_length` key bytes and `payload_length` payload bytes,
// zero-filled. Check 824 when the total reaches kRecordLengthBound (15094)
// or passes kMaxRecordLength (15086), or the key passes kMaxKeyLength.
PlxRecord MakeRecord(size_t key_length, size_t payload_length);
// A record holding `key` then `payload` (same checks).
PlxRecord MakeRecord(Bytes key, Bytes payload);

// Leading bytes `rec` may share with `prev`: their common prefix, at most
// min(63, both lengths).
size_t SharedPrefix(const PlxRecord& rec, const PlxRecord& prev);

// Bytes `rec` takes in a page after `prev` (nullptr: first of its page).
size_t EncodedSize(const PlxRecord& rec, const PlxRecord* prev);

// Writes `rec` after `prev` at `out` (EncodedSize bytes); returns the bytes
// written.
size_t EncodeRecord(const PlxRecord& rec, const PlxRecord* prev, uint8_t* out);

// The same, for records as read.
size_t SharedPrefix(const RecordView& rec, const RecordView& prev);
size_t EncodedSize(const RecordView& rec, const RecordView* prev);
size_t EncodeRecord(const RecordView& rec, const RecordView* prev, uint8_t* out);

// Parses exactly `count` records from in[0, len) into `out` (appended).
// Returns 0, or the check that failed: 824 when a record's length reaches
// kRecordLengthBound; 1602 when the records do not end exactly at `len`, a
// later record lacks a previous one to share with, shares more bytes than
// either record has, has a key longer than itself, or the keys are not in
// strictly ascending order.
int DecodeRecords(const uint8_t* in, size_t len, size_t count, std::vector<PlxRecord>* out);

// Records kept for the storage of their bytes, filed by capacity, so that a
// decode finds one that holds a record of a given length without growing;
// and lists of records, so that a page of many short records (keys) and a
// page of a few rows each find a list of about their size. At most
// kMaxRecords records and kMaxLists lists are kept. Once the pool holds what
// the cached pages have needed at once, decodes allocate nothing. One thread
// at a time.
class RecordPool {
 public:
  static constexpr size_t kMaxRecords = 8192;
  static constexpr size_t kMaxLists = 64;
  static constexpr size_t kMinRoom = 16;
  static constexpr size_t kClassRoom = 64;  // records a class has room for at first

  // A record whose bytes hold `length` bytes without growing, when one is
  // kept; otherwise a new record with room for that many (rounded up, so
  // that it serves longer records later).
  PlxRecord Take(size_t length);
  // Keeps `rec` for later (or lets it go when the pool is full).
  void Give(PlxRecord&& rec);
  // Makes the empty `list` hold `count` records without growing: a kept list
  // of about that size is swapped in when `list` is too small, or much too
  // large (the large one is kept for a page that needs it).
  void FitList(std::vector<PlxRecord>* list, size_t count);
  size_t size() const { return count_; }

 private:
  // Class k holds records of capacity in [2^k, 2^(k+1)); the last class
  // everything larger.
  static constexpr int kClasses = 16;
  static int ClassOf(size_t capacity);
  std::vector<PlxRecord> classes_[kClasses];
  size_t count_ = 0;
  std::vector<std::vector<PlxRecord>> lists_;
};

// DecodeRecords into `*records`, which it replaces: the records it held go
// to `pool`, and each record decoded takes its storage from there, so that
// a steady run of decodes allocates nothing. Same checks; on failure
// `*records` is unspecified.
int DecodeRecordsInto(const uint8_t* in, size_t len, size_t count, std::vector<PlxRecord>* records,
                      RecordPool* pool);

// The first index in [from, n) where a[] and b[] differ, or n; compared
// eight bytes a step. Shared by the encoder and the decoders that look for
// the bytes two neighbouring keys have in common.
inline size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t from, size_t n) {
  size_t i = from;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + static_cast<size_t>(__builtin_ctzll(x ^ y) / 8);
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_RECORD_H_
