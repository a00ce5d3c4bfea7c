// Checking window definitions.

#include "ui/window_def.h"

#include <map>
#include <set>
#include <utility>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
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

ControlDef MakeControl(int number, ControlKind kind, std::string name, std::string text, Rect at,
                       int parent, uint32_t flags) {
  ControlDef c;
  c.number = number;
  c.kind = kind;
  c.name = std::move(name);
  c.text = std::move(text);
  c.at = at;
  c.parent = parent;
  c.flags = flags;
  return c;
}

int ControlNumber(const WindowDef& def, size_t index) {
  const int n = def.controls[index].number;
  return n != 0 ? n : static_cast<int>(index + 1);
}

std::string DescribeControl(const WindowDef& def, int number, const std::string& name) {
  std::string out = "Window \"" + def.name + "\", control " + std::to_string(number);
  if (!name.empty()) out += " (" + name + ")";
  return out;
}

std::string PictureText(std::string_view picture) {
  if (picture.empty() || picture[0] == '@') return std::string(picture);
  return "@" + std::string(picture);
}

bool ValidateControlDef(const WindowDef& def, const ControlDef& control, int number,
                        std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = DescribeControl(def, number, control.name) + ": " + what;
    return false;
  };
  if (number <= 0) return fail("control numbers must be positive");
  if (control.parent == number) return fail("the control cannot enclose itself");
  if (!control.picture.empty() && !CompilePicture(PictureText(control.picture)).valid()) {
    return fail("bad picture \"" + control.picture + "\"");
  }
  if (control.kind == ControlKind::kList) {
    ListFormat format;
    std::string why;
    if (!ParseListFormat(control.format, &format, &why)) return fail("bad list format: " + why);
  }
  return true;
}

bool ValidateWindowDef(const WindowDef& def, std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  std::set<int> numbers;
  std::map<std::string, int> names;
  for (size_t i = 0; i < def.controls.size(); ++i) {
    const ControlDef& c = def.controls[i];
    const int number = ControlNumber(def, i);
    if (!ValidateControlDef(def, c, number, error)) return false;
    if (!numbers.insert(number).second) {
      *error = DescribeControl(def, number, c.name) + ": the number is used twice";
      return false;
    }
    if (!c.name.empty()) {
      auto [it, fresh] = names.emplace(Upper(c.name), number);
      if (!fresh) {
        *error = DescribeControl(def, number, c.name) + ": the name is already used by control " +
                 std::to_string(it->second);
        return false;
      }
    }
  }
  for (size_t i = 0; i < def.controls.size(); ++i) {
    const ControlDef& c = def.controls[i];
    if (c.parent != 0 && numbers.count(c.parent) == 0) {
      *error = DescribeControl(def, ControlNumber(def, i), c.name) + ": its parent " +
               std::to_string(c.parent) + " does not exist";
      return false;
    }
  }
  return true;
}

}  // namespace qzr
