// Tables inside a Palisade file: the record kinds of the page tree and the
// table-level operations on them.
//
// Every piece of a table is a record of the file's one page tree, keyed by
// the table number (4 bytes, big-endian) and a kind byte: key entries
// (key number < 0xF3), data rows (0xF3), counters (0xF6), definition blocks
// (0xFA), the extra block (0xFB) and memo/BLOB pieces (0xFC). Table names
// are records of their own, 0xFE then the name. Identifiers come from the
// file header's LastIssued counter and are stored big-endian so that byte
// order is numeric order.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_TABLES_H_
#define QZR_DRIVERS_PALISADE_TABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/file_descriptor.h"
#include "drivers/palisade/page_tree.h"

namespace qzr::palisade {

// ---- Record keys ------------------------------------------------------------

std::vector<uint8_t> TableNameKey(const std::string& name);
std::vector<uint8_t> RowKey(uint32_t table, uint32_t row);
std::vector<uint8_t> CountersKey(uint32_t table, uint8_t subject);
std::vector<uint8_t> DefinitionKey(uint32_t table, uint16_t block);
std::vector<uint8_t> ExtraKey(uint32_t table);
std::vector<uint8_t> MemoKey(uint32_t table, uint32_t row, uint8_t memo, uint16_t piece);
// A key entry: table, key number, the encoded key value, then the row
// number (big-endian) -- inside the key for a key that allows duplicates
// (so equal values order by row), as the payload otherwise. Check 824 when
// the value is longer than a key may be.
PlxRecord MakeKeyEntry(uint32_t table, uint8_t key_number, Bytes value, uint32_t row, bool dup);
// The row number of a key entry: its last four bytes (0 when too short).
uint32_t KeyEntryRow(const PlxRecord& entry);
uint32_t KeyEntryRow(const RecordView& entry);
// The first key of a kind within a table (for range scans): table, kind.
std::vector<uint8_t> KindPrefix(uint32_t table, uint8_t kind);

// A counters record: RecordCount and LastRecord.
struct Counters {
  uint32_t RecordCount = 0;
  uint32_t LastRecord = 0;
};

// ---- Table operations ----------------------------------------------------

class PlxTables {
 public:
  explicit PlxTables(PageTree* tree) : tree_(tree) {}

  // The table number of `name`, or nullopt.
  std::optional<uint32_t> FindTable(const std::string& name);

  // Creates table `name` for `declaration`: issues a table number and
  // writes the table-name record, the definition blocks (from 0), a counters
  // record for the rows and one per key, and the extra block. Returns 0;
  // 47 (reported through the declaration check) when the declaration cannot
  // be stored; 40 when a table of that name exists.
  int CreateTable(const std::string& name, const FileDescriptor& declaration, uint32_t* table);

  // The concatenated definition blocks of `table` (empty when none).
  std::vector<uint8_t> DefinitionStream(uint32_t table);

  // Compares `declaration` with the stored definition of `table`. Returns 0,
  // or 47 after reporting the first difference.
  int CompareTable(uint32_t table, const FileDescriptor& declaration, bool decimal_check);

  // The names of all tables, in key order.
  std::vector<std::string> ListTables();

  // ---- Counters
  Counters ReadCounters(uint32_t table, uint8_t subject);
  void WriteCounters(uint32_t table, uint8_t subject, const Counters& counters);

  // ---- Rows and memos (the storage under ADD, PUT, DELETE and GET)

  // Stores the row's record image (inserting or replacing).
  void PutRow(uint32_t table, uint32_t row, Bytes image);
  // Copies the row's image into *image; false when the row does not exist.
  bool GetRow(uint32_t table, uint32_t row, std::vector<uint8_t>* image);
  bool DeleteRow(uint32_t table, uint32_t row);

  // Replaces memo `memo` of the row with `value` (no pieces when empty).
  // Returns false, changing nothing, when the value needs more than 65536
  // pieces (16 MiB).
  bool WriteMemo(uint32_t table, uint32_t row, uint8_t memo, Bytes value);
  // Reads memo `memo` of the row ("" when it has none). Returns 0, or 57
  // ("Invalid Memo File") when its pieces are missing or inconsistent.
  int ReadMemo(uint32_t table, uint32_t row, uint8_t memo, std::vector<uint8_t>* value);
  // Deletes every memo piece of the row (all memos).
  void DeleteMemos(uint32_t table, uint32_t row);

 private:
  void DeleteRange(const std::vector<uint8_t>& prefix);

  PageTree* tree_;
};

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_TABLES_H_
