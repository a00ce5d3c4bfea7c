// Cursor names and numbers to Qt cursor shapes.

#include "ui/qt/cursors.h"

#include <string>

#include "ui/message.h"

namespace qzr {

Qt::CursorShape CursorShapeByName(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (key == "hand.cur" || key == "hand2.cur") return Qt::PointingHandCursor;
  return Qt::ArrowCursor;
}

Qt::CursorShape CursorShapeByNumber(int cursor) {
  switch (cursor) {
    case kCursorWait:
      return Qt::WaitCursor;
    case kCursorAppStarting:
      return Qt::BusyCursor;
    case kCursorIBeam:
      return Qt::IBeamCursor;
    case kCursorCross:
      return Qt::CrossCursor;
    case kCursorHand:
      return Qt::PointingHandCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace qzr
