// The Palisade driver behind the FileDriver interface: name "PALISADE",
// display name "Palisade (PLX)", default extension ".PLX".
//
// Every call runs under one process-wide mutex. A descriptor opened with
// OPEN (or SHARE) owns a file object of its own (plx_file.h) with its own
// page cache and locks; two descriptors of one file, in this process or
// another, meet through the lock map, never through shared memory.
//
// Operations and their arguments (FileArgs):
//   OPEN, SHARE      the descriptor's open_mode (SHARE: 0x42 when 0); the
//                    table "file\!table" of PhysicalName() (no separator:
//                    "UNNAMED"); a missing file or table is created when the
//                    descriptor has CREATE and write access, else 2.
//   CREATE           creates the file or adds the table to it (an existing
//                    table of that name is replaced, other tables are kept);
//                    leaves the descriptor closed. Needs the file exclusively.
//   CLOSE            writes streamed changes out; a file still in a
//                    transaction has its uncommitted changes dropped.
//   ADD, APPEND      the record buffer (ADDfilelen/APPENDlen: its first
//                    `length` bytes, the rest stored as zeros) and the memo
//                    values. APPEND leaves the keys to BUILD.
//   PUT, PUTfileptr  the current row (PUTfileptr: row `position`).
//   DELETE           the current row.
//   GETfileptr       row `position` (GETfileptrlen: its first `length`
//                    bytes into the buffer); GETkeyptr the same, positioning
//                    key `key` on it; GETfilekey the first row whose key
//                    `key` value equals the buffer's.
//   SETfile, SETkey  the start of row order / key order; SETfileptr row
//                    `position`; SETkeykey the buffer's value; SETkeyptr the
//                    entry of row `position`; SETkeykeyptr the buffer's value
//                    and row `position`; SETfilekey row order at the row the
//                    buffer's value of key `key` finds.
//   NEXT, PREVIOUS   33 at the end; 35 once when the row read last vanished.
//   SKIP             `length` read as a signed count; stops at either end.
//   RECORDSfile/key  result = RecordCount. POINTERfile/key: result = the
//                    current row. BYTES: result = bytes of the last read.
//   POSITIONfile     value = the current row, 4 bytes big-endian;
//   POSITIONkey      value = the key value then the row (4 bytes).
//   REGETfile/key    reads the row of a position in `value` (key: and
//                    positions key order on it); RESETfile/key position the
//                    sequence at it.
//   HOLDfile[sec]    holds the current row (43 when another file object
//                    holds it; with `timeout` seconds it retries that long)
//                    and arms held reads: each later read holds the row it
//                    reads and lets the previous one go. RELEASE frees every
//                    hold and disarms.
//   LOCKfile[sec]    counted table lock (32); UNLOCK.
//   WATCH            the next read remembers the row; a PUT or DELETE of it
//                    after another file object changed it gives 89.
//   STREAM, FLUSH    keep changes in memory (and the writer byte on a
//                    shared file) until FLUSH.
//   LOGOUT           enlists the file in this thread's transaction (56 when
//                    it already is); COMMIT writes every enlisted file out;
//                    ROLLBACK drops their changes (91 without LOGOUT).
//   BUILDfile        keys with a pending build mark and every INDEX (all
//                    keys when FULLBUILD is ON); BUILDkey key `key`.
//   EMPTY, PACK      need the file opened deny write or deny all (63).
//   REMOVE, RENAME, COPY
//                    on a closed descriptor: the whole file (REMOVE of one
//                    table of several drops that table); RENAME and COPY
//                    take the new name in `value`.
//   DUPLICATE[key]   result = 1 when the buffer would duplicate a unique key
//                    (all of them, or key `key`).
//   NOMEMO           the next read leaves the memo values alone.
//   BLOB_SIZE        result = bytes of memo/BLOB `index` in the buffer.
//   GETSTATE         result = a handle of the saved position and hold state;
//                    RESTORESTATE and FREESTATE take it in `position`.
//   SEND             `driver_string` is the command, `value` the reply: see
//                    the commands below.
//   GET_PROPERTY, SET_PROPERTY   `property` and `value` (decimal text):
//                    7355h read-ahead, 7C95h THREAD, 7311h BLOB count,
//                    7C9Bh rows usually read after a positioning.
//   GETPROPERTYkey   key `key`, property below (component: `index`, 1-based).
//   QUERY_VIEW       0 at once. Anything else: 80.
//
// SEND commands (name matched without regard to case at the start; "=" and
// a value may follow, blanks allowed around "="; the reply is the value
// before the command): "DecimalCheck" (ON/OFF), "FULLBUILD" (ON/OFF), "TCF"
// (the process-wide transaction control file, "" for the default), "PNM=t"
// (table t's name as stored; "PNMQ=t" the same in double quotes; "" when
// none), "FLAGS" (the file's state bits in hex, below). The common commands
// "Recover" and "QUICKSCAN" are accepted and answer "". Others give 80.
// On a closed descriptor the per-file settings are kept for its next OPEN.
//
// Threads: callable from any thread; calls are serialised.

