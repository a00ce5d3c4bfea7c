// Run-length compression of a page's record area.
//
// The stream is a sequence of pairs: a literal count L and L literal bytes,
// then a repeat count R meaning "repeat the last byte written R more times".
// Counts are variable-length: 7 bits per byte, least significant group
// first, 0x80 set on every byte but the last. The decoder stops as soon as
// its output is full, so a stream may end after a literal part (the
// encoder's final literal count may be 0 and is then never read).
//
// Pure functions over caller-owned buffers; safe from any thread.

#ifndef QZR_DRIVERS_PALISADE_RLE_H_
#define QZR_DRIVERS_PALISADE_RLE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzr::palisade {

// Runs shorter than this are left in the literals.
inline constexpr size_t kMinRun = 4;

// Compresses in[0, n) into `out` (replacing its contents). Returns false, with
// `out` empty, when the input has no run of kMinRun equal bytes: such input is
// stored as it is. The stream may be a few bytes longer than the input (at
// most n + 10); the caller decides whether compression pays.
bool RleEncode(const uint8_t* in, size_t n, std::vector<uint8_t>* out);

// Room RleEncodeInto needs for n input bytes. A pair costs its literal's
// count, the literal and the repeat count, for the literal and at least
// three repeated bytes of input: the repeat count (one byte below 128, at
// most five) never passes the bytes it stands for by more than the
// literal's count passes one byte, which it does only for a literal of
// 16384 bytes or more (two extra bytes from 2^21, and so on). The stream
// thus passes n only by those extras (at most one per 16384 bytes) and the
// last literal's count (at most 10 bytes).
constexpr size_t RleEncodeBound(size_t n) {
  return n + n / 4096 + 16;
}

// RleEncode into `out`, which has room for RleEncodeBound(n) bytes. Returns
// the stream's length, or 0 when the input has no run of kMinRun equal
// bytes (nothing is written then). The same stream as RleEncode.
size_t RleEncodeInto(const uint8_t* in, size_t n, uint8_t* out);

// Decodes in[0, in_len) into exactly out_len bytes at `out`. Returns 0, or the
// corruption check that failed: kCheckLiteralOverrun (522) when a literal
// would pass the end of the output or of the input, or the stream ends early;
// kCheckRepeatOverrun (530) when a repeat would pass the end of the output or
// has no byte before it to repeat. Never reads or writes out of bounds.
int RleDecode(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_len);

// Appends `value` as a variable-length count; returns the bytes appended.
size_t PutCount(uint64_t value, std::vector<uint8_t>* out);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_RLE_H_
