// Qt's keys as the program's key codes (ui/keycodes.h): the virtual-key
// numbering of the system, with the modifier bits.
//
// Letters and digits are their upper-case ASCII codes; the punctuation keys
// take their US-layout key numbers, and a shifted symbol ("!", "{") is the
// key it is typed on with Shift. Keypad keys with their own numbers (the
// operators) get those; keypad digits are digits. A key with no number here
// (a bare modifier, a dead key, a letter outside ASCII) maps to 0: it is
// typed, but nothing can be alerted on it.
//
// Pure functions; any thread.

#ifndef QZR_UI_QT_KEY_MAP_H_
#define QZR_UI_QT_KEY_MAP_H_

#include <QKeyEvent>
#include <cstdint>

namespace qzr {

int32_t KeyCodeOf(int qt_key, Qt::KeyboardModifiers modifiers);
int32_t KeyCodeOf(const QKeyEvent& event);

// The modifier bits (kShift, kCtrl, kAlt) of `modifiers`.
int32_t ModifierBits(Qt::KeyboardModifiers modifiers);

}  // namespace qzr

#endif  // QZR_UI_QT_KEY_MAP_H_
