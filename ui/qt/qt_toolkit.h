// The desktop toolkit: the window-system seam (ui/toolkit.h) on Qt 6
// Widgets. It builds a QtWindow per window the core opens, mirrors the
// core's program changes in it, shows message boxes and popup menus, and
// waits for input by running Qt's event loop.
//
// Input: the windows' widgets hand the user's actions to InputSink; the
// toolkit's application-wide filter adds what belongs to no single widget
// signal: every key pressed in one of its windows goes to
// InputSink::KeyPressed first (a key the core takes, such as an alerted key
// or Tab, goes no further), and focus moves become InputSink::FocusMoved
// (which also finishes the edit of the control left behind), and the
// pointer entering and leaving controls becomes InputSink::MouseOver. Focus
// taken by
// another window (a message box, a popup) is not a move: the focus comes
// back to the same control. Nothing in these paths runs procedure code:
// the core only queues, and the procedure's handlers run after
// WaitForInput has returned, outside every Qt callback.
//
// Waiting: WaitForInput processes Qt's events, blocking until there are
// some (or Wake is called from any thread), and returns after each batch;
// the core looks at its queue and waits again when nothing is there.
//
// Modal forms: a window opened while another of the program's windows is
// open is application-modal (when its definition says modal), so the
// windows below take no input from the desktop either.
//
// Messages, cursor and beep as the seam's WindowBackend: message boxes
// (message_box.h) from another thread are shown on the GUI thread while the
// calling thread waits for the answer; cursor changes and beeps from other
// threads are queued to the GUI thread.
//
// Threads: GUI thread, except Wake, ShowMessage, SetCursor and Beep.

#ifndef QZR_UI_QT_QT_TOOLKIT_H_
#define QZR_UI_QT_QT_TOOLKIT_H_

#include <QObject>
#include <atomic>
#include <map>
#include <string>

#include "ui/toolkit.h"

namespace qzr {

class QtWindow;

class QtToolkit : public QObject, public Toolkit {
  Q_OBJECT

 public:
  // REQUIRES: a QApplication exists, on this thread.
  QtToolkit();
  ~QtToolkit() override;

  // ---- WindowBackend
  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int cursor) override;
  void Beep(int type) override;

  // ---- Toolkit
  bool CreateWindow(WindowId id, const WindowDef& def, WindowId owner, std::string* error) override;
  void DestroyWindow(WindowId id) override;
  bool AddControl(WindowId id, const ControlDef& control, std::string* error) override;
  void SetCaption(WindowId id, std::string_view caption) override;
  void SetWindowRect(WindowId id, const Rect& rect) override;
  void SetWindowState(WindowId id, WindowState state) override;
  void SetSizeLimits(WindowId id, int min_width, int min_height, int max_width,
                     int max_height) override;
  void SetTimer(WindowId id, int hundredths) override;
  void SetControlText(WindowId id, int control, std::string_view text) override;
  void SetControlFlags(WindowId id, int control, uint32_t flags) override;
  void SetControlRect(WindowId id, int control, const Rect& rect) override;
  void SetTextCapacity(WindowId id, int control, size_t bytes) override;
  void BeginMoves(WindowId id) override;
  void EndMoves(WindowId id) override;
  void SetAppearance(WindowId id, int control, const Appearance& appearance) override;
  void SetChecked(WindowId id, int control, bool checked) override;
  void SetRows(WindowId id, int list, const std::vector<ListRow>& rows) override;
  void SetIcons(WindowId id, int list, const std::vector<std::string>& icons) override;
  void SetColumnWidths(WindowId id, int list, const std::vector<int>& widths) override;
  void SetChoice(WindowId id, int control, int choice) override;
  void SetFocus(WindowId id, int control) override;
  int ShowPopup(WindowId id, const PopupMenu& menu) override;
  WaitResult WaitForInput(WindowId top) override;
  void Wake() override;

  // The native window of `id`, nullptr when none (tests, screenshots).
  QtWindow* Find(WindowId id) const;
  // The window the program opened last and has not closed.
  QtWindow* TopWindow() const;
  // Beeps sounded so far (an offscreen platform has no sound to check).
  int beeps() const { return beeps_.load(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QtWindow* WindowOf(QObject* object) const;
  void SetCursorOnGuiThread(int cursor);

  std::map<WindowId, QtWindow*> windows_;
  std::vector<WindowId> opened_;  // in opening order
  std::atomic<bool> woken_{false};
  std::atomic<int> beeps_{0};
  bool overridden_ = false;  // an override cursor of ours is in force
};

}  // namespace qzr

#endif  // QZR_UI_QT_QT_TOOLKIT_H_
