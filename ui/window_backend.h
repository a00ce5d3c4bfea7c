// The window-system seam: what the program needs of a window system, as an
// abstract backend, and the process-wide backend in force.
//
// This first piece covers message boxes, the mouse cursor and the standard
// beep; windows, controls and the event loop join it later. Backends: the
// headless one answers from a script (tests), the terminal one talks on
// standard error and standard input (the default), and the desktop one lives
// apart so that nothing here depends on a widget toolkit.
//
// Threads: the current backend is held in an atomic pointer and may be read
// from any thread; a backend must accept calls from several threads (both
// backends here serialise with a mutex). Whoever installs a backend owns it
// and must put the previous one back before destroying it, at a moment when
// no other thread is inside one of its calls.

#ifndef QZR_UI_WINDOW_BACKEND_H_
#define QZR_UI_WINDOW_BACKEND_H_

#include <string>
#include <vector>

namespace qzr {

// One message box as the program asks for it, already made consistent by
// MessageBox() (ui/message.h): `buttons` is a non-empty set of button bits and
// `default_button` one of them.
struct MessageRequest {
  std::string text;     // "|" starts a new line (see MessageLines)
  std::string caption;  // the window caption; may be empty
  int icon = 0;         // kIcon... of ui/message.h
  int buttons = 0;      // kButton... bits
  int default_button = 0;
  int style = 0;  // the caller's style value, passed through; backends may ignore it
};

// The text's lines, split at each "|".
std::vector<std::string> MessageLines(const std::string& text);

class WindowBackend {
 public:
  virtual ~WindowBackend() = default;

  // Shows the message and returns the value of the button the user pressed.
  // A backend that cannot ask anyone returns request.default_button.
  virtual int ShowMessage(const MessageRequest& request) = 0;

  // Shows `cursor` (kCursor... of ui/message.h; kCursorNormal restores the
  // window system's usual one).
  virtual void SetCursor(int cursor) = 0;

  // Sounds the beep of `type` (kBeep... of ui/message.h).
  virtual void Beep(int type) = 0;
};

// The backend in force: the one installed last, else the terminal backend
// on standard input and standard error.
WindowBackend& CurrentBackend();

// Makes `backend` current (nullptr restores the terminal backend) and returns
// the one installed before (nullptr when it was the terminal default).
WindowBackend* InstallBackend(WindowBackend* backend);

// Installs a backend for a scope and puts the previous one back.
class ScopedBackend {
 public:
  explicit ScopedBackend(WindowBackend* backend) : previous_(InstallBackend(backend)) {}
  ~ScopedBackend() { InstallBackend(previous_); }
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  WindowBackend* previous_;
};

}  // namespace qzr

#endif  // QZR_UI_WINDOW_BACKEND_H_
