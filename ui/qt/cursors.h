// Mouse cursors: the cursor files the window definitions name and the
// system's standard cursor numbers (ui/message.h), as Qt cursors.
//
//   "hand.cur", "hand2.cur"      -> the pointing hand
//   kCursorWait                  -> the busy cursor
//   kCursorAppStarting           -> the busy-but-usable cursor
//   kCursorIBeam, kCursorCross   -> text and cross cursors
//   kCursorNormal, kCursorArrow, an unknown name or number -> the arrow
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_CURSORS_H_
#define QZR_UI_QT_CURSORS_H_

#include <QCursor>
#include <string_view>

namespace qzr {

Qt::CursorShape CursorShapeByName(std::string_view name);
Qt::CursorShape CursorShapeByNumber(int cursor);

}  // namespace qzr

#endif  // QZR_UI_QT_CURSORS_H_
