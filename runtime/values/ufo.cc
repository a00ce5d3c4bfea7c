// The field-object base, the factory and UfoSlot.
//
// The base supplies the operations that work for any class through the
// others (comparison by value class, text convenience, owned storage); the
// operations a class must supply reach the fatal path with runtime error
// 410 when a class does not.

#include "runtime/values/ufo.h"

#include <cstring>
#include <new>

#include "runtime/core/fatal.h"
#include "runtime/core/string_compare.h"

namespace qzr {

namespace {

[[noreturn]] void PureCalled() {
  Fatal(kPureVirtualCalled);
}

}  // namespace

UFO::~UFO() {
  FreeOwned();
}

void UFO::SetLong(int32_t) {
  PureCalled();
}
void UFO::SetReal(double) {
  PureCalled();
}
void UFO::SetUfo(const UFO&) {
  PureCalled();
}
TypeCode UFO::Type() const {
  PureCalled();
}
void UFO::PopString() {
  PureCalled();
}
void UFO::PushString() const {
  PureCalled();
}
void UFO::PopDecimal() {
  PureCalled();
}
void UFO::PushDecimal() const {
  PureCalled();
}
double UFO::GetReal() const {
  PureCalled();
}
int32_t UFO::GetLong() const {
  PureCalled();
}
void UFO::Clear(int) {
  PureCalled();
}
std::unique_ptr<UFO> UFO::Clone() const {
  PureCalled();
}
uint32_t UFO::Size() const {
  PureCalled();
}
ValueClass UFO::GetValueClass() const {
  PureCalled();
}
bool UFO::IsFalse() const {
  PureCalled();
}
void UFO::OemToAnsi() {
  PureCalled();
}
void UFO::AnsiToOem() {
  PureCalled();
}
int UFO::Compare(const UFO&) const {
  PureCalled();
}
size_t UFO::StoreRaw(void*) const {
  PureCalled();
}
void UFO::SetText(std::string_view) {
  PureCalled();
}
size_t UFO::GetText(char*, size_t) const {
  PureCalled();
}
void UFO::SetDecimal(const Decimal&) {
  PureCalled();
}
Decimal UFO::GetDecimal() const {
  PureCalled();
}

int UFO::CompareByClass(const UFO& other) const {
  const ValueClass a = ComputeClass();
  const ValueClass b = other.ComputeClass();
  if (a == ValueClass::String && b == ValueClass::String) {
    char buf_a[256], buf_b[256];
    std::string spill_a, spill_b;
    return CompareText(TextOf(*this, buf_a, sizeof buf_a, &spill_a),
                       TextOf(other, buf_b, sizeof buf_b, &spill_b));
  }
  if (a == ValueClass::Real || b == ValueClass::Real) {
    const double x = GetReal();
    const double y = other.GetReal();
    return (x > y) - (x < y);
  }
  if (a == ValueClass::Integer && b == ValueClass::Integer) {
    return CompareLongs(GetLong(), other.GetLong());
  }
  // Decimals, and a string against an integer or a decimal: exactly, as
  // decimals, so that the text "2.5" does not equal the LONG 2.
  return Decimal::Compare(GetDecimal(), other.GetDecimal());
}

std::string UFO::Text() const {
  char buf[kMaxNumberText];
  size_t n = GetText(buf, sizeof buf);
  if (n <= sizeof buf) return std::string(buf, n);
  std::string s(n, '\0');
  GetText(s.data(), n);
  return s;
}

std::string_view UFO::TextOf(const UFO& other, char* buf, size_t cap, std::string* spill) {
  if (auto* s = dynamic_cast<const UfoString*>(&other); s != nullptr && s->HasDirectText()) {
    return s->TextView();
  }
  size_t n = other.GetText(buf, cap);
  if (n <= cap) return std::string_view(buf, n);
  spill->assign(n, '\0');
  other.GetText(spill->data(), n);
  return *spill;
}

void UFO::AllocateOwned(size_t bytes, const void* initial) {
  FreeOwned();
  address_ = new uint8_t[bytes ? bytes : 1]();
  if (initial != nullptr && bytes != 0) std::memcpy(address_, initial, bytes);
  flags_ |= kUfoOwnsStorage;
}

void UFO::FreeOwned() {
  if (OwnsStorage()) {
    delete[] address_;
    address_ = nullptr;
    flags_ &= static_cast<uint8_t>(~kUfoOwnsStorage);
  }
}

void UFO::Rebind(void* address) {
  if (OwnsStorage()) Fatal(kMakeUfoError, "Rebind of a field object that owns its storage");
  address_ = static_cast<uint8_t*>(address);
}

// ---- Factory.

namespace {

template <class T>
struct Tag {
  using type = T;
};

// Calls make(Tag<Class>{}, constructor arguments...) for the class of
// `code`; an unknown code takes the fatal path.
template <class Make>
UFO* Build(uint8_t code, void* a, uint32_t len, uint8_t places, Make&& make) {
  const auto bytes = static_cast<uint8_t>(len > 255 ? 255 : len);
  switch (static_cast<TypeCode>(code)) {
    case TypeCode::BYTE:
      return make(Tag<UfoByte>{}, a);
    case TypeCode::SHORT:
      return make(Tag<UfoShort>{}, a);
    case TypeCode::USHORT:
      return make(Tag<UfoUShort>{}, a);
    case TypeCode::DATE:
      return make(Tag<UfoDate>{}, a);
    case TypeCode::TIME:
      return make(Tag<UfoTime>{}, a);
    case TypeCode::LONG:
      return make(Tag<UfoLong>{}, a);
    case TypeCode::ULONG:
      return make(Tag<UfoULong>{}, a);
    case TypeCode::SREAL:
      return make(Tag<UfoSReal>{}, a);
    case TypeCode::REAL:
      return make(Tag<UfoReal>{}, a);
    case TypeCode::DECIMAL:
      return make(Tag<UfoDecimal>{}, a, bytes, places);
    case TypeCode::PDECIMAL:
      return make(Tag<UfoPDecimal>{}, a, bytes, places);
    case TypeCode::BFLOAT4:
      return make(Tag<UfoBFloat4>{}, a);
    case TypeCode::BFLOAT8:
      return make(Tag<UfoBFloat8>{}, a);
    case TypeCode::STRING:
    case TypeCode::GROUP:
      return make(Tag<UfoString>{}, a, len);
    case TypeCode::CSTRING:
      return make(Tag<UfoCString>{}, a, len);
    case TypeCode::PSTRING:
      return make(Tag<UfoPString>{}, a, len);
    case TypeCode::REFSTRING:
      return make(Tag<UfoRefString>{}, a, len);
    case TypeCode::ANY:
      return make(Tag<UfoRefString>{}, a, uint32_t{4});
    case TypeCode::OLESTRING1:
      return make(Tag<UfoOleString>{}, a, TypeCode::OLESTRING1);
    case TypeCode::OLESTRING2:
      return make(Tag<UfoOleString>{}, a, TypeCode::OLESTRING2);
    case TypeCode::VARIANTREF:
      return make(Tag<UfoVariantRef>{}, static_cast<Variant*>(a));
    default:
      Fatal(kMakeUfoError, "Make UFO Error");
  }
}

}  // namespace

std::unique_ptr<UFO> MakeUfo(uint8_t code, void* address, uint32_t length, uint8_t places,
                             bool owns_storage, const void* initial) {
  std::unique_ptr<UFO> ufo(Build(
      code, owns_storage ? nullptr : address, length, places,
      [](auto tag, auto... args) -> UFO* { return new typename decltype(tag)::type(args...); }));
  if (owns_storage) {
    if (code == static_cast<uint8_t>(TypeCode::VARIANTREF)) {
      // The storage of a variant is a Variant object, not plain bytes.
      auto* v = new Variant;
      if (initial != nullptr) *v = *static_cast<const Variant*>(initial);
      ufo->address_ = reinterpret_cast<uint8_t*>(v);
      ufo->flags_ |= kUfoOwnsStorage;
    } else {
      ufo->AllocateOwned(ufo->Size(), initial);
    }
  }
  return ufo;
}

UFO* UfoSlot::Make(uint8_t code, void* address, uint32_t length, uint8_t places) {
  Reset();
  ufo_ = Build(code, address, length, places, [this](auto tag, auto... args) -> UFO* {
    using T = typename decltype(tag)::type;
    static_assert(sizeof(T) <= kSize && alignof(T) <= alignof(std::max_align_t));
    return new (raw_) T(args...);
  });
  return ufo_;
}

void UfoSlot::Reset() {
  if (ufo_ != nullptr) {
    ufo_->~UFO();
    ufo_ = nullptr;
  }
}

}  // namespace qzr
