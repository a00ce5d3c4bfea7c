// The integer family: LONG, BYTE, SHORT, USHORT, DATE and TIME field
// objects. Every value passes through a LONG; the classes differ only in
// their storage form, clear values and raw size.

#include <cstring>
#include <limits>

#include "runtime/core/string_compare.h"
#include "runtime/values/date_time.h"
#include "runtime/values/text_number.h"
#include "runtime/values/ufo.h"
#include "runtime/values/value_stack.h"

namespace qzr {

namespace {

constexpr int32_t kLongMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kLongMax = std::numeric_limits<int32_t>::max();

inline void Store32(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

inline uint16_t Load16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline void Store16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

// ---- LONG.

void UfoLong::SetReal(double v) {
  StoreLong(RealToLong(v));
}
void UfoLong::SetUfo(const UFO& other) {
  StoreLong(other.GetLong());
}
void UfoLong::SetText(std::string_view text) {
  StoreLong(TextToLong(text));
}

size_t UfoLong::GetText(char* buf, size_t cap) const {
  return LongToText(LoadLong(), buf, cap);
}

void UfoLong::PopString() {
  SetText(ThreadValueStack().PopTextView());
}

void UfoLong::PushString() const {
  char buf[16];
  size_t n = LongToText(LoadLong(), buf, sizeof buf);
  ThreadValueStack().PushText(std::string_view(buf, n));
}

// A decimal is truncated toward zero (as a REAL is).
void UfoLong::PopDecimal() {
  StoreLong(ThreadValueStack().PopDecimal().ToLong());
}
void UfoLong::PushDecimal() const {
  ThreadValueStack().PushDecimal(Decimal::FromLong(LoadLong()));
}

void UfoLong::Clear(int direction) {
  StoreLong(direction == 0 ? 0 : direction > 0 ? kLongMax : kLongMin);
}

std::unique_ptr<UFO> UfoLong::Clone() const {
  return std::make_unique<UfoLong>(address_);
}

int UfoLong::Compare(const UFO& other) const {
  if (other.ComputeClass() == ValueClass::Integer) return CompareLongs(GetLong(), other.GetLong());
  return CompareByClass(other);
}

size_t UfoLong::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 4);
  return 4;
}

// ---- BYTE: the low 8 bits, read unsigned.

void UfoByte::Clear(int direction) {
  StoreLong(direction > 0 ? 255 : 0);
}
std::unique_ptr<UFO> UfoByte::Clone() const {
  return std::make_unique<UfoByte>(address_);
}

size_t UfoByte::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 1);
  return 1;
}

// ---- SHORT: the low 16 bits, read sign-extended.

void UfoShort::Clear(int direction) {
  StoreLong(direction == 0 ? 0 : direction > 0 ? 32767 : -32768);
}

std::unique_ptr<UFO> UfoShort::Clone() const {
  return std::make_unique<UfoShort>(address_);
}

size_t UfoShort::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 2);
  return 2;
}

// ---- USHORT: the low 16 bits, read unsigned.

void UfoUShort::Clear(int direction) {
  StoreLong(direction > 0 ? 65535 : 0);
}
std::unique_ptr<UFO> UfoUShort::Clone() const {
  return std::make_unique<UfoUShort>(address_);
}

size_t UfoUShort::StoreRaw(void* buffer) const {
  std::memcpy(buffer, address_, 2);
  return 2;
}

// ---- DATE: byte 0 day, byte 1 month, bytes 2-3 year.

int32_t UfoDate::LoadLong() const {
  const int day = address_[0];
  const int month = address_[1];
  const int year = Load16(address_ + 2);
  if (day == 0 && month == 0 && year == 0) return 0;
  if (year > 9999) return kLastDate;  // 31 December 9999
  const int32_t date = DateFromParts(month, day, year);
  return date < 0 ? 0 : date;
}

void UfoDate::StoreLong(int32_t v) {
  int year = 0, month = 0, day = 0;
  if (v == 0 || DateToParts(v, &year, &month, &day) != 0) year = month = day = 0;
  address_[0] = static_cast<uint8_t>(day);
  address_[1] = static_cast<uint8_t>(month);
  Store16(address_ + 2, static_cast<uint32_t>(year));
}

void UfoDate::Clear(int direction) {
  if (direction > 0) {
    address_[0] = 31;
    address_[1] = 12;
    Store16(address_ + 2, 9999);
  } else {
    std::memset(address_, 0, 4);
  }
}

std::unique_ptr<UFO> UfoDate::Clone() const {
  return std::make_unique<UfoDate>(address_);
}

// ---- TIME: byte 0 hundredths, 1 seconds, 2 minutes, 3 hours.

int32_t UfoTime::LoadLong() const {
  const int hundredths = address_[0];
  const int seconds = address_[1];
  const int minutes = address_[2];
  const int hours = address_[3];
  if ((hundredths | seconds | minutes | hours) == 0) return 0;
  if (hours > 23 || minutes > 59 || seconds > 59 || hundredths > 99) return -1;
  return TimeFromParts(hours, minutes, seconds, hundredths);
}

void UfoTime::StoreLong(int32_t v) {
  int hours = 0, minutes = 0, seconds = 0, hundredths = 0;
  if (TimeToParts(v, &hours, &minutes, &seconds, &hundredths) != 0) {
    hours = minutes = seconds = hundredths = 0;
  }
  address_[0] = static_cast<uint8_t>(hundredths);
  address_[1] = static_cast<uint8_t>(seconds);
  address_[2] = static_cast<uint8_t>(minutes);
  address_[3] = static_cast<uint8_t>(hours);
}

void UfoTime::Clear(int direction) {
  if (direction > 0) {
    address_[0] = 99;
    address_[1] = 59;
    address_[2] = 59;
    address_[3] = 23;
  } else {
    std::memset(address_, 0, 4);
  }
}

std::unique_ptr<UFO> UfoTime::Clone() const {
  return std::make_unique<UfoTime>(address_);
}

// ---- Temporary LONG.

UfoTempLong::UfoTempLong(int32_t v) : UfoLong(value_) {
  Store32(value_, v);
}

}  // namespace qzr
