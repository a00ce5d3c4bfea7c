// Message boxes, the wait cursor and the standard beep: the calls the
// framework makes, forwarded to the current window backend
// (ui/window_backend.h).
//
// The constants are the values the framework passes around: button bits as
// the error manager returns them, and the system's numbers for the standard
// icons and cursors, so that numbers stored or compared elsewhere keep their
// meaning.
//
// Threads: any thread may show a message or set the cursor. The cursor in
// force is one process-wide value (there is one mouse pointer), changed
// atomically.

#ifndef QZR_UI_MESSAGE_H_
#define QZR_UI_MESSAGE_H_

#include <string>
#include <string_view>

namespace qzr {

// Buttons: a set of bits; the pressed button's bit is returned.
inline constexpr int kButtonOk = 1;       // "O&k"
inline constexpr int kButtonYes = 2;      // "&Yes"
inline constexpr int kButtonNo = 4;       // "&No"
inline constexpr int kButtonAbort = 8;    // "&Abort"
inline constexpr int kButtonRetry = 16;   // "&Retry"
inline constexpr int kButtonIgnore = 32;  // "&Ignore"
inline constexpr int kButtonCancel = 64;  // "&Cancel"
inline constexpr int kButtonHelp = 128;   // "&Help"
inline constexpr int kAllButtons = 255;

// The caption of one button bit ("&" marks the accelerator), "" for a value
// that is not a single button.
std::string_view ButtonCaption(int button);

// Icons, numbered as the system's standard icons.
inline constexpr int kIconNone = 0;
inline constexpr int kIconApplication = 32512;  // IDI_APPLICATION
inline constexpr int kIconHand = 32513;         // IDI_HAND: an error
inline constexpr int kIconQuestion = 32514;     // IDI_QUESTION
inline constexpr int kIconExclamation = 32515;  // IDI_EXCLAMATION: a warning or question
inline constexpr int kIconAsterisk = 32516;     // IDI_ASTERISK: information

// Cursors, numbered as the system's standard cursors; kCursorNormal asks for
// the window system's usual pointer.
inline constexpr int kCursorNormal = 0;
inline constexpr int kCursorArrow = 32512;
inline constexpr int kCursorIBeam = 32513;
inline constexpr int kCursorWait = 32514;
inline constexpr int kCursorCross = 32515;
inline constexpr int kCursorHand = 32649;
inline constexpr int kCursorAppStarting = 32650;

// Beep types; kBeepStandard (-1) is the plain beep of a rejected input.
inline constexpr int kBeepStandard = -1;
inline constexpr int kBeepOk = 0x00;
inline constexpr int kBeepHand = 0x10;
inline constexpr int kBeepQuestion = 0x20;
inline constexpr int kBeepExclamation = 0x30;
inline constexpr int kBeepAsterisk = 0x40;

// Shows `text` ("|" starts a new line) under `caption` with `icon` and the
// set of `buttons`, `default_button` preselected, and returns the pressed
// button's value.
//
// Inconsistent arguments are made sound rather than passed on: bits above
// kHelp are dropped and an empty set becomes OK alone; a default that is not
// exactly one of the offered buttons becomes the first offered one (lowest
// bit: OK before Cancel, Yes before No). Whatever the backend answers, the
// result is one of the offered buttons: an answer outside the set is taken as
// the default button.
int MessageBox(std::string_view text, std::string_view caption = {}, int icon = kIconNone,
               int buttons = kButtonOk, int default_button = 0, int style = 0);

// Shows `cursor` and returns the cursor that was in force.
int SetCursor(int cursor);

// The cursor in force.
int CurrentCursor();

// Shows the wait cursor for the object's lifetime, then restores the cursor
// that was in force when it was made (so nested guards unwind correctly).
class WaitCursor {
 public:
  WaitCursor() : previous_(SetCursor(kCursorWait)) {}
  ~WaitCursor() { SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  int previous_;
};

// Sounds a beep of `type` (kBeepStandard for the standard beep).
void MessageBeep(int type = kBeepStandard);

}  // namespace qzr

#endif  // QZR_UI_MESSAGE_H_
