// The message, cursor and beep calls over the current backend.

#include "ui/message.h"

#include <atomic>

#include "ui/window_backend.h"

namespace qzr {
namespace {

std::atomic<int> g_cursor{kCursorNormal};

bool IsSingleButton(int value, int buttons) {
  return value > 0 && (value & (value - 1)) == 0 && (value & buttons) != 0;
}

}  // namespace

std::string_view ButtonCaption(int button) {
  switch (button) {
    case kButtonOk:
      return "O&k";
    case kButtonYes:
      return "&Yes";
    case kButtonNo:
      return "&No";
    case kButtonAbort:
      return "&Abort";
    case kButtonRetry:
      return "&Retry";
    case kButtonIgnore:
      return "&Ignore";
    case kButtonCancel:
      return "&Cancel";
    case kButtonHelp:
      return "&Help";
    default:
      return "";
  }
}

int MessageBox(std::string_view text, std::string_view caption, int icon, int buttons,
               int default_button, int style) {
  MessageRequest request;
  request.text = std::string(text);
  request.caption = std::string(caption);
  request.icon = icon;
  request.buttons = buttons & kAllButtons;
  if (request.buttons == 0) request.buttons = kButtonOk;
  request.default_button = IsSingleButton(default_button, request.buttons)
                               ? default_button
                               : request.buttons & -request.buttons;  // lowest bit
  request.style = style;
  int answer = CurrentBackend().ShowMessage(request);
  return IsSingleButton(answer, request.buttons) ? answer : request.default_button;
}

int SetCursor(int cursor) {
  int previous = g_cursor.exchange(cursor);
  CurrentBackend().SetCursor(cursor);
  return previous;
}

int CurrentCursor() {
  return g_cursor.load();
}

void MessageBeep(int type) {
  CurrentBackend().Beep(type);
}

}  // namespace qzr