#ifndef QZR_DRIVERS_PALISADE_DRIVER_H_
#define QZR_DRIVERS_PALISADE_DRIVER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "data/file_driver.h"
#include "drivers/palisade/pager.h"

namespace qzr {

inline constexpr char kPalisadeDriverName[] = "PALISADE";
inline constexpr char kPalisadeDisplayName[] = "Palisade (PLX)";
inline constexpr char kPalisadeExtension[] = ".PLX";

// The key properties of GETPROPERTYkey (value as decimal text or a name).
inline constexpr uint32_t kKeyPropertyDup = 1;         // "1" or "0"
inline constexpr uint32_t kKeyPropertyNocase = 2;      // "1" or "0"
inline constexpr uint32_t kKeyPropertyPrimary = 3;     // "1" or "0"
inline constexpr uint32_t kKeyPropertyComponents = 4;  // the component count
inline constexpr uint32_t kKeyPropertyComponent =
    5;  // component `index`: field number (1-based), "-" first when descending
inline constexpr uint32_t kKeyPropertyOpt = 6;  // "1" or "0"
inline constexpr uint32_t kKeyPropertyLabel = 7;
inline constexpr uint32_t kKeyPropertyName = 8;
inline constexpr uint32_t kKeyPropertyRecords = 9;  // entries in the key

// FLAGS reply bits.
inline constexpr uint32_t kFlagShared = 0x01;
inline constexpr uint32_t kFlagDenyWrite = 0x02;
inline constexpr uint32_t kFlagReadOnly = 0x04;
inline constexpr uint32_t kFlagFullBuild = 0x08;
inline constexpr uint32_t kFlagDecimalCheck = 0x10;
inline constexpr uint32_t kFlagStream = 0x20;
inline constexpr uint32_t kFlagTransaction = 0x40;
inline constexpr uint32_t kFlagEncrypted = 0x80;

// A new instance of the driver.
std::unique_ptr<FileDriver> MakePalisadeDriver();

// Registers the driver under "PALISADE" unless one is registered already.
void RegisterPalisadeDriver();

// The transaction control file named by the "TCF" command or switch; "" while
// the default is in use.
std::string PalisadeTransactionFile();

// Test seams: pager options for files opened from now on (small page limits
// make splits run on small data) and how long a lock is waited for.
void SetPalisadeTestOptions(const palisade::PagerOptions& pager, int lock_wait_ms);

// How long an operation of a file opened from now on waits for another
// file object's lock before it gives up with 5 (default 30 s); a command
// that should answer quickly sets a few seconds.
void SetPalisadeLockWait(int lock_wait_ms);
void ResetPalisadeTestOptions();

}  // namespace qzr

#endif  // QZR_DRIVERS_PALISADE_DRIVER_H_
