#include "ui/qt/key_map.h"

#include <gtest/gtest.h>

#include "ui/keycodes.h"

namespace qzr {
namespace {

TEST(KeyMapTest, QtKeysBecomeTheSystemsKeyCodes) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    int32_t expected;
  } cases[] = {
      {Qt::Key_H, Qt::ControlModifier, kKeyCtrlH},  // 584
      {Qt::Key_A, Qt::NoModifier, 'A'},
      {Qt::Key_Z, Qt::ShiftModifier | Qt::AltModifier, 'Z' | kShift | kAlt},
      {Qt::Key_5, Qt::NoModifier, '5'},
      {Qt::Key_5, Qt::KeypadModifier, '5'},
      {Qt::Key_Return, Qt::ControlModifier, kKeyCtrlEnter},
      {Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier, kKeyShiftEnter},
      {Qt::Key_Insert, Qt::NoModifier, kKeyInsert},
      {Qt::Key_Delete, Qt::NoModifier, kKeyDelete},
      {Qt::Key_Escape, Qt::NoModifier, kKeyEsc},
      {Qt::Key_Backtab, Qt::ShiftModifier, kKeyShiftTab},
      {Qt::Key_F1, Qt::NoModifier, kKeyF1},
      {Qt::Key_F12, Qt::NoModifier, kKeyF1 + 11},
      {Qt::Key_PageDown, Qt::NoModifier, kKeyPgDn},
      {Qt::Key_Home, Qt::ControlModifier, kKeyCtrlHome},
      {Qt::Key_Exclam, Qt::ShiftModifier, '1' | kShift},  // not PgUp (0x21)
      {Qt::Key_BraceLeft, Qt::ShiftModifier, 0xDB | kShift},
      {Qt::Key_Minus, Qt::NoModifier, 0xBD},
      {Qt::Key_Minus, Qt::KeypadModifier, 0x6D},
      {Qt::Key_Shift, Qt::ShiftModifier, 0},  // a bare modifier
      {Qt::Key_Adiaeresis, Qt::NoModifier, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyCodeOf(c.key, c.mods), c.expected)
        << KeyName(c.expected) << " from 0x" << std::hex << c.key;
  }
}

}  // namespace
}  // namespace qzr
