// The table definition stream of a Palisade table, and the naming of tables
// inside a file.
//
// A table's definition (record length, fields, memos and BLOBs, keys) is
// stored as a byte stream split over definition-block records. One routine
// walks a declaration in stream order in three modes: write (serialise a
// declaration when a table is created), read (rebuild a declaration for a
// file opened without one) and compare (check a program's declaration
// against the stored one on every open, stopping at the first difference
// with the attribute that differs).
//
// Primitives: byte; u16 little-endian; string = its characters then 0x00,
// with 0x00 0x00 for an empty string and 0x00 0x01 for an absent one.
//
// Stream contents, in order:
//   u16 DefinitionVersion (2 when any memo is a BLOB, else 1)
//   u16 record length; u16 field count; u16 memo count; u16 key count
//   per field: byte type, u16 offset, string label, u16 DIM (element count,
//     0 when not dimensioned), u16 SIZE (bytes of one element), u16 OVER
//     (1-based number of the overlaid field, 0 for none), u16 extra word;
//     DECIMAL/PDECIMAL: byte digits, byte places;
//     STRING/CSTRING/PSTRING: u16 length, string picture (absent when none)
//   per memo: string external name (absent when none), string label,
//     u16 SIZE, u16 flags (0x02 BINARY, 0x04 BLOB)
//   per key: string external name (absent when none), string label, byte
//     flags (0x01 DUP, 0x02 OPT, 0x04 NOCASE, 0x10 PRIMARY, 0x40 an INDEX,
//     filled only by BUILD), u16 component count, per component u16 field
//     number (0-based) and u16 flags (0x01 descending)
//
// Pure functions over their arguments; safe from any thread.

#ifndef QZR_DRIVERS_PALISADE_TABLE_DEF_H_
#define QZR_DRIVERS_PALISADE_TABLE_DEF_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/declaration_check.h"
#include "data/file_descriptor.h"
#include "drivers/palisade/record.h"

namespace qzr::palisade {

inline constexpr uint16_t kDefinitionVersion = 1;
inline constexpr uint16_t kDefinitionVersionBlob = 2;

// Key attribute bits as stored.
inline constexpr uint8_t kStoredKeyDup = 0x01;
inline constexpr uint8_t kStoredKeyOpt = 0x02;
inline constexpr uint8_t kStoredKeyNocase = 0x04;
inline constexpr uint8_t kStoredKeyPrimary = 0x10;
inline constexpr uint8_t kStoredKeyBuildMark = 0x20;
inline constexpr uint8_t kStoredKeyNotMaintained = 0x40;

// The stored attribute byte of a declared key.
uint8_t StoredKeyFlags(const KeyDesc& key);

// The stream of `file`'s declaration. REQUIRES: ValidateForStorage(file)
// found nothing.
std::vector<uint8_t> WriteDefinition(const FileDescriptor& file);

// A declaration that cannot be stored in a Palisade table: counts, sizes or
// offsets beyond 65535, a record longer than a row may be, a MEMO larger
// than 65535 bytes. The problem names the item and attribute.
std::optional<DeclarationProblem> ValidateForStorage(const FileDescriptor& file);

// Rebuilds the declaration (fields, memos, keys, a record buffer of the
// stored length, memo values) from a stream. Returns false when the stream
// is damaged (ends early, or names fields that do not exist); `out` is then
// unspecified.
bool ReadDefinition(Bytes stream, FileDescriptor* out);

// The first difference between the stored stream and `file`'s declaration,
// or nullopt when they match. Compared, in stream order: the version
// ("VERSION": newer than 2 cannot be opened), field, memo and key counts
// ("FIELDS", "MEMOS", "KEYS"); per field "TYPE", "DIM", "SIZE", "OVER", and
// for DECIMAL and PDECIMAL digits ("SIZE") and places ("PLACES") unless
// `decimal_check` is false; per memo "SIZE" (not for a BLOB) and "BINARY";
// per key the flags without PRIMARY ("ATTRIBUTE"), the component count
// ("FIELDS"), each component's field ("FIELD") and direction ("ASCENDING").
// A stream that ends early is reported against the item being read.
std::optional<DeclarationProblem> CompareDefinition(Bytes stream, const FileDescriptor& file,
                                                    bool decimal_check);

// The message of a definition newer than this code can read.
inline constexpr char kNewerFormatText[] =
    "You are attempting to open a newer Palisade file format than the driver supports";

// ---- Table names ----------------------------------------------------------

struct TableName {
  std::string file;   // the operating-system file, with ".PLX" added when it has no extension
  std::string table;  // "UNNAMED" without a separator; may be empty
};

inline constexpr char kTableSeparator[] = "\\!";
inline constexpr char kUnnamedTable[] = "UNNAMED";
inline constexpr char kDefaultExtension[] = ".PLX";

// Splits `name` at the first "\!" whose text before it is not an existing
// directory. A name ending in the separator names the empty table.
TableName SplitTableName(const std::string& name);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_TABLE_DEF_H_
