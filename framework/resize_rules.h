// The arithmetic of the window resizer: where a control goes, and how big it
// becomes, when its parent (the window, or the control that encloses it)
// changes size. Pure functions over plain rectangles, so every rule can be
// checked without a window; framework/window_resizer.h applies them.
//
// Each axis is computed alone, x and width from the horizontal rule (the low
// byte of the positional strategy) and the width bits of the resize
// strategy, y and height from the vertical rule (high byte) and the height
// bits, the same way. For one axis, with
//   offset = control's initial x - parent's initial x,
//   scale  = parent's new width / parent's initial width (1 when the
//            initial width is 0: a parent that had no size gives no ratio),
// the rule gives the new x:
//   0    proportional   parent's new x + offset * scale
//   1    locked         control's initial x
//   2    far edge       parent's new right - distance, distance = parent's
//                       initial width - offset, scaled unless the width is
//                       locked (resize bit 1)
//   4    near edge      parent's new x + offset
//   8    centre         parent's new x + parent's new width / 2
//                       + (offset - parent's initial width / 2), the bracket
//                       scaled unless the width is locked
//   10h  nearest edge   rule 4 when offset < the distance from the control's
//                       far side to the parent's far edge, else rule 2
//   20h  with centre    initial x + (parent's new x - parent's initial x)
//                       + (parent's new width - parent's initial width) / 2
// and then the width:
//   bit 4   constant margin  parent's new right - (parent's initial width -
//                            offset - initial width) - new x
//   bit 10h half growth      initial width + (parent's new right -
//                            (parent's initial width - offset) - new x) / 2
//   else                     initial width when locked (bit 1), else
//                            initial width * scale.
// Results are rounded to whole numbers; a size never becomes negative (it
// stops at 0).
//
// Constant data and pure functions; safe from any thread.

#ifndef QZR_FRAMEWORK_RESIZE_RULES_H_
#define QZR_FRAMEWORK_RESIZE_RULES_H_

#include <cstdint>
#include <vector>

namespace qzr {

// Positional strategy: the horizontal rule in the low byte, the vertical
// rule in the high byte.
inline constexpr uint16_t kResizeProportional = 0x00;
inline constexpr uint16_t kResizeLockXPos = 0x01;
inline constexpr uint16_t kResizeFixRight = 0x02;
inline constexpr uint16_t kResizeFixLeft = 0x04;
inline constexpr uint16_t kResizeFixCenterX = 0x08;
inline constexpr uint16_t kResizeFixNearestX = 0x10;
inline constexpr uint16_t kResizeMoveCenterX = 0x20;
inline constexpr uint16_t kResizeLockYPos = 0x0100;
inline constexpr uint16_t kResizeFixBottom = 0x0200;
inline constexpr uint16_t kResizeFixTop = 0x0400;
inline constexpr uint16_t kResizeFixCenterY = 0x0800;
inline constexpr uint16_t kResizeFixNearestY = 0x1000;
inline constexpr uint16_t kResizeMoveCenterY = 0x2000;

// Resize strategy bits.
inline constexpr uint16_t kResizeLockWidth = 0x01;
inline constexpr uint16_t kResizeLockHeight = 0x02;
inline constexpr uint16_t kResizeConstantRight = 0x04;
inline constexpr uint16_t kResizeConstantBottom = 0x08;
inline constexpr uint16_t kResizeHalfWidth = 0x10;
inline constexpr uint16_t kResizeHalfHeight = 0x20;

// A position and size, in the window's client coordinates.
struct ResizerRect {
  int32_t XPOS = 0;
  int32_t YPOS = 0;
  int32_t WIDTH = 0;
  int32_t HEIGHT = 0;
  bool operator==(const ResizerRect&) const = default;
};

// One control as the resizer knows it (an entry of CONTROLQUEUE).
struct ResizerControl {
  int32_t ID = 0;
  int32_t TYPE = 0;
  uint8_t HASCHILDREN = 0;
  uint16_t POSITIONALSTRATEGY = 0;
  uint16_t RESIZESTRATEGY = 0;
  ResizerRect POS;       // initial position and size
  int32_t PARENTID = 0;  // the enclosing control, 0 the window
};

// One move of a resize pass (an entry of RESIZELIST). PRIORITY is the
// control's depth: the window's own controls 1, their children 2, ...
struct ResizerMove {
  int32_t PRIORITY = 0;
  int32_t CONTROLID = 0;
  int32_t TYPE = 0;
  ResizerRect BEFORE;
  ResizerRect AFTER;
};

// The new rectangle of `control` when its parent goes from `parent_initial`
// to `parent_new`.
ResizerRect ResizeControlRect(const ResizerControl& control, const ResizerRect& parent_initial,
                              const ResizerRect& parent_new);

// Every control's new rectangle when the window's client area goes from
// `window_initial` to `window_new` (the window's controls take it as their
// parent; a control whose PARENTID is unknown, or that lies in a cycle, is
// treated as a child of the window). `current` gives each control's
// rectangle now, in the order of `controls`; the result holds a move for
// each control whose rectangle changes, parents before children.
std::vector<ResizerMove> PlanResize(const std::vector<ResizerControl>& controls,
                                    const std::vector<ResizerRect>& current,
                                    const ResizerRect& window_initial,
                                    const ResizerRect& window_new);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_RESIZE_RULES_H_
