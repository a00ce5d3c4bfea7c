// FORMAT and DEFORMAT over the value stack. See picture_stack.h.

#include "runtime/pictures/picture_stack.h"

#include <string>

namespace qzr {

void FormatOnStack(ValueStack* stack, const CompiledPicture& pic, StackSide from) {
  std::string shown;
  if (from == StackSide::kDecimal) {
    shown = Format(pic, stack->PopDecimal().ToText());
  } else {
    // The view dies with the next push; format before pushing.
    shown = Format(pic, stack->PopTextView());
  }
  stack->PushText(shown);
}

StackSide DeformatOnStack(ValueStack* stack, const CompiledPicture& pic) {
  const std::string value = Deformat(stack->PopTextView(), pic);
  const PictureKind kind = pic.kind();
  const bool numeric = pic.valid() && kind != PictureKind::String && kind != PictureKind::KeyIn;
  if (numeric) {
    Decimal d;
    if (Decimal::FromText(value, &d)) {
      stack->PushDecimal(d);
      return StackSide::kDecimal;
    }
  }
  stack->PushText(value);
  return StackSide::kText;
}

}  // namespace qzr
