// The on-disk format of a Palisade file, in one place.
//
// A Palisade file is a 512-byte header followed by pages. Every page lives in
// one of 59 size-class zones; zone i holds only pages of i * 256 bytes, packed
// back to back, so a page's size follows from its address. All integers are
// little-endian except identifiers inside record keys (big-endian, so that
// byte order sorts them). This header holds the constants, the offset tables
// and the byte helpers; it has no state and is safe from any thread.
//
// FILE HEADER (PlxHeader), 512 bytes at file offset 0
//
//   OFFSET  SIZE     MEANING
//   0       u32      HomeOffset: home file offset of the block (0 for the header)
//   4       u16      HeaderSize: 0x200
//   6       u32      CommittedEnd: file length at the last completed commit
//   10      u32      WorkingEnd: CommittedEnd plus shadow pages appended since
//   14      4 bytes  magic "pAlI"
//   18      u16      reserved, zero
//   20      4 bytes  LastIssued: last identifier issued, BIG-endian
//   24      u32      ChangeCount: +1 at every header commit
//   28      u32      RootPage: page address of the root of the page tree
//   32      u32[60]  ZoneStart[i]: first page address of zone i (entry 0 unused)
//   272     u32[60]  ZoneEnd[i]: one past the last page address of zone i
//
// PAGE ADDRESSES
//
//   A page address counts 256-byte units: file offset = address * 256 + 512.
//   Zone i (1..59) holds the pages of i * 256 bytes at ZoneStart[i] <= a <
//   ZoneEnd[i]; ZoneEnd[i] <= ZoneStart[i+1]. Negative addresses name pages
//   that exist only in memory. The computed end of the file is
//   ZoneEnd[k] * 256 + 512 for the highest non-empty zone k (512 when none).
//
// PAGE (PlxPage), stored in i * 256 bytes of zone i
//
//   OFFSET  SIZE     MEANING
//   0       u32      HomeOffset: the page's own file offset
//   4       u16      StoredSize: bytes as stored, header included
//   6       u16      PlainSize: bytes once decompressed, header included
//   8       u16      Capacity: in-memory capacity of the page, kept with it
//   10      u16      RecordCount
//   12      u8       NodeFlag: 0 leaf, otherwise inner page
//   13      u32[n]   inner pages only: child page address of each record
//   13(+4n) ...      record area, run-length compressed when
//                    StoredSize < PlainSize; padded with 0xB0 to the zone size
//
// RECORD IN A PAGE (relative to the previous record of the same page)
//
//   OFFSET  SIZE     MEANING
//   0       u8       flags: 0x80 Length follows, 0x40 KeyLength follows,
//                    0x3F the number of leading bytes shared with the previous
//                    record (0..63)
//   1       u16      Length (only with 0x80; otherwise the previous Length)
//   ..      u16      KeyLength (only with 0x40; otherwise the previous one)
//   ..      ...      the record's bytes from the shared count to Length
//
// RECORD KEYS (table = 4-byte table number, big-endian)
//
//   KIND               KEY BYTES                                      PAYLOAD
//   table name         FE name                                        table number
//   key entry          table, key number (< F3), value [, row]        [row]
//   data row           table F3 row                                   record image
//   counters           table F6 subject (F3 rows, or a key number)    u32 count, u32 last
//   definition block   table FA u16 block (little-endian)             <= 512 bytes
//   extra block        table FB 01                                    1153 bytes
//   memo/BLOB piece    table FC row memo(u8) piece(u16 big-endian)     <= 256 bytes
//                      (piece 0: u32 total length first)

#ifndef QZR_DRIVERS_PALISADE_FORMAT_H_
#define QZR_DRIVERS_PALISADE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qzr::palisade {

// ---- Header -------------------------------------------------------------

inline constexpr size_t kHeaderBytes = 512;
inline constexpr uint16_t kHeaderSizeValue = 0x200;
inline constexpr char kMagic[4] = {'p', 'A', 'l', 'I'};
inline constexpr int kZoneCount = 60;  // entries of ZoneStart/ZoneEnd; 0 unused
inline constexpr int kMaxClass = 59;   // the largest size class

