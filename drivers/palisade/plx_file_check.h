// The logical check of a Palisade file: what the structural check (check.h)
// cannot see, table by table.
//
// For every table named in the file: its definition reads back; every row
// has the declared record length, its memo and BLOB values read back, and
// it has exactly the key entries the maintenance rule gives it (for keys
// with a build mark, rows from the mark on may lack theirs; an INDEX is
// not checked for missing entries); every key entry belongs to a row and
// equals the entry that row's image gives (no stray or stale entries, no
// entry of a row that is gone); every memo piece belongs to a row; the
// counters equal what is stored: rows counted, entries per key counted; and
// the numbering counters stand at or above every number stored: the file's
// LastIssued above its table number and every row, the rows' LastRecord
// above every row (a lower counter would give the next ADD a number in use).
//
// Reads only. Run it on a file no other thread writes.

#ifndef QZR_DRIVERS_PALISADE_PLX_FILE_CHECK_H_
#define QZR_DRIVERS_PALISADE_PLX_FILE_CHECK_H_

#include <string>
#include <vector>

#include "drivers/palisade/check.h"
#include "drivers/palisade/plx_file.h"

namespace qzr::palisade {

struct TableSummary {
  std::string name;
  uint32_t table = 0;
  uint32_t rows = 0;                  // data rows found
  std::vector<uint32_t> key_entries;  // entries found per key
};

struct LogicalReport {
  std::vector<std::string> problems;  // empty when every table is sound
  std::vector<TableSummary> tables;
};

// Checks every table of the open file.
LogicalReport CheckTables(PlxFile* file);

// The structural check and then, when the structure is sound, the logical
// one, of the file at `path` opened read-only (with `password` when it has
// one). Every problem found, or a single one saying why the file could not
// be opened; empty when the file is sound.
std::vector<std::string> CheckPlxFile(const std::string& path, const std::string& password = {});

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_PLX_FILE_CHECK_H_
