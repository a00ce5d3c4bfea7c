// OLE automation strings (codes 42 and 43): length-prefixed UTF-16 strings
// allocated by the runtime, and the field object that reads and writes them.
//
// Layout of a string: a 4-byte byte count (excluding the terminator), the
// UTF-16 units, a 0 unit; the pointer handed out addresses the first unit.

#include <cstring>

#include "runtime/core/string_compare.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_codepage.h"
#include "runtime/values/value_stack.h"

namespace qzr {

namespace {

constexpr size_t kPrefix = 4;

// Allocates room for `units` units, sets the prefix and the terminator.
char16_t* OleStringAllocUnits(size_t units) {
  auto* block = new uint8_t[kPrefix + 2 * (units + 1)];
  const auto bytes = static_cast<uint32_t>(2 * units);
  std::memcpy(block, &bytes, kPrefix);
  auto* s = reinterpret_cast<char16_t*>(block + kPrefix);
  s[units] = 0;
  return s;
}

bool AllSpaces(std::string_view v) {
  for (char c : v) {
    if (c != ' ') return false;
  }
  return true;
}

}  // namespace

char16_t* OleStringAlloc(std::u16string_view text) {
  char16_t* s = OleStringAllocUnits(text.size());
  if (!text.empty()) std::memcpy(s, text.data(), 2 * text.size());
  return s;
}

void OleStringFree(char16_t* s) {
  if (s != nullptr) delete[](reinterpret_cast<uint8_t*>(s) - kPrefix);
}

uint32_t OleStringLength(const char16_t* s) {
  if (s == nullptr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const uint8_t*>(s) - kPrefix, kPrefix);
  return bytes / 2;
}

UfoOleString::UfoOleString(void* address, TypeCode code)
    : UfoString(address, sizeof(void*)), code_(code) {}

UfoOleString::~UfoOleString() {
  // Owned storage holds a string this object allocated: free it. (For code
  // 43 owned storage holds a null reference, and nothing is freed.)
  if (OwnsStorage()) Put(nullptr);
}

uint8_t* UfoOleString::SlotAddress() const {
  if (address_ == nullptr) return nullptr;
  if (code_ != TypeCode::OLESTRING2) return address_;
  uint8_t* slot;
  std::memcpy(&slot, address_, sizeof slot);
  return slot;
}

char16_t* UfoOleString::Get() const {
  uint8_t* slot = SlotAddress();
  if (slot == nullptr) return nullptr;
  char16_t* s;
  std::memcpy(&s, slot, sizeof s);
  return s;
}

void UfoOleString::Put(char16_t* s) {
  uint8_t* slot = SlotAddress();
  if (slot == nullptr) {
    OleStringFree(s);
    return;
  }
  char16_t* old;
  std::memcpy(&old, slot, sizeof old);
  if (old != s) OleStringFree(old);
  std::memcpy(slot, &s, sizeof s);
}

void UfoOleString::SetText(std::string_view text) {
  // Bytes are taken as Latin-1 characters.
  char16_t* s = OleStringAllocUnits(text.size());
  for (size_t i = 0; i < text.size(); ++i) s[i] = static_cast<unsigned char>(text[i]);
  Put(s);
}

size_t UfoOleString::GetText(char* buf, size_t cap) const {
  const char16_t* s = Get();
  const size_t n = OleStringLength(s);
  for (size_t i = 0; i < n && i < cap; ++i) buf[i] = s[i] <= 0xFF ? static_cast<char>(s[i]) : '?';
  return n;
}

// Neutral and lowest: the empty string. Highest: one U+00FF character,
// which sorts above every text not starting with it.
void UfoOleString::Clear(int direction) {
  if (direction > 0) {
    Put(OleStringAlloc(u"\u00FF"));
  } else {
    Put(nullptr);
  }
}

std::unique_ptr<UFO> UfoOleString::Clone() const {
  return std::make_unique<UfoOleString>(address_, code_);
}

void UfoOleString::OemToAnsi() {
  char16_t* s = Get();
  for (uint32_t i = 0, n = OleStringLength(s); i < n; ++i) {
    if (s[i] <= 0xFF) s[i] = OemToAnsiChar(static_cast<uint8_t>(s[i]));
  }
}

void UfoOleString::AnsiToOem() {
  char16_t* s = Get();
  for (uint32_t i = 0, n = OleStringLength(s); i < n; ++i) {
    if (s[i] <= 0xFF) s[i] = AnsiToOemChar(static_cast<uint8_t>(s[i]));
  }
}

int UfoOleString::Compare(const UFO& other) const {
  return CompareByClass(other);
}

size_t UfoOleString::StoreRaw(void* buffer) const {
  std::memset(buffer, 0, sizeof(void*));
  if (address_ != nullptr) std::memcpy(buffer, address_, sizeof(void*));
  return sizeof(void*);
}

bool UfoOleString::IsFalse() const {
  char buf[256];
  std::string spill;
  return AllSpaces(TextOf(*this, buf, sizeof buf, &spill));
}

}  // namespace qzr
