// Qt keys to key codes.

#include "ui/qt/key_map.h"

#include "ui/keycodes.h"

namespace qzr {
namespace {

struct KeyPair {
  int qt;
  int32_t code;
  bool shifted;  // the symbol is typed with Shift on its key
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, kKeyBackspace, false},
    {Qt::Key_Tab, kKeyTab, false},
    {Qt::Key_Backtab, kKeyTab, true},
    {Qt::Key_Return, kKeyEnter, false},
    {Qt::Key_Enter, kKeyEnter, false},
    {Qt::Key_Escape, kKeyEsc, false},
    {Qt::Key_Space, kKeySpace, false},
    {Qt::Key_PageUp, kKeyPgUp, false},
    {Qt::Key_PageDown, kKeyPgDn, false},
    {Qt::Key_End, kKeyEnd, false},
    {Qt::Key_Home, kKeyHome, false},
    {Qt::Key_Left, kKeyLeft, false},
    {Qt::Key_Up, kKeyUp, false},
    {Qt::Key_Right, kKeyRight, false},
    {Qt::Key_Down, kKeyDown, false},
    {Qt::Key_Insert, kKeyInsert, false},
    {Qt::Key_Delete, kKeyDelete, false},
    {Qt::Key_Pause, 0x13, false},
    {Qt::Key_Print, 0x2C, false},
    {Qt::Key_Menu, 0x5D, false},
    // Punctuation, US layout.
    {Qt::Key_Semicolon, 0xBA, false},
    {Qt::Key_Colon, 0xBA, true},
    {Qt::Key_Equal, 0xBB, false},
    {Qt::Key_Plus, 0xBB, true},
    {Qt::Key_Comma, 0xBC, false},
    {Qt::Key_Less, 0xBC, true},
    {Qt::Key_Minus, 0xBD, false},
    {Qt::Key_Underscore, 0xBD, true},
    {Qt::Key_Period, 0xBE, false},
    {Qt::Key_Greater, 0xBE, true},
    {Qt::Key_Slash, 0xBF, false},
    {Qt::Key_Question, 0xBF, true},
    {Qt::Key_QuoteLeft, 0xC0, false},
    {Qt::Key_AsciiTilde, 0xC0, true},
    {Qt::Key_BracketLeft, 0xDB, false},
    {Qt::Key_BraceLeft, 0xDB, true},
    {Qt::Key_Backslash, 0xDC, false},
    {Qt::Key_Bar, 0xDC, true},
    {Qt::Key_BracketRight, 0xDD, false},
    {Qt::Key_BraceRight, 0xDD, true},
    {Qt::Key_Apostrophe, 0xDE, false},
    {Qt::Key_QuoteDbl, 0xDE, true},
    // Shifted digits.
    {Qt::Key_Exclam, '1', true},
    {Qt::Key_At, '2', true},
    {Qt::Key_NumberSign, '3', true},
    {Qt::Key_Dollar, '4', true},
    {Qt::Key_Percent, '5', true},
    {Qt::Key_AsciiCircum, '6', true},
    {Qt::Key_Ampersand, '7', true},
    {Qt::Key_Asterisk, '8', true},
    {Qt::Key_ParenLeft, '9', true},
    {Qt::Key_ParenRight, '0', true},
};

// Keypad operators have numbers of their own.
constexpr KeyPair kKeypad[] = {
    {Qt::Key_Asterisk, 0x6A, false}, {Qt::Key_Plus, 0x6B, false},  {Qt::Key_Minus, 0x6D, false},
    {Qt::Key_Period, 0x6E, false},   {Qt::Key_Comma, 0x6E, false}, {Qt::Key_Slash, 0x6F, false},
};

}  // namespace

int32_t ModifierBits(Qt::KeyboardModifiers modifiers) {
  int32_t bits = 0;
  if (modifiers & Qt::ShiftModifier) bits |= kShift;
  if (modifiers & Qt::ControlModifier) bits |= kCtrl;
  if (modifiers & Qt::AltModifier) bits |= kAlt;
  return bits;
}

int32_t KeyCodeOf(int qt_key, Qt::KeyboardModifiers modifiers) {
  int32_t mods = ModifierBits(modifiers);
  int32_t code = 0;
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) {
    code = 'A' + (qt_key - Qt::Key_A);
  } else if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) {
    code = '0' + (qt_key - Qt::Key_0);
  } else if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) {
    code = kKeyF1 + (qt_key - Qt::Key_F1);
  } else {
    if (modifiers & Qt::KeypadModifier) {
      for (const KeyPair& k : kKeypad) {
        if (k.qt == qt_key) code = k.code;
      }
    }
    if (code == 0) {
      for (const KeyPair& k : kKeys) {
        if (k.qt == qt_key) {
          code = k.code;
          if (k.shifted) mods |= kShift;
          break;
        }
      }
    }
  }
  if (code == 0) return 0;
  return code | mods;
}

int32_t KeyCodeOf(const QKeyEvent& event) {
  return KeyCodeOf(event.key(), event.modifiers());
}

}  // namespace qzr
