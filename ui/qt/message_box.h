// Message boxes with Qt Widgets, for the message requests of the window
// seam (ui/window_backend.h).
//
// A box is application-modal: the windows below get no input until it is
// answered. Its buttons carry the captions of ui/message.h ("&Yes", "&No",
// ...; "&" gives the mnemonic), in the system's order (OK, Yes, No, Abort,
// Retry, Ignore, Cancel, Help), the default button is preselected, Escape
// presses Cancel when offered (an OK-only box also closes with Escape), and
// a box closed without a button answers the default. The text is plain,
// never rich text: "<b>" in a message shows as typed. The icon: an error,
// a question, a warning, information, or the program's own icon.
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_MESSAGE_BOX_H_
#define QZR_UI_QT_MESSAGE_BOX_H_

#include <QMessageBox>

#include "ui/window_backend.h"

namespace qzr {

// The box for `request`, not yet shown; the caller owns it.
QMessageBox* BuildMessageBox(const MessageRequest& request, QWidget* parent = nullptr);

// The button bit `box` was answered with, or `default_button` when it was
// closed without one.
int AnswerOf(QMessageBox* box, int default_button);

// Shows the box for `request` and returns the answer.
int RunMessageBox(const MessageRequest& request, QWidget* parent);

}  // namespace qzr

#endif  // QZR_UI_QT_MESSAGE_BOX_H_
