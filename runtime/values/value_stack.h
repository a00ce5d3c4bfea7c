// The runtime value stack: a string stack and a decimal stack.
//
// Field objects push their values here as text or as decimals and pop them
// back (the evaluator, pictures and conversions work through it). Texts are
// kept back to back in one growing arena, so once the stack has reached its
// working depth, pushes and pops do not allocate.
//
// Each thread has its own stack (ThreadValueStack()); a ValueStack object
// itself is not thread-safe. Popping or reading an empty stack is an
// internal inconsistency of the caller and takes the fatal path (internal
// error 501 with the detail "Value stack underflow").

#ifndef QZR_RUNTIME_VALUE_STACK_H_
#define QZR_RUNTIME_VALUE_STACK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/values/decimal.h"

namespace qzr {

class ValueStack {
 public:
  ValueStack();
  ValueStack(const ValueStack&) = delete;
  ValueStack& operator=(const ValueStack&) = delete;

  // ---- String stack.
  void PushText(std::string_view text);
  // The top text. REQUIRES: TextDepth() > 0. The view stays valid until the
  // next push on this stack.
  std::string_view TopText() const;
  // Removes the top text and returns it; the view stays valid until the
  // next push on this stack. REQUIRES: TextDepth() > 0.
  std::string_view PopTextView();
  std::string PopText() { return std::string(PopTextView()); }
  size_t TextDepth() const { return starts_.size(); }

  // ---- Decimal stack.
  void PushDecimal(const Decimal& d);
  // REQUIRES: DecimalDepth() > 0.
  const Decimal& TopDecimal() const;
  Decimal PopDecimal();
  size_t DecimalDepth() const { return decimals_.size(); }

  // Conveniences over the decimal stack: a LONG is pushed exactly, a REAL
  // as its shortest decimal text (NaN and infinities push zero); popping a
  // LONG truncates toward zero (out of range: -2147483648).
  void PushLong(int32_t v) { PushDecimal(Decimal::FromLong(v)); }
  void PushReal(double v) { PushDecimal(Decimal::FromDouble(v)); }
  int32_t PopLong() { return PopDecimal().ToLong(); }
  double PopReal() { return PopDecimal().ToDouble(); }

  // Empties both stacks, keeping their capacity.
  void Reset();

 private:
  std::vector<char> arena_;       // texts back to back
  std::vector<uint32_t> starts_;  // start offset of each text in arena_
  size_t arena_used_ = 0;
  std::vector<Decimal> decimals_;
};

// This thread's value stack.
ValueStack& ThreadValueStack();

}  // namespace qzr

#endif  // QZR_RUNTIME_VALUE_STACK_H_