inline constexpr size_t kHdrHomeOffset = 0;
inline constexpr size_t kHdrHeaderSize = 4;
inline constexpr size_t kHdrCommittedEnd = 6;
inline constexpr size_t kHdrWorkingEnd = 10;
inline constexpr size_t kHdrMagic = 14;
inline constexpr size_t kHdrReserved = 18;
inline constexpr size_t kHdrLastIssued = 20;
inline constexpr size_t kHdrChangeCount = 24;
inline constexpr size_t kHdrRootPage = 28;
inline constexpr size_t kHdrZoneStart = 32;
inline constexpr size_t kHdrZoneEnd = 272;

// Identifiers at or above this value would sort among the table-name
// records (0xFE...), so the counter stops short of it.
inline constexpr uint32_t kIssueLimit = 0xFE000000u;

// ---- Pages --------------------------------------------------------------

inline constexpr size_t kUnit = 256;                        // bytes per page-address unit
inline constexpr size_t kMaxPageBytes = kMaxClass * kUnit;  // 15104
inline constexpr size_t kPageHeaderBytes = 13;
inline constexpr size_t kChildBytes = 4;
inline constexpr uint8_t kPadByte = 0xB0;
// Page addresses must keep file offsets within 32 bits.
inline constexpr int64_t kMaxAddress = (int64_t{0xFFFFFFFF} - 512) / 256 - kMaxClass;

inline constexpr size_t kPgHomeOffset = 0;
inline constexpr size_t kPgStoredSize = 4;
inline constexpr size_t kPgPlainSize = 6;
inline constexpr size_t kPgCapacity = 8;
inline constexpr size_t kPgRecordCount = 10;
inline constexpr size_t kPgNodeFlag = 12;

inline constexpr uint64_t PageOffset(int64_t address) {
  return static_cast<uint64_t>(address) * kUnit + kHeaderBytes;
}
inline constexpr size_t RoundUpToUnit(size_t n) {
  return (n + kUnit - 1) / kUnit * kUnit;
}

// ---- Records ------------------------------------------------------------

inline constexpr uint8_t kRecHasLength = 0x80;
inline constexpr uint8_t kRecHasKeyLength = 0x40;
inline constexpr uint8_t kRecSharedMask = 0x3F;
inline constexpr size_t kMaxShared = 63;

// A record's total length must stay below this bound (the page format's own
// limit)...
inline constexpr size_t kRecordLengthBound = 15094;
// ...and, so that any single record fits an uncompressed leaf page (13-byte
// header, 5-byte record prefix), records are further held to this length.
inline constexpr size_t kMaxRecordLength = kMaxPageBytes - kPageHeaderBytes - 5;  // 15086
// Keys are held to a length at which two separators always fit one inner
// page (13 + 2 * (4 + 5 + key) <= 15104): the longest key the tables build,
// a key entry of 4 + 1 + 7526 + 4 bytes, is within it.
inline constexpr size_t kMaxKeyLength = 7535;

// Record kind bytes (the byte after the table number).
inline constexpr uint8_t kKindTableName = 0xFE;  // first byte of a table-name key
inline constexpr uint8_t kKindRow = 0xF3;
inline constexpr uint8_t kKindCounters = 0xF6;
inline constexpr uint8_t kKindDefinition = 0xFA;
inline constexpr uint8_t kKindExtra = 0xFB;
inline constexpr uint8_t kKindMemo = 0xFC;
inline constexpr uint8_t kKindTxn = 0xFF;       // a file's transaction marker record
inline constexpr uint8_t kMaxKeyNumber = 0xF2;  // key numbers are below kKindRow

inline constexpr size_t kDefinitionBlockBytes = 512;
inline constexpr size_t kExtraBlockBytes = 1153;
inline constexpr size_t kMemoPieceBytes = 256;
inline constexpr size_t kMaxKeyValueBytes = 7526;

// ---- Corruption checks --------------------------------------------------
// Each structural failure has its own number, reported through
// qzr::Corruption as "Possible data corruption in file (<n>)".

