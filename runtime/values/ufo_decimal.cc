// The decimal family: DECIMAL, PDECIMAL and ULONG field objects, and the
// temporary decimal. Every value passes through a Decimal.

#include <cstring>

#include "runtime/values/ufo.h"
#include "runtime/values/value_stack.h"

namespace qzr {

// ---- DECIMAL.

Decimal UfoDecimal::LoadDecimalValue() const {
  return Decimal::LoadDecimal(address_, static_cast<int>(length_), places_);
}

void UfoDecimal::StoreDecimalValue(const Decimal& d) {
  d.StoreDecimal(address_, static_cast<int>(length_), places_);
}

void UfoDecimal::SetText(std::string_view text) {
  Decimal d;
  // Text that is no number (or too large for the accumulator) stores 0.
  (void)Decimal::FromText(text, &d);
  StoreDecimalValue(d);
}

size_t UfoDecimal::GetText(char* buf, size_t cap) const {
  return LoadDecimalValue().ToText(buf, cap);
}

void UfoDecimal::PopString() {
  SetText(ThreadValueStack().PopTextView());
}

void UfoDecimal::PushString() const {
  char buf[Decimal::kMaxText];
  size_t n = LoadDecimalValue().ToText(buf, sizeof buf);
  ThreadValueStack().PushText(std::string_view(buf, n));
}

void UfoDecimal::PopDecimal() {
  StoreDecimalValue(ThreadValueStack().PopDecimal());
}
void UfoDecimal::PushDecimal() const {
  ThreadValueStack().PushDecimal(LoadDecimalValue());
}

// Highest and lowest: every digit 9, with sign nibble 0 or 8.
void UfoDecimal::Clear(int direction) {
  if (length_ == 0) return;
  if (direction == 0) {
    std::memset(address_, 0, length_);
    return;
  }
  std::memset(address_, 0x99, length_);
  address_[0] = direction > 0 ? 0x09 : 0x89;
}

std::unique_ptr<UFO> UfoDecimal::Clone() const {
  return std::make_unique<UfoDecimal>(address_, static_cast<uint8_t>(length_), places_);
}

int UfoDecimal::Compare(const UFO& other) const {
  if (other.ComputeClass() == ValueClass::Decimal) {
    return Decimal::Compare(LoadDecimalValue(), other.GetDecimal());
  }
  return CompareByClass(other);
}

size_t UfoDecimal::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, length_);
  return length_;
}

// ---- PDECIMAL.

Decimal UfoPDecimal::LoadDecimalValue() const {
  return Decimal::LoadPDecimal(address_, static_cast<int>(length_), places_);
}

void UfoPDecimal::StoreDecimalValue(const Decimal& d) {
  d.StorePDecimal(address_, static_cast<int>(length_), places_);
}

// Neutral: every digit 0, sign F. Highest and lowest: every digit 9, sign F
// or D.
void UfoPDecimal::Clear(int direction) {
  if (length_ == 0) return;
  const uint8_t sign = direction < 0 ? 0x0D : 0x0F;
  std::memset(address_, direction == 0 ? 0x00 : 0x99, length_);
  address_[length_ - 1] = static_cast<uint8_t>((address_[length_ - 1] & 0xF0) | sign);
}

std::unique_ptr<UFO> UfoPDecimal::Clone() const {
  return std::make_unique<UfoPDecimal>(address_, static_cast<uint8_t>(length_), places_);
}

// ---- ULONG.

Decimal UfoULong::LoadDecimalValue() const {
  return Decimal::LoadULong(address_);
}
void UfoULong::StoreDecimalValue(const Decimal& d) {
  d.StoreULong(address_);
}

// Not in the table of clear values; the unsigned range's ends, as for BYTE
// and USHORT: 0, 4294967295, 0.
void UfoULong::Clear(int direction) {
  std::memset(address_, direction > 0 ? 0xFF : 0x00, 4);
}

std::unique_ptr<UFO> UfoULong::Clone() const {
  return std::make_unique<UfoULong>(address_);
}

size_t UfoULong::GetText(char* buf, size_t cap) const {
  return LoadDecimalValue().ToText(buf, cap);
}

// ---- Temporary decimal. Its raw form is a DECIMAL of 33 bytes with 32
// places: 65 digits, enough for every value of the accumulator.

namespace {
constexpr uint8_t kTempDecimalBytes = 33;
constexpr uint8_t kTempDecimalPlaces = 32;
}  // namespace

UfoTempDecimal::UfoTempDecimal(const Decimal& d)
    : UfoDecimal(nullptr, kTempDecimalBytes, kTempDecimalPlaces), value_(d) {}

void UfoTempDecimal::Clear(int direction) {
  value_ = Decimal();
  if (direction == 0) return;
  // Every one of the 64 digits 9.
  char text[Decimal::kMaxText];
  size_t n = 0;
  if (direction < 0) text[n++] = '-';
  for (int i = 0; i < Decimal::kIntDigits; ++i) text[n++] = '9';
  text[n++] = '.';
  for (int i = 0; i < Decimal::kFracDigits; ++i) text[n++] = '9';
  (void)Decimal::FromText(std::string_view(text, n), &value_);
}

// A temporary decimal has no bytes to share: its clone holds a copy.
std::unique_ptr<UFO> UfoTempDecimal::Clone() const {
  return std::make_unique<UfoTempDecimal>(value_);
}

size_t UfoTempDecimal::StoreRaw(void* buffer) const {
  value_.StoreDecimal(static_cast<uint8_t*>(buffer), kTempDecimalBytes, kTempDecimalPlaces);
  return kTempDecimalBytes;
}

}  // namespace qzr
