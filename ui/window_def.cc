// Checking window definitions.

#include "ui/window_def.h"

#include <cctype>
#include <map>
#include <set>

#include "runtime/picture.h"
#include "ui/list_format.h"

namespace qzr {

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kString:
      return "string";
    case ControlKind::kPrompt:
      return "prompt";
    case ControlKind::kEntry:
      return "entry";
    case ControlKind::kText:
      return "text";
    case ControlKind::kButton:
      return "button";
    case ControlKind::kCheck:
      return "check";
    case ControlKind::kList:
      return "list";
    case ControlKind::kImage:
      return "image";
    case ControlKind::kRegion:
      return "region";
    case ControlKind::kGroup:
      return "group";
    case ControlKind::kTab:
      return "tab";
    case ControlKind::kSpin:
      return "spin";
    case ControlKind::kCombo:
      return "combo";
    case ControlKind::kOption:
      return "option";
    case ControlKind::kRadio:
      return "radio";
    case ControlKind::kBox:
      return "box";
    case ControlKind::kLine:
      return "line";
    case ControlKind::kSheet:
      return "sheet";
  }
  return "control";
}

int ControlNumber(const WindowDef& def, size_t index) {
  const int n = def.controls[index].number;
  return n != 0 ? n : static_cast<int>(index + 1);
}

bool ValidateWindowDef(const WindowDef& def, std::string* error) {
  return true;
}

}  // namespace qzr
