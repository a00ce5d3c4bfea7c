// The error window ("KFERROR"): how the error manager shows a message while
// it keeps a history. One window shows the message's icon, the history list
// (message and category columns, the message just added last and selected)
// and up to eight buttons, one per button bit offered, from bit 128 down to
// bit 1, the default button marked as the window's default. Pressing a
// button closes the window and answers its value; Esc or the close box
// answers Cancel when it is offered, else the default button.
//
// The window is a window manager of its own (no files, no components), run
// modally above whatever window is active on the calling thread.
//
// Threads: the window runs on the calling thread, like any window.

#ifndef QZR_FRAMEWORK_ERROR_WINDOW_H_
#define QZR_FRAMEWORK_ERROR_WINDOW_H_

#include <string>
#include <utility>
#include <vector>

#include "framework/window_manager.h"
#include "runtime/values/queue.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr {

inline constexpr char kErrorWindowName[] = "KFERROR";
inline constexpr char kErrorWindowCaption[] = "Error";
inline constexpr char kErrorListFormat[] =
    "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@";

// Controls of the error window.
inline constexpr int kErrorImage = 1;
inline constexpr int kErrorList = 2;
inline constexpr int kErrorFirstButton = 3;  // ?BUTTON1; ?BUTTON8 is 10
inline constexpr int kErrorButtons = 8;

// The window's resource, as the program carries it (buttons hidden, texts
// "Button 1" to "Button 8").
const WindowDef& ErrorWindowDef();

// What to show.
struct ErrorWindowRequest {
  std::string text;
  std::string caption;  // "" keeps "Error"
  int icon = 0;         // kIcon... of ui/message.h
  int buttons = 0;      // kButton... bits; none: OK
  int default_button = 0;
  // The history, oldest first: (message, category).
  std::vector<std::pair<std::string, std::string>> history;
};

// A history row of the list.
struct ErrorHistoryRow {
  char MESSAGE[1024];
  char CATEGORY[256];
};

class ErrorWindow : public WindowManager {
 public:
  explicit ErrorWindow(ErrorWindowRequest request);

  Severity Init() override;
  Severity HandleEvent() override;
  Severity HandleAccepted() override;
  Severity HandleCloseEvent() override;

  // The value of the button pressed; 0 while none is.
  int Pressed() const { return pressed_; }
  // The value each of ?BUTTON1..?BUTTON8 answers (0: hidden).
  const int* ButtonValues() const { return values_; }
  // The buttons and the default as the window offers them.
  int Buttons() const { return buttons_; }
  int DefaultButton() const { return default_; }
  // What Esc and the close box answer: Cancel when offered, else the
  // default.
  int DismissValue() const;

 private:
  ErrorWindowRequest request_;
  int buttons_ = 0;
  int default_ = 0;
  int values_[kErrorButtons] = {};
  int pressed_ = 0;
  WindowDef def_;
  std::unique_ptr<Window> window_;
  Queue<ErrorHistoryRow> rows_;
};

// Shows `request` in the error window and stores the pressed button in
// *pressed. Returns false, showing nothing, when no window can open on the
// calling thread (no window system, as on a terminal); the caller then
// shows the message its own way. A window whose loop ends without a button
// (the window system going away) answers DismissValue.
bool ShowErrorWindow(const ErrorWindowRequest& request, int* pressed);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_ERROR_WINDOW_H_
