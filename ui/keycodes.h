// Key codes: how a keystroke or a mouse click is numbered when a procedure
// reads it (the current key code, an alerted key, a history key).
//
// A key code is the key's virtual-key number (the system's numbering: digits
// and letters are their upper-case ASCII codes, Enter 13, F1 112, ...) with
// modifier bits added: kShift 0x100, kCtrl 0x200, kAlt 0x400. So Ctrl+H is
// 0x48 | 0x200 = 584. Mouse buttons take the numbers below 8 (and 0x80 added
// for a release); a double click has its own code. A desktop backend maps its
// toolkit's keys onto these numbers; the headless backend takes them as given.
//
// Constant data only; safe from any thread.

#ifndef QZR_UI_KEYCODES_H_
#define QZR_UI_KEYCODES_H_

#include <cstdint>
#include <string>

namespace qzr {

inline constexpr int32_t kShift = 0x100;
inline constexpr int32_t kCtrl = 0x200;
inline constexpr int32_t kAlt = 0x400;
inline constexpr int32_t kModifierMask = kShift | kCtrl | kAlt;
inline constexpr int32_t kKeyMask = 0xFF;

// Mouse "keys".
inline constexpr int32_t kMouseLeft = 0x01;
inline constexpr int32_t kMouseRight = 0x02;
inline constexpr int32_t kMouseCenter = 0x04;
inline constexpr int32_t kMouseLeft2 = 0x05;  // double click
inline constexpr int32_t kMouseRight2 = 0x06;
inline constexpr int32_t kMouseCenter2 = 0x07;
inline constexpr int32_t kMouseLeftUp = 0x81;
inline constexpr int32_t kMouseRightUp = 0x82;
inline constexpr int32_t kMouseCenterUp = 0x84;

// Keys.
inline constexpr int32_t kKeyBackspace = 0x08;
inline constexpr int32_t kKeyTab = 0x09;
inline constexpr int32_t kKeyEnter = 0x0D;
inline constexpr int32_t kKeyEsc = 0x1B;
inline constexpr int32_t kKeySpace = 0x20;
inline constexpr int32_t kKeyPgUp = 0x21;
inline constexpr int32_t kKeyPgDn = 0x22;
inline constexpr int32_t kKeyEnd = 0x23;
inline constexpr int32_t kKeyHome = 0x24;
inline constexpr int32_t kKeyLeft = 0x25;
inline constexpr int32_t kKeyUp = 0x26;
inline constexpr int32_t kKeyRight = 0x27;
inline constexpr int32_t kKeyDown = 0x28;
inline constexpr int32_t kKeyInsert = 0x2D;
inline constexpr int32_t kKeyDelete = 0x2E;
inline constexpr int32_t kKeyF1 = 0x70;  // F2..F12 follow: kKeyF1 + n - 1

// Combinations the framework uses.
inline constexpr int32_t kKeyCtrlEnter = kCtrl | kKeyEnter;
inline constexpr int32_t kKeyShiftEnter = kShift | kKeyEnter;
inline constexpr int32_t kKeyShiftTab = kShift | kKeyTab;
inline constexpr int32_t kKeyCtrlHome = kCtrl | kKeyHome;
inline constexpr int32_t kKeyCtrlEnd = kCtrl | kKeyEnd;
inline constexpr int32_t kKeyCtrlH = kCtrl | 'H';  // 584: recall a field's previous value

// A letter or digit key with modifiers: KeyCode('H', kCtrl) == kKeyCtrlH.
// Lower-case letters are taken as their keys.
constexpr int32_t KeyCode(int32_t key, int32_t modifiers = 0) {
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  return (key & kKeyMask) | (modifiers & kModifierMask);
}

constexpr bool IsMouseKey(int32_t keycode) {
  const int32_t k = keycode & kKeyMask;
  return k == kMouseLeft || k == kMouseRight || k == kMouseCenter || k == kMouseLeft2 ||
         k == kMouseRight2 || k == kMouseCenter2 || k == kMouseLeftUp || k == kMouseRightUp ||
         k == kMouseCenterUp;
}

// A readable name for traces: "Ctrl+H", "Shift+Enter", "MouseLeft2", "F5",
// "0x7F" for a key without a name.
std::string KeyName(int32_t keycode);

}  // namespace qzr

#endif  // QZR_UI_KEYCODES_H_
