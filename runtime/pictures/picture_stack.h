// FORMAT and DEFORMAT over the runtime value stack: the value is taken from
// the stack and the result pushed back, as the evaluator and field objects
// exchange values.
//
// Thin wrappers over picture.h. A ValueStack belongs to one thread; these
// functions are as thread-safe as the stack they are given.

#ifndef QZR_RUNTIME_PICTURE_STACK_H_
#define QZR_RUNTIME_PICTURE_STACK_H_

#include "runtime/pictures/picture.h"
#include "runtime/values/value_stack.h"

namespace qzr {

// Where a value sits on the value stack.
enum class StackSide {
  kText,     // the string stack
  kDecimal,  // the decimal stack
};

// Pops the value from `from` (a decimal is formatted from its exact text)
// and pushes FORMAT's display text onto the string stack.
// REQUIRES: the stack named by `from` is not empty.
void FormatOnStack(ValueStack* stack, const CompiledPicture& pic, StackSide from);

// Pops display text from the string stack and pushes DEFORMAT's value:
// numbers, dates and times (@N, @E, @P, @D, @T) onto the decimal stack,
// texts (@S, @K, and any text under an invalid picture) onto the string
// stack. A number too large for the decimal accumulator (more than 32
// integer digits) is pushed as its text instead, so that nothing is lost.
// Returns the side the result was pushed on.
// REQUIRES: the string stack is not empty.
StackSide DeformatOnStack(ValueStack* stack, const CompiledPicture& pic);

}  // namespace qzr

#endif  // QZR_RUNTIME_PICTURE_STACK_H_
