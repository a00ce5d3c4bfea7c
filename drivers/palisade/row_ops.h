// Row operations on one table of a Palisade file: adding, replacing and
// deleting rows with their key entries, memo pieces and counters, and the
// sequential position that NEXT, PREVIOUS and SKIP move through the rows, in
// row-number order or in the order of a key.
//
// A row change is all or nothing at this level: the duplicate check runs
// before the row record is touched, and a refused change puts back the key
// entries it had changed. Writing out (and so durability) is the caller's.
//
// Sequential position. A position is one of:
//   kStart     before the first record of the order (NEXT reads the first,
//              PREVIOUS the last);
//   kSeek      at a seek point: NEXT reads the first record at or after it,
//              PREVIOUS the last record at or before it;
//   kOn        on a record that was read: NEXT reads the one after it,
//              PREVIOUS the one before.
// Records are found again by key after any change, so a position stays
// meaningful when rows come and go under it.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_ROW_OPS_H_
#define QZR_DRIVERS_PALISADE_ROW_OPS_H_

#include <cstdint>
#include <span>
#include <vector>

#include "data/file_descriptor.h"
#include "drivers/palisade/key_maintenance.h"
#include "drivers/palisade/tables.h"

namespace qzr::palisade {

// One table of an open file.
struct TableRef {
  PlxTables* tables = nullptr;
  PageTree* tree = nullptr;
  uint32_t table = 0;
  const TableKeys* keys = nullptr;
};

// ADD (or APPEND, which leaves the keys to BUILD): issues a row number,
// inserts the key entries, the row and its memos (from `memos`, or none when
// nullptr), counts the row. Returns 0; 40 (nothing stored); 57 (a BLOB too
// large, nothing stored).
[[nodiscard]] int AddRow(const TableRef& t, std::span<const uint8_t> image,
                         const FileDescriptor* memos, bool append, uint32_t* row);

// PUT: replaces row `row` with `image` (and its memos, unless `memos` is
// nullptr), re-encoding its key entries. Returns 0, 35 when the row does not
// exist, 40 or 57 with nothing changed.
[[nodiscard]] int PutRow(const TableRef& t, uint32_t row, std::span<const uint8_t> image,
                         const FileDescriptor* memos);

// DELETE: removes the row's key entries, the row and its memo pieces.
// Returns 0, or 35 when the row does not exist.
[[nodiscard]] int DeleteRow(const TableRef& t, uint32_t row);

// Removes every row of the table (EMPTY): rows, memo pieces and key
// entries; the counters go to zero and build marks are cleared.
void EmptyTable(const TableRef& t);

// Removes every record of the table, its name included (REMOVE of a table).
void DropTable(PageTree* tree, const std::string& name, uint32_t table);

// The sequential position of a descriptor.
struct SeqPosition {
  enum class Kind { kStart, kSeek, kOn };
  Kind kind = Kind::kStart;
  int key = -1;               // -1: row order; else the key number
  std::vector<uint8_t> next;  // kSeek: NEXT reads the first record >= next
  std::vector<uint8_t> prev;  // kSeek: PREVIOUS reads the last record < prev
  std::vector<uint8_t> at;    // kOn: the key of the record read
  bool on_row = false;        // kOn after a read: the record must still exist
  // The tree and page-layout versions when the position was last moved: while
  // both stand, nothing has changed and a kept cursor is still on `at`.
  uint64_t tree_version = 0;
  uint64_t layout_version = 0;
};

// Positions: row order from the start, at row `row`, or in key order.
SeqPosition StartOfRows();
SeqPosition AtRow(uint32_t table, uint32_t row);
SeqPosition StartOfKey(int key);
// At the key value of `image` in key `key`: NEXT reads the first record with
// that value or the next greater, PREVIOUS the last with that value or less.
SeqPosition AtKeyValue(const TableRef& t, int key, std::span<const uint8_t> image);
// At the entry of `row` with the value of `image` (for a DUP key the row
// orders equal values; for a unique key it is the value alone).
SeqPosition AtKeyEntry(const TableRef& t, int key, std::span<const uint8_t> image, uint32_t row);
// At a raw entry key (table, key number, value [, row]).
SeqPosition AtEntryKey(int key, std::vector<uint8_t> entry_key);

// One step of a sequential read. Returns 0 with *row (and the position now
// on that record); 33 when no further record exists; 35 when the record the
// position was on no longer exists (the position then lets the next step
// continue past it). `keep`, when given, is a cursor kept between steps
// (one per descriptor): while nothing changed it moves on from where it is
// instead of seeking from the root again.
[[nodiscard]] int Step(const TableRef& t, SeqPosition* pos, bool forward, uint32_t* row,
                       TreeCursor* keep = nullptr);

// The position after a read of `row` by GET: on that record in row order,
// or, in key order, on its entry for `image`.
void PlaceOnRow(const TableRef& t, SeqPosition* pos, uint32_t row, std::span<const uint8_t> image);

// The row of the first entry of key `key` with the value of `image`, or 0.
uint32_t FindByKey(const TableRef& t, int key, std::span<const uint8_t> image);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_ROW_OPS_H_