inline constexpr int kCheckLiteralOverrun = 522;   // decompression: literal past the output
inline constexpr int kCheckRepeatOverrun = 530;    // decompression: repeat past the output
inline constexpr int kCheckRecordTooLong = 824;    // record at or above the length limit
inline constexpr int kCheckRootHeader = 1013;      // header unreadable when the root was needed
inline constexpr int kCheckIssueReadOnly = 1163;   // identifier issued on a read-only file
inline constexpr int kCheckIssueHeader = 1164;     // header could not be loaded to issue
inline constexpr int kCheckIssueLimit = 1173;      // LastIssued would reach 0xFE000000
inline constexpr int kCheckIssuedInUse = 1175;     // an issued row or table number is in use
inline constexpr int kCheckStoredSize = 1477;      // stored size does not match the zone
inline constexpr int kCheckParseLength = 1602;     // records do not parse to PlainSize
inline constexpr int kCheckOverCapacity = 1659;    // page larger than its capacity
inline constexpr int kCheckPageTooLarge = 1678;    // page of 15105 bytes or more
inline constexpr int kCheckAddress = 1735;         // address outside all zones
inline constexpr int kCheckShiftTooLarge = 1781;   // zone shift larger than the page size
inline constexpr int kCheckParentNotFound = 1891;  // moved page has no parent
inline constexpr int kCheckParentNotInner = 1894;  // moved page's parent is a leaf
inline constexpr int kCheckTreeShape = 1896;       // descent found a cycle or a bad inner page
inline constexpr int kCheckShortTransfer = 2172;   // short read or write
inline constexpr int kCheckReadMultiple = 2272;    // read not a multiple of 64 bytes
inline constexpr int kCheckReadFailed = 2277;      // read failed
inline constexpr int kCheckWriteMultiple = 2286;   // write not a multiple of 64 bytes
inline constexpr int kCheckSeekFailed = 2341;      // offset beyond what the file can address

// ---- Byte helpers -------------------------------------------------------

inline uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t LoadBigU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint16_t LoadBigU16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreBigU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void StoreBigU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// ---- A record's header ----------------------------------------------------

// What a record's header says: the bytes it shares with the record before,
// its whole length and its key's.
struct RecordHead {
  size_t shared = 0;
  size_t length = 0;
  size_t key_length = 0;
};

// Reads the header of record `i` of a record area [in, in + len) at *pos:
// the flags byte, then Length and KeyLength when the flags say they are
// there (the first record must carry both; the others take the previous
// record's, `prev_length` and `prev_key_length`, otherwise). Returns 0, with
// *pos past the header, when the header holds: a length below the bound, a
// key inside it, a shared prefix inside both this record and the one
// before, and the record's own bytes (length - shared) inside the area.
// Else kCheckRecordTooLong for a length at or past the bound, and
// kCheckParseLength for anything else.
inline int ReadRecordHead(const uint8_t* in, size_t len, size_t* pos, size_t i,
                          size_t prev_length, size_t prev_key_length, RecordHead* head) {
  size_t p = *pos;
  if (p >= len) return kCheckParseLength;
  const uint8_t flags = in[p++];
  const size_t shared = flags & kRecSharedMask;
  size_t length = prev_length;
  size_t key_length = prev_key_length;
  if (flags & kRecHasLength) {
    if (len - p < 2) return kCheckParseLength;
    length = LoadU16(in + p);
    p += 2;
  } else if (i == 0) {
    return kCheckParseLength;
  }
  if (flags & kRecHasKeyLength) {
    if (len - p < 2) return kCheckParseLength;
    key_length = LoadU16(in + p);
    p += 2;
  } else if (i == 0) {
    return kCheckParseLength;
  }
  if (length >= kRecordLengthBound) return kCheckRecordTooLong;
  if (key_length > length) return kCheckParseLength;
  if (shared > length || (shared > 0 && (i == 0 || shared > prev_length))) {
    return kCheckParseLength;
  }
  if (len - p < length - shared) return kCheckParseLength;
  *pos = p;
  head->shared = shared;
  head->length = length;
  head->key_length = key_length;
  return 0;
}

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_FORMAT_H_
