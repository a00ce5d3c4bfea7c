// WindowComponent: the interface of every object registered with a window
// manager (a browse, a toolbar, a resizer, a sort header), and the small
// interfaces of the toolbar and navigation objects the manager calls.
//
// A component sees every event of its window after the manager's own
// handlers (HandleEvent), is reset when the window resets (Reset), is asked
// after each event whether it needs a reset (NeedsReset: called for every
// event, mouse moves included, so it must be cheap and touch no file), and
// is killed with the manager. Components registered with type 1 also take
// part in the primary-buffer protocol (WantsBufferSave, WantsBufferRestore
// and their After notifications); type 0 components only get Reset.
//
// Every operation has an empty base version, so a component overrides only
// what it uses. The operations read the event being handled from the
// thread's current event (ui/window.h: CurrentEvent, CurrentControl,
// KeyCode) or from their window manager.
//
// Threads: a component belongs to its window manager's thread.

#ifndef QZR_FRAMEWORK_WINDOW_COMPONENT_H_
#define QZR_FRAMEWORK_WINDOW_COMPONENT_H_

#include <cstdint>

#include "framework/severity.h"

namespace qzr {

class WindowManager;

// Component types (the TYPE of a CL entry).
inline constexpr int32_t kComponentPlain = 0;
inline constexpr int32_t kComponentBufferAware = 1;

class WindowComponent {
 public:
  virtual ~WindowComponent() = default;

  // The manager is being killed; the component is already out of its list.
  virtual void Kill() {}
  // Brings the component up to date; `force` asks for a full refresh
  // (a browse refills even when it thinks nothing changed).
  virtual void Reset(bool force) {}
  // True when the component wants the window reset now. Asked after every
  // event the manager did not consume, so it must not read files.
  virtual bool NeedsReset() { return false; }
  // Alerts the keys the component reacts to on its window.
  virtual void RegisterKeys() {}
  // The event being handled: SeverityNone lets the manager go on (and the
  // window's default processing run); SeverityInform consumes the event;
  // SeverityHalt ends the window's loop.
  virtual Severity HandleEvent() { return SeverityNone; }
  // Copies what the component shows on screen into its variables.
  virtual void Update() {}
  // Redraws what the component shows, after a reset.
  virtual void RefreshDisplay() {}
  // The primary-buffer protocol of type 1 components.
  virtual bool WantsBufferSave() { return false; }
  virtual bool WantsBufferRestore() { return false; }
  virtual void AfterBufferSave() {}
  virtual void AfterBufferRestore() {}
};

// The control number of the toolbar's history ("ditto") button: accepting it
// recalls the focused field's previous value.
inline constexpr int32_t kToolbarHistoryButton = 3012;

// What a window manager asks of its toolbar.
class WindowToolbar {
 public:
  virtual ~WindowToolbar() = default;
  // Attached to `window` (SetToolbar).
  virtual void Init(WindowManager* window) {}
  // An accepted control, before the manager looks at it; `vcr_request` is
  // the caller's navigation request variable (may be null).
  virtual void TakeEvent(int32_t* vcr_request, WindowManager* window) {}
  // The window changed tabs: show the buttons that apply now.
  virtual void DisplayButtons() {}
  virtual void Kill() {}
};

// The navigation object of a form that steps through records on its own
// (BATCHPROCESSING). The manager only asks it to move on after a completed
// request.
class FormNavigator {
 public:
  virtual ~FormNavigator() = default;
  virtual void MoveOn(WindowManager* window) {}
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_WINDOW_COMPONENT_H_
