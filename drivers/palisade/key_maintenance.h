// The keys of one Palisade table in operation: keeping their entries in step
// with the rows on ADD, PUT and DELETE, the duplicate check of unique keys,
// per-key counters and build marks, and BUILD.
//
// TableKeys holds the encoder's view of every key of a table (layout,
// collation); MaintainRowKeys applies one row's change to all of them and,
// when a unique key would get a second entry for one value, puts back the
// entries it already changed and answers 40 ("Creates Duplicate Key"), so a
// refused row leaves the keys exactly as they were.
//
// Build marks: a key's counters record keeps its build mark in LastRecord.
// While the mark m is not 0, the key is maintained only for rows below m;
// rows from m on wait for BUILD. APPEND sets the mark to the row it adds
// (when no lower mark is set) so that everything appended after it is left
// to BUILD; BUILD fills the key and clears the mark. A mark of 0 maintains
// every row. The mark is honoured whenever it is non-zero, which also reads
// files whose keys carry the stored build-mark attribute correctly.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_KEY_MAINTENANCE_H_
#define QZR_DRIVERS_PALISADE_KEY_MAINTENANCE_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data/file_descriptor.h"
#include "drivers/palisade/key_encoding.h"
#include "drivers/palisade/tables.h"

namespace qzr::palisade {

// The runtime error of a unique key that already holds the value.
inline constexpr int kCreatesDuplicateKey = 40;

// The collation of a file: the process locale's, or its OEM variant for a
// file declared OEM.
KeyCollation CollationForFile(const FileDescriptor& file);

class TableKeys {
 public:
  // Builds the layout of every key of `declaration`. Returns 0, or 47 after
  // reporting the key (attribute "SIZE" with "Key components are more than a
  // total of 7526 bytes long", or "FIELD" for a component naming no field);
  // with `report` false the 47 is only returned (for tools).
  [[nodiscard]] int Init(const FileDescriptor& declaration, const KeyCollation& collation,
                         bool report = true);

  size_t size() const { return layouts_.size(); }
  // The layout with the flags the encoder and the maintenance rule read:
  // DUP, OPT and NOCASE, and kKeyNotMaintained for an INDEX.
  const KeyLayout& layout(size_t k) const { return layouts_[k]; }
  const KeyCollation& collation() const { return collation_; }
  // The first 5 + value bytes of key k's entries: table, key number, value.
  std::vector<uint8_t> ValuePrefix(uint32_t table, size_t k, std::span<const uint8_t> image) const;

 private:
  std::vector<KeyLayout> layouts_;
  KeyCollation collation_;
};

// Applies a row change to every key of the table: `old_image` empty for an
// ADD, `new_image` empty for a DELETE. Adjusts each key's RecordCount.
// Returns 0, or 40 with every entry of this row as it was before the call.
[[nodiscard]] int MaintainRowKeys(PlxTables* tables, PageTree* tree, uint32_t table,
                                  const TableKeys& keys, std::span<const uint8_t> old_image,
                                  std::span<const uint8_t> new_image, uint32_t row);

// Returns true iff a unique key `k` already has an entry for the value of
// `image` that belongs to a row other than `row` (an OPT key's empty value
// never collides). DUP keys never collide.
bool WouldDuplicate(PageTree* tree, uint32_t table, const TableKeys& keys, size_t k,
                    std::span<const uint8_t> image, uint32_t row);

// After APPEND of `row`: every maintained key without a lower mark gets the
// mark `row`, so that it is left to BUILD from this row on.
void MarkKeysForBuild(PlxTables* tables, uint32_t table, const TableKeys& keys, uint32_t row);

// Returns true iff key k has a pending build mark.
bool KeyNeedsBuild(PlxTables* tables, uint32_t table, size_t k);

// Rebuilds key `k` from the rows: drops its entries, inserts one per row as
// the maintenance rule gives it for a mark of 0, sets RecordCount and clears
// the mark. Returns 0, or 40 when two rows share a value of a unique key (the
// key is then left empty and marked from row 1, so that it reads as needing
// a build rather than as complete).
[[nodiscard]] int BuildKey(PlxTables* tables, PageTree* tree, uint32_t table, const TableKeys& keys,
                           size_t k);

// Deletes every key entry of key k of the table.
void DropKeyEntries(PageTree* tree, uint32_t table, size_t k);

// Deletes every record whose key starts with `prefix`.
void DeleteWithPrefix(PageTree* tree, const std::vector<uint8_t>& prefix);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_KEY_MAINTENANCE_H_
