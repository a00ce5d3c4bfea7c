// BFLOAT4 / BFLOAT8 conversions. Pure functions; safe from any thread.

#include "runtime/values/bfloat.h"

#include <cstring>

namespace qzr {

namespace {

constexpr int kExponentBias = 894;  // IEEE double exponent - BFLOAT exponent

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

double FromBits(uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// The BFLOAT exponent byte of `bits`, or 0 when the value is zero or too
// small for the format. Exponents above 255 are stored as 255.
int ExponentByte(uint64_t bits) {
  if ((bits >> 48) == 0) return 0;  // zero and the tiniest positive values
  int e = static_cast<int>((bits >> 52) & 0x7FF) - kExponentBias;
  // Below the smallest exponent the format holds (and -0.0): store zero
  // rather than a wrapped exponent byte.
  if (e <= 0) return 0;
  return e > 255 ? 255 : e;
}

}  // namespace

void DoubleToBFloat4(double v, uint8_t out[4]) {
  uint64_t bits = Bits(v);
  int e = ExponentByte(bits);
  if (e == 0) {
    std::memset(out, 0, 4);
    return;
  }
  uint32_t mant = static_cast<uint32_t>((bits & 0xFFFFFFFFFFFFFull) >> 29);  // top 23 bits
  uint32_t sign = static_cast<uint32_t>(bits >> 63);
  out[0] = static_cast<uint8_t>(mant);
  out[1] = static_cast<uint8_t>(mant >> 8);
  out[2] = static_cast<uint8_t>((mant >> 16) | (sign << 7));
  out[3] = static_cast<uint8_t>(e);
}

void DoubleToBFloat8(double v, uint8_t out[8]) {
  uint64_t bits = Bits(v);
  int e = ExponentByte(bits);
  if (e == 0) {
    std::memset(out, 0, 8);
    return;
  }
  uint64_t mant = (bits & 0xFFFFFFFFFFFFFull) << 3;  // 55 bits
  uint64_t sign = bits >> 63;
  for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(mant >> (8 * i));
  out[6] = static_cast<uint8_t>(((mant >> 48) & 0x7F) | (sign << 7));
  out[7] = static_cast<uint8_t>(e);
}

double BFloat4ToDouble(const uint8_t in[4]) {
  if (in[3] == 0) return 0.0;
  uint64_t mant = static_cast<uint64_t>(in[0]) | static_cast<uint64_t>(in[1]) << 8 |
                  static_cast<uint64_t>(in[2] & 0x7F) << 16;
  uint64_t sign = in[2] >> 7;
  uint64_t e = static_cast<uint64_t>(in[3]) + kExponentBias;
  return FromBits(sign << 63 | e << 52 | mant << 29);
}

double BFloat8ToDouble(const uint8_t in[8]) {
  if (in[7] == 0) return 0.0;
  uint64_t mant = 0;
  for (int i = 0; i < 6; ++i) mant |= static_cast<uint64_t>(in[i]) << (8 * i);
  mant |= static_cast<uint64_t>(in[6] & 0x7F) << 48;
  uint64_t sign = in[6] >> 7;
  uint64_t e = static_cast<uint64_t>(in[7]) + kExponentBias;
  // The 3 lowest mantissa bits have no place in a double: dropped.
  return FromBits(sign << 63 | e << 52 | mant >> 3);
}

}  // namespace qzr
