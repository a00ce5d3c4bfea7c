// UfoMemo: a field object over a memo's std::string; see ufo_memo.h.

#include "runtime/values/ufo_memo.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/text.h"
#include "runtime/values/ufo_codepage.h"

namespace qzr {

UfoMemo::UfoMemo(std::string* text, uint32_t capacity) : UfoString(text, capacity), text_(text) {}

void UfoMemo::Clear(int /*direction*/) {
  text_->clear();
}

std::unique_ptr<UFO> UfoMemo::Clone() const {
  return std::make_unique<UfoMemo>(text_, length_);
}

void UfoMemo::SetText(std::string_view text) {
  text_->assign(Utf8Cut(text, length_));
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
