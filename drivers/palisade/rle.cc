// Run-length page compression: encoder and bounds-checked decoder.

#include "drivers/palisade/rle.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "drivers/palisade/format.h"

namespace qzr::palisade {
namespace {

// Reads one count at in[*pos]; false when the input ends inside it or the
// count needs more than 35 bits (no page comes near that).
bool GetCount(const uint8_t* in, size_t in_len, size_t* pos, uint64_t* value) {
  uint64_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (*pos >= in_len) return false;
    uint8_t b = in[(*pos)++];
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) {
      *value = v;
      return true;
    }
  }
  return false;
}

static_assert(std::endian::native == std::endian::little,
              "the word scans take the first byte in memory as the lowest");

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The first i in [p, n) where kMinRun equal bytes begin, or n.
//
// Sixteen positions a step where SSE2 is there: bit k of `same` says that
// bytes p+k and p+k+1 are equal, and three set bits from k on make a run of
// four starting at k, which can be told for k = 0..13. Elsewhere, and for
// the last bytes, eight bytes a step: in e = w ^ (w >> 8), byte k is zero
// when bytes k and k+1 of w are equal (k < 7), and three zero bytes from k
// on make a run of four starting at k; z marks e's zero bytes by their high
// bit, exactly. Pages of text have no run in most of their bytes, so this
// scan is most of the encoder's time.
size_t FindRun(const uint8_t* in, size_t p, size_t n) {
  static_assert(kMinRun == 4, "the scans look for runs of four");
#if defined(__SSE2__)
  while (p + 17 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 1));
    const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    const uint32_t m = same & (same >> 1) & (same >> 2) & 0x3FFF;
    if (m != 0) return p + static_cast<size_t>(std::countr_zero(m));
    p += 14;
  }
#endif
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kStarts = 0x0000008080808080ULL;  // k = 0..4
  while (p + 8 <= n) {
    const uint64_t w = Load64(in + p);
    const uint64_t e = w ^ (w >> 8);
    const uint64_t z = ~(((e & kLow7) + kLow7) | e | kLow7);
    const uint64_t m = z & (z >> 8) & (z >> 16) & kStarts;
    if (m != 0) return p + static_cast<size_t>(std::countr_zero(m) >> 3);
    p += 5;
  }
  for (; p + kMinRun <= n; ++p) {
    if (in[p] == in[p + 1] && in[p] == in[p + 2] && in[p] == in[p + 3]) return p;
  }
  return n;
}

// The end of the run of in[p]'s value that starts at p.
size_t RunEnd(const uint8_t* in, size_t p, size_t n) {
  const uint8_t b = in[p];
  size_t q = p + 1;
#if defined(__SSE2__)
  const __m128i fill = _mm_set1_epi8(static_cast<char>(b));
  while (q + 16 <= n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + q));
    const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, fill)));
    if (same != 0xFFFF) return q + static_cast<size_t>(std::countr_one(same));
    q += 16;
  }
#endif
  const uint64_t pattern = 0x0101010101010101ULL * b;
  while (q + 8 <= n) {
    const uint64_t diff = Load64(in + q) ^ pattern;
    if (diff != 0) return q + static_cast<size_t>(std::countr_zero(diff) >> 3);
    q += 8;
  }
  while (q < n && in[q] == b) ++q;
  return q;
}

uint8_t* PutCountAt(uint64_t value, uint8_t* out) {
  while (value >= 0x80) {
    *out++ = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<uint8_t>(value);
  return out;
}

uint8_t* PutLiteralAt(const uint8_t* begin, size_t len, uint8_t* out) {
  out = PutCountAt(len, out);
  std::memcpy(out, begin, len);
  return out + len;
}

}  // namespace

size_t PutCount(uint64_t value, std::vector<uint8_t>* out) {
  uint8_t bytes[10];
  const size_t n = static_cast<size_t>(PutCountAt(value, bytes) - bytes);
  out->insert(out->end(), bytes, bytes + n);
  return n;
}

size_t RleEncodeInto(const uint8_t* in, size_t n, uint8_t* out) {
  // Runs are maximal stretches of one byte value; the scan starts at 0 and
  // after each run, so the first kMinRun equal bytes it finds begin a
  // maximal run (the byte before differs), and shorter runs stay literals.
  size_t p = FindRun(in, 0, n);
  if (p >= n) return 0;
  uint8_t* o = out;
  size_t literal_start = 0;  // end of the previous run
  for (; p < n; p = FindRun(in, p, n)) {
    const size_t q = RunEnd(in, p, n);
    // The literal ends with the run's first byte; the repeat count covers
    // the rest of the run.
    o = PutLiteralAt(in + literal_start, p + 1 - literal_start, o);
    o = PutCountAt(q - p - 1, o);
    literal_start = q;
    p = q;
  }
  o = PutLiteralAt(in + literal_start, n - literal_start, o);  // the count may be 0
  return static_cast<size_t>(o - out);
}

bool RleEncode(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
  out->resize(RleEncodeBound(n));
  out->resize(RleEncodeInto(in, n, out->data()));
  return !out->empty();
}

int RleDecode(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_len) {
  size_t pos = 0;
  size_t written = 0;
  for (;;) {
    if (written == out_len) return 0;
    uint64_t literal;
    if (!GetCount(in, in_len, &pos, &literal)) return kCheckLiteralOverrun;
    if (literal > out_len - written || literal > in_len - pos) return kCheckLiteralOverrun;
    std::memcpy(out + written, in + pos, literal);
    pos += literal;
    written += literal;
    if (written == out_len) return 0;
    uint64_t repeat;
    if (!GetCount(in, in_len, &pos, &repeat)) return kCheckRepeatOverrun;
    if (repeat > out_len - written) return kCheckRepeatOverrun;
    if (repeat > 0) {
      if (written == 0) return kCheckRepeatOverrun;  // nothing to repeat yet
      std::memset(out + written, out[written - 1], repeat);
      written += repeat;
    }
  }
}

}  // namespace qzr::palisade
