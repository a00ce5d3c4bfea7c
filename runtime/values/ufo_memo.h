// UfoMemo: a field object over a text MEMO's value, which a file keeps in a
// std::string (FileDescriptor::memo_values) rather than at a fixed address,
// so that windows can bind a text control to a memo like to any field.
//
// The value holds at most `capacity` bytes (the memo's declared size).
// SetText of a longer text keeps the longest prefix that fits and does not
// end inside a UTF-8 sequence; callers that must not lose text check the
// length first. Clear empties the text whatever the direction (a memo has
// no padding and no high value).
//
// Threads: like every field object, used by the thread that owns the memo.

#ifndef QZR_RUNTIME_UFO_MEMO_H_
#define QZR_RUNTIME_UFO_MEMO_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/values/ufo.h"

namespace qzr {

class UfoMemo : public UfoString {
 public:
  // REQUIRES: `text` outlives this object and its clones.
  UfoMemo(std::string* text, uint32_t capacity);

  TypeCode Type() const override { return TypeCode::MEMO; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  void SetText(std::string_view text) override;
  std::string_view TextView() const override { return *text_; }
  void OemToAnsi() override;
  void AnsiToOem() override;
  // The text, zero-padded to the capacity.
  size_t StoreRaw(void* buffer) const override;

 protected:
  size_t TextExtent() const override { return text_->size(); }

 private:
  std::string* text_;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_UFO_MEMO_H_
