// WindowResizer: keeps a resizable window's controls in place as its size
// changes.
//
// Init records the window's client size (ORIGWIN) and every control's
// position, kind and enclosing control (CONTROLQUEUE), and gives each
// control its strategy: the application strategy's choice (below), or one
// set later with SetStrategy. Each resize pass (the window manager's 3FFh
// event after EVENT:Sized, and EVENT:Restored, EVENT:Maximized,
// EVENT:GainFocus) computes every control's new rectangle with the rules of
// framework/resize_rules.h and applies the moves of the pass as one batch
// (Window::MoveControls), parents before children, so the window is redrawn
// once per pass, not once per control.
//
// A pass does nothing while the window is iconized or has no area (an
// iconized window reports a meaningless size), nor when the size is the one
// of the last pass.
//
// Application strategies (APPSTRATEGY):
//   2  spread: every control keeps its place in proportion to the window;
//      texts, lists, sheets, tabs, groups and the like grow in both
//      directions, entries grow in width, everything else keeps its size.
//      With the window's opening size as its minimum, the scale never drops
//      below 1 and controls that did not overlap never do.
//   4  anchor: every control stays at the edges it is nearest to; texts,
//      lists, sheets and the like take up the growth, entries grow in width.
//   other: proportional places and sizes, unless SetStrategy says otherwise.
//
// The resizer works on a ResizeSurface, what it needs of a window; SurfaceOf
// gives the one of a Window, tests give their own.
//
// Threads: one resizer belongs to one window and its thread.

#ifndef QZR_FRAMEWORK_WINDOW_RESIZER_H_
#define QZR_FRAMEWORK_WINDOW_RESIZER_H_

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "framework/resize_rules.h"
#include "framework/severity.h"
#include "framework/window_component.h"

namespace qzr {

class Window;

// The event the window manager posts after EVENT:Sized; the resizer runs a
// pass on it.
inline constexpr int32_t kResizePassEvent = 0x3FF;

inline constexpr uint8_t kAppStrategySpread = 2;
inline constexpr uint8_t kAppStrategyAnchor = 4;

// What the resizer needs of a window.
class ResizeSurface {
 public:
  virtual ~ResizeSurface() = default;
  // The client area's size (XPOS/YPOS: the window's position).
  virtual ResizerRect ClientArea() const = 0;
  // The controls as they are now: ID, TYPE (the kind's number), PARENTID,
  // HASCHILDREN and POS; strategies left 0.
  virtual std::vector<ResizerControl> Controls() const = 0;
  virtual bool Iconized() const = 0;
  virtual bool Maximized() const = 0;
  // Applies the moves together.
  virtual void MoveControls(const std::vector<ResizerMove>& moves) = 0;
  // Limits of the client size; 0 is no limit.
  virtual void SetSizeLimits(int32_t min_width, int32_t min_height, int32_t max_width,
                             int32_t max_height) = 0;
};

// The surface of `window` (which must outlive it).
std::unique_ptr<ResizeSurface> SurfaceOf(Window* window);

// The strategies application strategy `app_strategy` gives a control of
// kind `type` (a ControlKind number): positional in .first, resize in .second.
std::pair<uint16_t, uint16_t> DefaultStrategy(uint8_t app_strategy, int32_t type);

class WindowResizer : public WindowComponent {
 public:
  struct WindowGeometry {
    int32_t XPOS = 0;
    int32_t YPOS = 0;
    int32_t WIDTH = 0;
    int32_t HEIGHT = 0;
    uint8_t MAXIMIZED = 0;
    uint8_t ICONIZED = 0;
  };

  WindowResizer() = default;
  virtual ~WindowResizer() = default;
  WindowResizer(const WindowResizer&) = delete;
  WindowResizer& operator=(const WindowResizer&) = delete;

  // Sets the resizer up on `window` (open). With `set_min_size` the window
  // cannot be made smaller than it is now; with `set_max_size` not larger.
  void Init(Window* window, uint8_t app_strategy, bool set_min_size, bool set_max_size);
  // The same on any surface; the resizer keeps `surface`.
  void Init(std::unique_ptr<ResizeSurface> surface, uint8_t app_strategy, bool set_min_size,
            bool set_max_size);
  // Frees the queues and lets the window go. Safe to call twice (the
  // window manager kills it as a component and as its resizer).
  void Kill() override;
  // As a component of the window manager: TakeEvent of the thread's
  // current event.
  Severity HandleEvent() override;

  // Gives `control` its own strategies (after Init).
  void SetStrategy(int32_t control, uint16_t positional, uint16_t resize);

  // The resizer's part of event `code`: a resize pass for 3FFh,
  // EVENT:Restored, EVENT:Maximized and EVENT:GainFocus. Never consumes the
  // event (SeverityNone).
  Severity TakeEvent(int32_t code);

  // One resize pass; true when it moved something.
  bool Resize();

  // Counters: passes that computed moves, and batches handed to the window.
  uint64_t Passes() const { return passes_; }
  uint64_t Batches() const { return batches_; }

  uint8_t APPSTRATEGY = 0;
  uint8_t AUTOTRANSPARENT = 0;
  WindowGeometry ORIGWIN;
  std::vector<ResizerControl> CONTROLQUEUE;
  uint8_t DEFERMOVES = 0;
  ResizerRect PREVIOUSWIN;
  uint8_t RESIZECALLED = 0;
  std::vector<ResizerMove> RESIZELIST;

 private:
  std::unique_ptr<ResizeSurface> surface_;
  std::vector<ResizerRect> current_;  // each control's rectangle after the last pass
  uint64_t passes_ = 0;
  uint64_t batches_ = 0;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_WINDOW_RESIZER_H_
