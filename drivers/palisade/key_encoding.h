// The sortable encoding of key values and the key-entry records built from it.
//
// A key value is the concatenation of its components, each exactly its
// field's declared size, transformed so that plain byte-wise comparison of two
// values gives the order the key declares: integers big-endian with the sign
// bit flipped, reals and decimals sign-folded, strings copied (optionally
// folded to upper case) and mapped through a collation table, descending
// components inverted byte by byte. A key-entry record is the table number,
// the key number, the value and the row number; for a DUP key the row number
// is part of the record's key, so equal values order by row.
//
// Everything here is a pure function of (key layout, collation, record
// buffer); nothing is shared or cached, so any thread may call it at once.
//
//   OFFSET  SIZE       MEANING (key-entry record)
//   0       4          table number, most significant byte first
//   4       1          key number (0-based, below 0xF3)
//   5       v          key value (v = KeyValueSize(layout))
//   5+v     4          row number, most significant byte first
//   key length = 5 + v, or 9 + v for a DUP key (the row number is key too)

#ifndef QZR_DRIVERS_PALISADE_KEY_ENCODING_H_
#define QZR_DRIVERS_PALISADE_KEY_ENCODING_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data/file_descriptor.h"
#include "runtime/values/types.h"

namespace qzr {
struct LocaleData;
}

namespace qzr::palisade {

// Key attribute flags: DUP, OPT, NOCASE and PRIMARY are the declaration's
// (kKeyDup, kKeyOpt, kKeyNocase, kKeyPrimary of data/file_descriptor.h); these
// two exist only in a stored table definition.
// The key is maintained only for rows below its build mark.
inline constexpr uint16_t kKeyBuildMark = 0x20;
// ADD, PUT and DELETE leave the key alone; BUILD fills it.
inline constexpr uint16_t kKeyNotMaintained = 0x40;

// Component flag bit 0 in the stored table definition.
inline constexpr uint16_t kComponentDescending = 0x0001;

// The largest key value: the components' sizes added up.
inline constexpr size_t kMaxKeyValueSize = 7526;
inline constexpr const char* kKeyTooLongMessage =
    "Key components are more than a total of 7526 bytes long";

// Bytes of a key-entry record around the value.
inline constexpr size_t kKeyEntryHeadSize = 5;  // table number and key number
inline constexpr size_t kRowNumberSize = 4;

// Corruption check: a key value that reaches past the record buffer it is
// read from, is longer than kMaxKeyValueSize, or a key-entry record too short
// to hold a row number. The key layout and the record do not belong together
// (a stored definition that contradicts itself, or a caller that skipped
// CheckKeyLayout).
inline constexpr int kCheckKeyOutsideRecord = 2790;

// One component: where its field lies in the record buffer and how it sorts.
struct KeyComponentLayout {
  TypeCode type = TypeCode::STRING;
  uint32_t offset = 0;  // of the field in the record buffer
  uint32_t size = 0;    // the field's declared SIZE in bytes
  bool descending = false;
};

// A key as the encoder needs it: attribute flags and components in order.
struct KeyLayout {
  uint16_t flags = 0;
  std::vector<KeyComponentLayout> components;

  bool dup() const { return (flags & kKeyDup) != 0; }
  bool opt() const { return (flags & kKeyOpt) != 0; }
  bool nocase() const { return (flags & kKeyNocase) != 0; }
};

// The layout of `file.keys[key_index]`: each component's field type, offset
// and SIZE from the field list. Returns 0, or 47 with the attribute "FIELD"
// when a component names no field of the file.
[[nodiscard]] int KeyLayoutFromDescriptor(const FileDescriptor& file, size_t key_index,
                                          KeyLayout* layout, std::string* attribute = nullptr);

// The byte mappings applied to string components: `upper` folds a byte to
// upper case (NOCASE keys only), then `weight` maps it to its place in the
// locale's string order. Equal characters must map to equal bytes, and the
// weights must order bytes as the locale's string comparison does.
struct KeyCollation {
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> weight{};

