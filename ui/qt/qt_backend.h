// The desktop window backend: message boxes, the mouse cursor and the beep
// of the window-system seam (ui/window_backend.h), shown with Qt Widgets.
//
// A message box is application-modal: the windows below get no input until
// it is answered. Its buttons carry the captions of ui/message.h ("&Yes",
// "&No", ...; "&" gives the mnemonic), the default button is preselected,
// Escape presses Cancel when offered (an OK-only box also closes with
// Escape), and a box closed without a button answers the default. The text
// is plain, never rich text: "<b>" in a message shows as typed.
//
// The cursor: the wait cursors are application-wide override cursors;
// kCursorNormal removes the override, any other cursor replaces it.
//
// Threads: the backend may be called from any thread. A message from
// another thread is shown on the GUI thread while the calling thread waits
// for the answer; cursor changes and beeps from other threads are queued to
// the GUI thread. Without a QApplication, messages answer their default
// button and the rest is ignored.

#ifndef QZR_UI_QT_QT_BACKEND_H_
#define QZR_UI_QT_QT_BACKEND_H_

#include <QMessageBox>
#include <atomic>

#include "ui/window_backend.h"

namespace qzr {

class QtBackend : public WindowBackend {
 public:
  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int cursor) override;
  void Beep(int type) override;

  // Beeps sounded so far (offscreen platforms have no sound to check).
  int beeps() const { return beeps_.load(); }

  // The message box for `request`, not yet shown (tests inspect it).
  static QMessageBox* BuildMessageBox(const MessageRequest& request, QWidget* parent = nullptr);
  // The button bit `box` answered, or `default_button` when it was closed
  // without one.
  static int AnswerOf(QMessageBox* box, int default_button);

 private:
  int ShowOnGuiThread(const MessageRequest& request);
  void SetCursorOnGuiThread(int cursor);

  std::atomic<int> beeps_{0};
  bool overridden_ = false;  // GUI thread: an override cursor of ours is in force
};

}  // namespace qzr

#endif  // QZR_UI_QT_QT_BACKEND_H_
