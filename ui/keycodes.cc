// Key names for traces.

#include "ui/keycodes.h"

#include <cstdio>

namespace qzr {
namespace {

const char* BaseName(int32_t key) {
  switch (key) {
    case kMouseLeft:
      return "MouseLeft";
    case kMouseRight:
      return "MouseRight";
    case kMouseCenter:
      return "MouseCenter";
    case kMouseLeft2:
      return "MouseLeft2";
    case kMouseRight2:
      return "MouseRight2";
    case kMouseCenter2:
      return "MouseCenter2";
    case kMouseLeftUp:
      return "MouseLeftUp";
    case kMouseRightUp:
      return "MouseRightUp";
    case kMouseCenterUp:
      return "MouseCenterUp";
    case kKeyBackspace:
      return "Backspace";
    case kKeyTab:
      return "Tab";
    case kKeyEnter:
      return "Enter";
    case kKeyEsc:
      return "Esc";
    case kKeySpace:
      return "Space";
    case kKeyPgUp:
      return "PgUp";
    case kKeyPgDn:
      return "PgDn";
    case kKeyEnd:
      return "End";
    case kKeyHome:
      return "Home";
    case kKeyLeft:
      return "Left";
    case kKeyUp:
      return "Up";
    case kKeyRight:
      return "Right";
    case kKeyDown:
      return "Down";
    case kKeyInsert:
      return "Insert";
    case kKeyDelete:
      return "Delete";
    default:
      return nullptr;
  }
}

}  // namespace

std::string KeyName(int32_t keycode) {
  std::string name;
  if (keycode & kCtrl) name += "Ctrl+";
  if (keycode & kAlt) name += "Alt+";
  if (keycode & kShift) name += "Shift+";
  const int32_t key = keycode & kKeyMask;
  if (const char* base = BaseName(key)) {
    name += base;
  } else if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
    name += static_cast<char>(key);
  } else if (key >= kKeyF1 && key < kKeyF1 + 24) {
    name += "F" + std::to_string(key - kKeyF1 + 1);
  } else {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned>(key));
    name += buf;
  }
  return name;
}

}  // namespace qzr
