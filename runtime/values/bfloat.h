// BFLOAT4 and BFLOAT8: the binary floating-point formats of older data
// files, converted to and from IEEE doubles.
//
//   BFLOAT4  byte 3: exponent; byte 2 bit 7: sign; bits 0-6 of byte 2,
//            bytes 1 and 0: 23 mantissa bits without the leading 1
//   BFLOAT8  byte 7: exponent; byte 6 bit 7: sign; 55 mantissa bits
//
// An exponent byte of 0 means 0.0. Exponent byte = IEEE exponent - 894.
// Conversions truncate the mantissa; they never round. Pure functions.

#ifndef QZR_RUNTIME_BFLOAT_H_
#define QZR_RUNTIME_BFLOAT_H_

#include <cstdint>

namespace qzr {

// Writes 4 (8) bytes at `out`. A double whose top 16 bits are all zero, or
// whose magnitude lies below the smallest the format holds (exponent byte
// 0 or less), stores all zero bytes; an exponent byte above 255 is stored
// as 255 (so infinities and NaN store the largest exponent).
void DoubleToBFloat4(double v, uint8_t out[4]);
void DoubleToBFloat8(double v, uint8_t out[8]);

double BFloat4ToDouble(const uint8_t in[4]);
double BFloat8ToDouble(const uint8_t in[8]);

}  // namespace qzr

#endif  // QZR_RUNTIME_BFLOAT_H_