  // Identity weights and ASCII folding (a-z to A-Z): the runtime's defaults.
  static KeyCollation Identity();
};

// The collation of the process locale for a file whose text is in the
// locale's character set (ANSI). Only lower-case letters (class 2) with a
// partner fold; every other byte folds to itself.
KeyCollation CollationFromLocale(const LocaleData& locale);

// The variant for a file declared OEM: its bytes are OEM text, so each is
// carried to ANSI to be folded and weighed, and folded bytes go back to OEM
// before weighing. The two tables are the code-page conversions of the
// runtime.
KeyCollation OemCollation(const KeyCollation& ansi, const std::array<uint8_t, 256>& oem_to_ansi,
                          const std::array<uint8_t, 256>& ansi_to_oem);

// The value's length: the components' sizes added up.
size_t KeyValueSize(const KeyLayout& layout);

// Checks a key against its record: the value must not exceed kMaxKeyValueSize
// and every component must lie inside a record of `record_length` bytes.
// Returns 0, or 47 (the record-declaration error) with the attribute ("SIZE")
// and the message for the report.
[[nodiscard]] int CheckKeyLayout(const KeyLayout& layout, size_t record_length,
                                 std::string* attribute = nullptr, std::string* message = nullptr);

// Returns true iff every component of the key is empty in `record`: STRING
// and GROUP all spaces, CSTRING and PSTRING starting with a zero byte, every
// other type all zero bytes. An OPT key gives such a row no entry.
// REQUIRES: the layout fits the record (else corruption check 2790).
bool IsEmptyKey(const KeyLayout& layout, std::span<const uint8_t> record);

// Writes the key value of `record` into `out` (KeyValueSize(layout) bytes).
// REQUIRES: the layout fits the record (else corruption check 2790).
void EncodeKeyValue(const KeyLayout& layout, const KeyCollation& collation,
                    std::span<const uint8_t> record, uint8_t* out);
std::vector<uint8_t> EncodeKeyValue(const KeyLayout& layout, const KeyCollation& collation,
                                    std::span<const uint8_t> record);

// Recovers the stored form of a numeric component from its encoding, for the
// types whose encoding can be undone (every type but the string types and
// GROUP). Returns false for those. A value that has several stored forms
// comes back in its canonical one: -0.0 as 0.0, a DECIMAL or PDECIMAL zero as
// positive, a BFLOAT zero as all zero bytes.
// REQUIRES: `encoded` and `field` hold component.size bytes.
bool DecodeComponent(const KeyComponentLayout& component, const uint8_t* encoded, uint8_t* field);

// A key-entry record ready for the page tree.
struct KeyEntry {
  std::vector<uint8_t> bytes;  // the whole record, layout above
  uint16_t key_length = 0;     // leading bytes that form the record's key
};

// The entry of `row` in key `key_number` of table `table`, or nullopt when the
// key is OPT and the record's key is empty (the row then has no entry).
// REQUIRES: CheckKeyLayout passed for this record length.
std::optional<KeyEntry> MakeKeyEntry(uint32_t table, uint8_t key_number, const KeyLayout& layout,
                                     const KeyCollation& collation, std::span<const uint8_t> record,
                                     uint32_t row);

// What a change of one row does to one key: the entry to delete (from the
// old image) and the entry to insert (from the new image); either or both
// absent. Both are absent when the key is skipped or its bytes did not change.
struct KeyChange {
  std::optional<KeyEntry> remove;
  std::optional<KeyEntry> insert;
  bool empty() const { return !remove && !insert; }
};

// Returns true iff ADD, PUT and DELETE maintain the key for `row`: not a
// key filled only by BUILD (0x40), and for a key with a build mark (0x20)
// only rows below the mark: (row - 1) < (mark - 1), unsigned, so a mark of 0
// maintains every row.
bool KeyMaintainedForRow(uint16_t flags, uint32_t build_mark, uint32_t row);

// The entries of one key for a row added (no old image), changed (both) or
// deleted (no new image); an empty span means "no image". An OPT key gives
// an empty image's key no entry. `build_mark` is the key's LastRecord.
// REQUIRES: CheckKeyLayout passed for the images' length.
KeyChange PlanKeyChange(uint32_t table, uint8_t key_number, const KeyLayout& layout,
                        const KeyCollation& collation, std::span<const uint8_t> old_image,
                        std::span<const uint8_t> new_image, uint32_t row, uint32_t build_mark = 0);

// The part of an entry that identifies its value: table, key number and
// value (5 + value size bytes). Two entries of one key have the same value
// iff these prefixes are equal; a unique key allows one entry per prefix.
inline size_t KeyEntryValueEnd(const KeyLayout& layout) {
  return kKeyEntryHeadSize + KeyValueSize(layout);
}

// The row number of a key-entry record: always its last 4 bytes.
// A record shorter than 9 bytes is corruption check 2790.
uint32_t KeyEntryRow(std::span<const uint8_t> entry);

// Big-endian 32-bit integers, the byte order of identifiers in record keys.
inline void PutBigEndian32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}
inline uint32_t GetBigEndian32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_KEY_ENCODING_H_
