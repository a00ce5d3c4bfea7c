// The string family: STRING (and GROUP), CSTRING, PSTRING, the string
// reference, and the temporary string. Every value passes through text.

#include <cstring>

#include "runtime/core/string_compare.h"
#include "runtime/values/text_number.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_codepage.h"
#include "runtime/values/value_stack.h"

namespace qzr {

// ---- STRING: n bytes padded with spaces.

std::string_view UfoString::TextView() const {
  return std::string_view(reinterpret_cast<const char*>(address_), length_);
}

void UfoString::SetText(std::string_view text) {
  const size_t n = text.size() < length_ ? text.size() : length_;
  // memmove: the text may come from this very field (a slice of itself).
  if (n != 0) std::memmove(address_, text.data(), n);
  if (length_ > n) std::memset(address_ + n, ' ', length_ - n);
}

size_t UfoString::GetText(char* buf, size_t cap) const {
  std::string_view v = TextView();
  if (!v.empty()) std::memcpy(buf, v.data(), v.size() < cap ? v.size() : cap);
  return v.size();
}

void UfoString::SetLong(int32_t v) {
  char buf[16];
  SetText(std::string_view(buf, LongToText(v, buf, sizeof buf)));
}

void UfoString::SetReal(double v) {
  char buf[32];
  SetText(std::string_view(buf, RealToText(v, buf, sizeof buf)));
}

void UfoString::SetDecimal(const Decimal& d) {
  char buf[Decimal::kMaxText];
  SetText(std::string_view(buf, d.ToText(buf, sizeof buf)));
}

void UfoString::SetUfo(const UFO& other) {
  char buf[kMaxNumberText];
  std::string spill;
  SetText(TextOf(other, buf, sizeof buf, &spill));
}

std::string_view UfoString::ReadText(char* buf, size_t cap, std::string* spill) const {
  return HasDirectText() ? TextView() : TextOf(*this, buf, cap, spill);
}

double UfoString::GetReal() const {
  char buf[kMaxNumberText];
  std::string spill;
  return TextToReal(ReadText(buf, sizeof buf, &spill));
}

int32_t UfoString::GetLong() const {
  char buf[kMaxNumberText];
  std::string spill;
  return TextToLong(ReadText(buf, sizeof buf, &spill));
}

Decimal UfoString::GetDecimal() const {
  char buf[kMaxNumberText];
  std::string spill;
  Decimal d;
  (void)Decimal::FromText(ReadText(buf, sizeof buf, &spill), &d);  // zero when no number
  return d;
}

void UfoString::PushString() const {
  char buf[kMaxNumberText];
  std::string spill;
  ThreadValueStack().PushText(ReadText(buf, sizeof buf, &spill));
}

void UfoString::PopString() {
  SetText(ThreadValueStack().PopTextView());
}
void UfoString::PopDecimal() {
  SetDecimal(ThreadValueStack().PopDecimal());
}
void UfoString::PushDecimal() const {
  ThreadValueStack().PushDecimal(GetDecimal());
}

void UfoString::Clear(int direction) {
  if (length_ == 0) return;
  std::memset(address_, direction == 0 ? ' ' : direction > 0 ? 0xFF : 0x00, length_);
}

std::unique_ptr<UFO> UfoString::Clone() const {
  return std::make_unique<UfoString>(address_, length_);
}

bool UfoString::IsFalse() const {
  for (char c : TextView()) {
    if (c != ' ') return false;
  }
  return true;
}

void UfoString::OemToAnsi() {
  OemToAnsiBuffer(address_, TextExtent());
}
void UfoString::AnsiToOem() {
  AnsiToOemBuffer(address_, TextExtent());
}

int UfoString::Compare(const UFO& other) const {
  if (other.Type() == Type() && other.Length() == length_) {
    // The OLE strings, the only ones without direct text, have a Compare of
    // their own and codes no other class has: the same code here means a
    // direct-text string class on both sides.
    const auto& o = static_cast<const UfoString&>(other);
    return CompareText(TextView(), o.TextView());
  }
  return CompareByClass(other);
}

size_t UfoString::StoreRaw(void* buffer) const {
  if (length_ != 0) std::memcpy(buffer, address_, length_);
  return length_;
}

// ---- CSTRING: at most n-1 characters, a 0, then zeros.

std::string_view UfoCString::TextView() const {
  if (length_ == 0) return {};
  const void* end = std::memchr(address_, 0, length_);
  // Without a terminator (a damaged field) the text stops at the field's end.
  const size_t n = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - address_) : length_;
  return std::string_view(reinterpret_cast<const char*>(address_), n);
}

