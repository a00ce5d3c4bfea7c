// The system's full-window-dragging setting, behind a small seam.
//
// While the program runs it turns full-window dragging off when it was on,
// and back on at a normal end. The real setting belongs to the desktop; on
// a system without one (this build) it reads as off and a change does
// nothing. Tests install a fake to see what the program asked for.
//
// Threads: the setting in force is one process-wide pointer, read and
// replaced atomically; a fake must outlive its installation.

#ifndef QZR_APP_DRAG_SETTING_H_
#define QZR_APP_DRAG_SETTING_H_

namespace qzr {

class DragSetting {
 public:
  virtual ~DragSetting() = default;
  // True when full-window dragging is on.
  virtual bool FullWindowDragging() = 0;
  // Turns it on or off, for the user's session and the windows open now.
  virtual void SetFullWindowDragging(bool on) = 0;
};

// The setting in force: the one installed last, else the system's.
DragSetting& CurrentDragSetting();
// Installs `setting` (nullptr: the system's) and returns the previous one
// (nullptr for the system's).
DragSetting* InstallDragSetting(DragSetting* setting);

}  // namespace qzr

#endif  // QZR_APP_DRAG_SETTING_H_
