// MEMO and BLOB values of Palisade rows: moving them between a descriptor's
// memo values and the memo pieces of a row.
//
// A MEMO holds at most its declared size: a longer value is cut to that size
// when stored, as the program's fixed memo buffer would. A BLOB has no
// declared size; its limit is what the piece numbering can address (65536
// pieces of 256 bytes, 16 MiB). In a file declared OEM, text memos (not
// BINARY ones, not BLOBs) are stored in the OEM character set and read back
// in the program's.
//
// One thread at a time (the driver serialises calls).

#ifndef QZR_DRIVERS_PALISADE_MEMO_H_
#define QZR_DRIVERS_PALISADE_MEMO_H_

#include <cstdint>
#include <string>

#include "data/file_descriptor.h"
#include "drivers/palisade/tables.h"

namespace qzr::palisade {

// The largest value a memo or BLOB can hold.
inline constexpr size_t kMaxMemoValue = kMemoPieceBytes * 0x10000;

// Returns 0, or 57 ("Invalid Memo File") when a BLOB value of `file` is too
// large to be stored. Run before any change, so a refused row changes
// nothing.
[[nodiscard]] int CheckMemoValues(const FileDescriptor& file);

// Stores every memo and BLOB value of `file` for `row`, replacing what the
// row had. REQUIRES: CheckMemoValues(file) == 0.
void WriteRowMemos(PlxTables* tables, uint32_t table, uint32_t row, const FileDescriptor& file);

// Reads every memo and BLOB value of `row` into `file->memo_values`, in one
// walk over the row's pieces. Returns 0, or 57 when a value's pieces are
// missing or inconsistent (the other values are still read; the damaged one
// is left empty). `keep`, when given, is a cursor kept between reads: it
// finds the row's pieces from where the previous read left it.
[[nodiscard]] int ReadRowMemos(PageTree* tree, uint32_t table, uint32_t row, FileDescriptor* file,
                               TreeCursor* keep = nullptr);

// ReadRowMemos into `values` (one per memo of `file`, emptied first)
// instead of the descriptor's memo values.
[[nodiscard]] int ReadRowMemosInto(PageTree* tree, uint32_t table, uint32_t row,
                                   const FileDescriptor& file, std::vector<std::string>* values,
                                   TreeCursor* keep = nullptr);

// Clears every memo value of `file` (a read with no row behind it).
void ClearMemoValues(FileDescriptor* file);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_MEMO_H_
