// The per-thread value stack.

#include "runtime/values/value_stack.h"

#include <cstring>

#include "runtime/core/fatal.h"

namespace qzr {

namespace {

[[noreturn]] void Underflow() {
  Fatal(kMakeUfoError, "Value stack underflow");
}

}  // namespace

ValueStack::ValueStack() {
  // Room for ordinary expressions, so a warm stack never allocates.
  arena_.resize(4096);
  starts_.reserve(64);
  decimals_.reserve(32);
}

void ValueStack::PushText(std::string_view text) {
  size_t need = arena_used_ + text.size();
  // The text may lie in the arena itself (pushing TopText() again, or a
  // view just popped): keep its offset across a reallocation, and copy with
  // memmove.
  const auto base = reinterpret_cast<uintptr_t>(arena_.data());
  const auto at = reinterpret_cast<uintptr_t>(text.data());
  const bool inside = !text.empty() && at >= base && at < base + arena_.size();
  const size_t offset = inside ? at - base : 0;
  if (need > arena_.size()) {
    size_t cap = arena_.size();
    while (cap < need) cap *= 2;
    arena_.resize(cap);
    if (inside) text = std::string_view(arena_.data() + offset, text.size());
  }
  if (!text.empty()) std::memmove(arena_.data() + arena_used_, text.data(), text.size());
  starts_.push_back(static_cast<uint32_t>(arena_used_));
  arena_used_ = need;
}

std::string_view ValueStack::TopText() const {
  if (starts_.empty()) Underflow();
  size_t start = starts_.back();
  return std::string_view(arena_.data() + start, arena_used_ - start);
}

std::string_view ValueStack::PopTextView() {
  std::string_view top = TopText();
  arena_used_ = starts_.back();
  starts_.pop_back();
  return top;
}

void ValueStack::PushDecimal(const Decimal& d) {
  decimals_.push_back(d);
}

const Decimal& ValueStack::TopDecimal() const {
  if (decimals_.empty()) Underflow();
  return decimals_.back();
}

Decimal ValueStack::PopDecimal() {
  Decimal d = TopDecimal();
  decimals_.pop_back();
  return d;
}

void ValueStack::Reset() {
  starts_.clear();
  arena_used_ = 0;
  decimals_.clear();
}

ValueStack& ThreadValueStack() {
  thread_local ValueStack stack;
  return stack;
}

}  // namespace qzr
