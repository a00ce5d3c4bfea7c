// The real family: REAL, SREAL, BFLOAT4 and BFLOAT8 field objects, and the
// temporary REAL. Every value passes through a double.

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/values/bfloat.h"
#include "runtime/values/text_number.h"
#include "runtime/values/ufo.h"
#include "runtime/values/value_stack.h"

namespace qzr {

namespace {

double DoubleFromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

// ---- REAL.

double UfoReal::LoadReal() const {
  double v;
  std::memcpy(&v, address_, sizeof v);
  return v;
}

void UfoReal::StoreReal(double v) {
  std::memcpy(address_, &v, sizeof v);
}

int32_t UfoReal::GetLong() const {
  return RealToLong(LoadReal());
}

void UfoReal::SetText(std::string_view text) {
  StoreReal(TextToReal(text));
}

size_t UfoReal::GetText(char* buf, size_t cap) const {
  return RealToText(LoadReal(), buf, cap);
}

void UfoReal::PopString() {
  SetText(ThreadValueStack().PopTextView());
}

void UfoReal::PushString() const {
  char buf[32];
  size_t n = RealToText(LoadReal(), buf, sizeof buf);
  ThreadValueStack().PushText(std::string_view(buf, n));
}

void UfoReal::PopDecimal() {
  StoreReal(ThreadValueStack().PopDecimal().ToDouble());
}
void UfoReal::PushDecimal() const {
  ThreadValueStack().PushDecimal(Decimal::FromDouble(LoadReal()));
}

// The extremes are just below DBL_MAX (bits 7FEFFFFFFFFFFFE3 and
// FFEFFFFFFFFFFFE3), as the stored files have them.
void UfoReal::Clear(int direction) {
  if (direction == 0) {
    StoreReal(0.0);
  } else {
    StoreReal(DoubleFromBits(direction > 0 ? 0x7FEFFFFFFFFFFFE3ull : 0xFFEFFFFFFFFFFFE3ull));
  }
}

std::unique_ptr<UFO> UfoReal::Clone() const {
  return std::make_unique<UfoReal>(address_);
}

int UfoReal::Compare(const UFO& other) const {
  if (other.ComputeClass() == ValueClass::Real) {
    const double x = LoadReal();
    const double y = other.GetReal();
    return (x > y) - (x < y);
  }
  return CompareByClass(other);
}

size_t UfoReal::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 8);
  return 8;
}

// ---- SREAL.

double UfoSReal::LoadReal() const {
  float f;
  std::memcpy(&f, address_, sizeof f);
  return f;
}

void UfoSReal::StoreReal(double v) {
  // A finite double beyond the float range becomes an infinity explicitly:
  // the plain conversion of such a value is undefined.
  float f;
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) {
    f = v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  } else {
    f = static_cast<float>(v);
  }
  std::memcpy(address_, &f, sizeof f);
}

void UfoSReal::Clear(int direction) {
  StoreReal(direction == 0  ? 0.0
            : direction > 0 ? 3.4028234663852886e+38
                            : -3.4028234663852886e+38);
}

std::unique_ptr<UFO> UfoSReal::Clone() const {
  return std::make_unique<UfoSReal>(address_);
}

size_t UfoSReal::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 4);
  return 4;
}

// ---- BFLOAT4.

double UfoBFloat4::LoadReal() const {
  return BFloat4ToDouble(address_);
}
void UfoBFloat4::StoreReal(double v) {
  DoubleToBFloat4(v, address_);
}

// Highest: exponent FF, sign clear, mantissa all ones; lowest: the same
// negative.
void UfoBFloat4::Clear(int direction) {
  if (direction == 0) {
    std::memset(address_, 0, 4);
  } else {
    std::memset(address_, 0xFF, 4);
    if (direction > 0) address_[2] = 0x7F;
  }
}

std::unique_ptr<UFO> UfoBFloat4::Clone() const {
  return std::make_unique<UfoBFloat4>(address_);
}

size_t UfoBFloat4::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 4);
  return 4;
}

// ---- BFLOAT8.

double UfoBFloat8::LoadReal() const {
  return BFloat8ToDouble(address_);
}
void UfoBFloat8::StoreReal(double v) {
  DoubleToBFloat8(v, address_);
}

// As BFLOAT4, over 8 bytes: the sign bit is bit 7 of byte 6.
void UfoBFloat8::Clear(int direction) {
  if (direction == 0) {
    std::memset(address_, 0, 8);
  } else {
    std::memset(address_, 0xFF, 8);
    if (direction > 0) address_[6] = 0x7F;
  }
}

std::unique_ptr<UFO> UfoBFloat8::Clone() const {
  return std::make_unique<UfoBFloat8>(address_);
}

size_t UfoBFloat8::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 8);
  return 8;
}

// ---- Temporary REAL.

UfoTempReal::UfoTempReal(double v) : UfoReal(value_) {
  std::memcpy(value_, &v, sizeof v);
}

}  // namespace qzr
