// The variant reference (code 45): a field object over a Variant whose
// value class follows what the variant holds.

#include <cstring>
#include <limits>

#include "runtime/core/string_compare.h"
#include "runtime/values/text_number.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_codepage.h"
#include "runtime/values/value_stack.h"

namespace qzr {

namespace {

ValueClass ClassOf(TypeCode t) {
  switch (t) {
    case TypeCode::BYTE:
    case TypeCode::SHORT:
    case TypeCode::USHORT:
    case TypeCode::LONG:
      return ValueClass::Integer;
    case TypeCode::SREAL:
    case TypeCode::REAL:
      return ValueClass::Real;
    default:
      return ValueClass::String;
  }
}

}  // namespace

UfoVariantRef::~UfoVariantRef() {
  if (OwnsStorage()) {
    delete reinterpret_cast<Variant*>(address_);
    address_ = nullptr;
    flags_ &= static_cast<uint8_t>(~kUfoOwnsStorage);
  }
}

ValueClass UfoVariantRef::GetValueClass() const {
  return ClassOf(V().type);
}

void UfoVariantRef::SetLong(int32_t v) {
  V().type = TypeCode::LONG;
  V().long_value = v;
}

void UfoVariantRef::SetReal(double v) {
  V().type = TypeCode::REAL;
  V().real_value = v;
}

void UfoVariantRef::SetText(std::string_view text) {
  V().type = TypeCode::STRING;
  V().text.assign(text.data(), text.size());
}

// A decimal has no slot of its own: it is kept as its canonical text, so
// the variant then computes as a string.
void UfoVariantRef::SetDecimal(const Decimal& d) {
  char buf[Decimal::kMaxText];
  SetText(std::string_view(buf, d.ToText(buf, sizeof buf)));
  V().type = TypeCode::DECIMAL;
}

void UfoVariantRef::SetUfo(const UFO& other) {
  switch (other.ComputeClass()) {
    case ValueClass::Integer:
      SetLong(other.GetLong());
      break;
    case ValueClass::Real:
      SetReal(other.GetReal());
      break;
    case ValueClass::Decimal:
      SetDecimal(other.GetDecimal());
      break;
    default: {
      char buf[kMaxNumberText];
      std::string spill;
      SetText(TextOf(other, buf, sizeof buf, &spill));
    }
  }
}

int32_t UfoVariantRef::GetLong() const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return V().long_value;
    case ValueClass::Real:
      return RealToLong(V().real_value);
    default:
      return TextToLong(V().text);
  }
}

double UfoVariantRef::GetReal() const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return V().long_value;
    case ValueClass::Real:
      return V().real_value;
    default:
      return TextToReal(V().text);
  }
}

Decimal UfoVariantRef::GetDecimal() const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return Decimal::FromLong(V().long_value);
    case ValueClass::Real:
      return Decimal::FromDouble(V().real_value);
    default: {
      Decimal d;
      (void)Decimal::FromText(V().text, &d);
      return d;
    }
  }
}

size_t UfoVariantRef::GetText(char* buf, size_t cap) const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return LongToText(V().long_value, buf, cap);
    case ValueClass::Real:
      return RealToText(V().real_value, buf, cap);
    default: {
      const std::string& t = V().text;
      std::memcpy(buf, t.data(), t.size() < cap ? t.size() : cap);
      return t.size();
    }
  }
}

void UfoVariantRef::PopString() {
  SetText(ThreadValueStack().PopTextView());
}

void UfoVariantRef::PushString() const {
  char buf[kMaxNumberText];
  std::string spill;
  ThreadValueStack().PushText(TextOf(*this, buf, sizeof buf, &spill));
}

void UfoVariantRef::PopDecimal() {
  SetDecimal(ThreadValueStack().PopDecimal());
}
void UfoVariantRef::PushDecimal() const {
  ThreadValueStack().PushDecimal(GetDecimal());
}

// Clears within the class the variant holds: integers and reals as LONG and
// REAL do; text becomes empty (neutral, lowest) or one FF byte (highest).
void UfoVariantRef::Clear(int direction) {
  Variant& v = V();
  switch (GetValueClass()) {
    case ValueClass::Integer:
      v.long_value = direction == 0  ? 0
                     : direction > 0 ? std::numeric_limits<int32_t>::max()
                                     : std::numeric_limits<int32_t>::min();
      break;
    case ValueClass::Real: {
      const uint64_t bits = direction > 0 ? 0x7FEFFFFFFFFFFFE3ull : 0xFFEFFFFFFFFFFFE3ull;
      if (direction == 0) {
        v.real_value = 0.0;
      } else {
        std::memcpy(&v.real_value, &bits, sizeof bits);
      }
      break;
    }
    default:
      v.text.assign(direction > 0 ? 1 : 0, '\xFF');
  }
}

std::unique_ptr<UFO> UfoVariantRef::Clone() const {
  return std::make_unique<UfoVariantRef>(&V());
}

uint32_t UfoVariantRef::Size() const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return 4;
    case ValueClass::Real:
      return 8;
    default:
      return static_cast<uint32_t>(V().text.size());
  }
}

bool UfoVariantRef::IsFalse() const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      return V().long_value == 0;
    case ValueClass::Real:
      return V().real_value == 0.0;
    default:
      for (char c : V().text) {
        if (c != ' ') return false;
      }
      return true;
  }
}

void UfoVariantRef::OemToAnsi() {
  if (GetValueClass() != ValueClass::String) return;
  std::string& t = V().text;
  OemToAnsiBuffer(reinterpret_cast<uint8_t*>(t.data()), t.size());
}

void UfoVariantRef::AnsiToOem() {
  if (GetValueClass() != ValueClass::String) return;
  std::string& t = V().text;
  AnsiToOemBuffer(reinterpret_cast<uint8_t*>(t.data()), t.size());
}

int UfoVariantRef::Compare(const UFO& other) const {
  return CompareByClass(other);
}

// The value as a LONG (4 bytes), a REAL (8) or the text's bytes.
size_t UfoVariantRef::StoreRaw(void* buffer) const {
  switch (GetValueClass()) {
    case ValueClass::Integer:
      std::memcpy(buffer, &V().long_value, 4);
      return 4;
    case ValueClass::Real:
      std::memcpy(buffer, &V().real_value, 8);
      return 8;
    default: {
      const std::string& t = V().text;
      if (!t.empty()) std::memcpy(buffer, t.data(), t.size());
      return t.size();
    }
  }
}

}  // namespace qzr
