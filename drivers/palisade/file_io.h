// The 64-byte block layer of the Palisade driver over the file seam.
//
// ReadBlock/WriteBlock (and their Exact forms) move whole 64-byte units
// through an OsFile (runtime/os/file_io.h), enciphered on the way out and
// deciphered on the way in when the file carries a UnitCipher. Structural
// misuse (a length not a multiple of 64, an offset past 4 GiB, a failed or
// short read) is a numbered corruption check; a failed write is an
// operating-system error that the file remembers (its failed state) and that
// the caller reports as ERRORCODE 90.
//
// Threads: an OsFile belongs to one open Palisade file, whose calls the
// driver serialises; nothing here locks.

#ifndef QZR_DRIVERS_PALISADE_FILE_IO_H_
#define QZR_DRIVERS_PALISADE_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/os/file_io.h"

namespace qzr::palisade {

inline constexpr size_t kBlockUnit = 64;

// Reads `length` bytes at `offset`, deciphering each 64-byte unit with
// `home_offset` as the tweak of the first. The pager enciphers every unit
// for the offset where it is written, shadow copies included, so callers
// pass `offset` (the short form); the tweak stays a parameter for tools
// that move enciphered blocks. Returns the bytes read (short at
// end of file; the bytes past what was read are left as they were). A null
// file reads nothing and returns 0.
// Checks: 2272 length not a multiple of 64; 2341 offset past 4 GiB; 2277 the
// read failed.
size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer,
                 uint64_t home_offset);
inline size_t ReadBlock(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer) {
  return ReadBlock(file, offset, length, buffer, offset);
}
// ReadBlock that must read all `length` bytes (check 2172 otherwise).
void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer, uint64_t home_offset);
inline void ReadExact(OsFile* file, uint64_t offset, size_t length, uint8_t* buffer) {
  ReadExact(file, offset, length, buffer, offset);
}

// The `length` bytes at `offset`, as ReadBlock reads them (same checks),
// straight from the file's mapping when it can lend them (a plain file, the
// range below its known length); otherwise read into `scratch` (grown as
// needed). Returns nullptr when the file holds fewer bytes there (a short
// read). The bytes stay valid until the next read or write of the file.
// The caller must know the file's length under whatever keeps other
// processes from shortening it (OsFile::ReadView).
const uint8_t* ReadBlockView(OsFile* file, uint64_t offset, size_t length,
                             std::vector<uint8_t>* scratch);

// Writes `length` bytes at `offset`, enciphered with `home_offset` as the
// tweak of the first unit (the pager passes `offset`: a shadow copy is
// enciphered for where it lies, so that recovery can decipher it before it
// knows its home, and enciphered again for home when it is copied there).
// The caller's buffer is not changed. Returns true on success; false when the write failed (the
// file enters the failed state) or was skipped because the file already had. Checks: 2286 length
// not a multiple of 64; 2341 offset past 4 GiB.
bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer,
                uint64_t home_offset);
inline bool WriteBlock(OsFile* file, uint64_t offset, size_t length, const uint8_t* buffer) {
  return WriteBlock(file, offset, length, buffer, offset);
}

// One block of a run (WriteBlocks): `length` bytes, a multiple of 64.
struct BlockPiece {
  const uint8_t* data;
  size_t length;
};

// Writes `count` blocks back to back from `offset`, each enciphered for
// where it lands, as WriteBlock would write them one after another, in as
// few system calls as the file allows. Each block counts as one write for a
// fault plan, so a failure or a stop lands inside the run with the blocks
// before it written. Returns true on success; false as WriteBlock. Checks
// as WriteBlock.
bool WriteBlocks(OsFile* file, uint64_t offset, const BlockPiece* pieces, size_t count);

// Flushes the file's buffers to the device. Returns true on success; a
// failure puts the file in the failed state.
bool FlushBuffers(OsFile* file);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_FILE_IO_H_
