// UfoMemo: a field object over a memo's std::string; see ufo_memo.h.

#include "runtime/ufo_memo.h"

#include <algorithm>
#include <cstring>

#include "runtime/ufo_codepage.h"

namespace qzr {
namespace {

// The longest prefix of `text` of at most `max` bytes that does not end
// inside a UTF-8 sequence.
std::string_view FitText(std::string_view text, size_t max) {
  if (text.size() <= max) return text;
  size_t n = max;
  // Step back over continuation bytes, then drop a lead byte whose
  // sequence would not be complete.
  size_t back = 0;
  while (n > 0 && back < 3 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
    --n;
    ++back;
  }
  return text.substr(0, n);
}

}  // namespace

UfoMemo::UfoMemo(std::string* text, uint32_t capacity) : UfoString(text, capacity), text_(text) {}

void UfoMemo::Clear(int /*direction*/) {
  text_->clear();
}

std::unique_ptr<UFO> UfoMemo::Clone() const {
  return std::make_unique<UfoMemo>(text_, length_);
}

void UfoMemo::SetText(std::string_view text) {
  text_->assign(FitText(text, length_));
}

void UfoMemo::OemToAnsi() {
  OemToAnsiBuffer(reinterpret_cast<uint8_t*>(text_->data()), text_->size());
}

void UfoMemo::AnsiToOem() {
  AnsiToOemBuffer(reinterpret_cast<uint8_t*>(text_->data()), text_->size());
}

size_t UfoMemo::StoreRaw(void* buffer) const {
  const size_t n = std::min<size_t>(text_->size(), length_);
  if (n != 0) std::memcpy(buffer, text_->data(), n);
  if (length_ > n) std::memset(static_cast<char*>(buffer) + n, 0, length_ - n);
  return length_;
}

}  // namespace qzr