void UfoCString::SetText(std::string_view text) {
  if (length_ == 0) return;
  const size_t room = length_ - 1;
  const size_t n = text.size() < room ? text.size() : room;
  if (n != 0) std::memmove(address_, text.data(), n);
  // Zeros to the end of the field, not just one terminator: a stale tail of
  // a longer earlier value would otherwise be written to files and found
  // by searches over the whole record.
  std::memset(address_ + n, 0, length_ - n);
}

// Neutral and lowest: empty (all zero bytes). Highest: n-1 bytes FF and the
// terminator.
void UfoCString::Clear(int direction) {
  if (length_ == 0) return;
  std::memset(address_, 0, length_);
  if (direction > 0) std::memset(address_, 0xFF, length_ - 1);
}

std::unique_ptr<UFO> UfoCString::Clone() const {
  return std::make_unique<UfoCString>(address_, length_);
}

// ---- PSTRING: a length byte, at most n-1 characters, then zeros.

namespace {

// Characters a PSTRING of `length` bytes can hold: n-1, and no more than
// its length byte can count.
inline size_t PStringRoom(uint32_t length) {
  if (length == 0) return 0;
  return length - 1 < 255 ? length - 1 : 255;
}

}  // namespace

std::string_view UfoPString::TextView() const {
  if (length_ == 0) return {};
  const size_t room = PStringRoom(length_);
  const size_t n = address_[0] < room ? address_[0] : room;
  return std::string_view(reinterpret_cast<const char*>(address_ + 1), n);
}

void UfoPString::SetText(std::string_view text) {
  if (length_ == 0) return;
  const size_t room = PStringRoom(length_);
  const size_t n = text.size() < room ? text.size() : room;
  if (n != 0) std::memmove(address_ + 1, text.data(), n);
  // As for CSTRING: no stale tail after the text.
  std::memset(address_ + 1 + n, 0, length_ - 1 - n);
  address_[0] = static_cast<uint8_t>(n);
}

// Neutral and lowest: empty (all zero bytes). Highest: the longest text of
// FF bytes.
void UfoPString::Clear(int direction) {
  if (length_ == 0) return;
  std::memset(address_, 0, length_);
  if (direction > 0) {
    const size_t room = PStringRoom(length_);
    address_[0] = static_cast<uint8_t>(room);
    std::memset(address_ + 1, 0xFF, room);
  }
}

std::unique_ptr<UFO> UfoPString::Clone() const {
  return std::make_unique<UfoPString>(address_, length_);
}

void UfoPString::OemToAnsi() {
  std::string_view v = TextView();
  OemToAnsiBuffer(address_ + 1, v.size());
}

void UfoPString::AnsiToOem() {
  std::string_view v = TextView();
  AnsiToOemBuffer(address_ + 1, v.size());
}

// ---- String reference.

std::unique_ptr<UFO> UfoRefString::Clone() const {
  return std::make_unique<UfoRefString>(address_, length_);
}

// ---- Temporary string.

UfoTempString::UfoTempString(std::string_view text) : UfoString(nullptr, 0) {
  SetText(text);
}

UfoTempString::~UfoTempString() = default;

void UfoTempString::SetText(std::string_view text) {
  if (text.size() > capacity_ || !OwnsStorage()) {
    // Copy before freeing: `text` may lie in the old storage.
    auto* fresh = new uint8_t[text.size() ? text.size() : 1];
    if (!text.empty()) std::memcpy(fresh, text.data(), text.size());
    FreeOwned();
    address_ = fresh;
    flags_ |= kUfoOwnsStorage;
    capacity_ = static_cast<uint32_t>(text.size());
  } else if (!text.empty()) {
    std::memmove(address_, text.data(), text.size());
  }
  length_ = static_cast<uint32_t>(text.size());
}

}  // namespace qzr
