// Run-length page compression: encoder and bounds-checked decoder.

#include "drivers/palisade/rle.h"

#include <cstring>

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

void PutLiteral(const uint8_t* begin, size_t len, std::vector<uint8_t>* out) {
  PutCount(len, out);
  out->insert(out->end(), begin, begin + len);
}

}  // namespace

size_t PutCount(uint64_t value, std::vector<uint8_t>* out) {
  size_t n = 0;
  while (value >= 0x80) {
    out->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
    ++n;
  }
  out->push_back(static_cast<uint8_t>(value));
  return n + 1;
}

bool RleEncode(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
  out->clear();
  size_t literal_start = 0;  // end of the previous run
  bool emitted = false;
  size_t p = 0;
  while (p < n) {
    const uint8_t b = in[p];
    size_t q = p + 1;
    while (q < n && in[q] == b) ++q;
    if (q - p >= kMinRun) {
      // The literal ends with the run's first byte; the repeat count covers
      // the rest of the run.
      PutLiteral(in + literal_start, p + 1 - literal_start, out);
      PutCount(q - p - 1, out);
      literal_start = q;
      emitted = true;
    }
    // A shorter run is passed over whole: no longer run can start inside it.
    p = q;
  }
  if (!emitted) {
    out->clear();
    return false;
  }
  PutLiteral(in + literal_start, n - literal_start, out);  // the count may be 0
  return true;
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
