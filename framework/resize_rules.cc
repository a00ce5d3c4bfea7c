// The resizer's arithmetic; see resize_rules.h.

#include "framework/resize_rules.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace qzr {
namespace {

// The rule in force when a strategy byte holds several: the lowest bit set
// (0 is proportional).
uint8_t RuleOf(uint8_t byte) {
  return static_cast<uint8_t>(byte & -byte);
}

int32_t Round(double v) {
  if (v > 2147483647.0) return 2147483647;
  if (v < -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(std::lround(v));
}

struct AxisResult {
  int32_t pos;
  int32_t size;
};

// One axis of ResizeControlRect. `pos0`/`size0`: the control's initial
// position and size; `ppos0`/`psize0` and `ppos1`/`psize1`: the parent's
// initial and new ones.
AxisResult ResizeAxis(uint8_t rule, bool lock_size, bool constant_margin, bool half_growth,
                      int32_t pos0, int32_t size0, int32_t ppos0, int32_t psize0, int32_t ppos1,
                      int32_t psize1) {
  const double scale = psize0 == 0 ? 1.0 : static_cast<double>(psize1) / psize0;
  const double offset = static_cast<double>(pos0) - ppos0;
  const double far_side = static_cast<double>(ppos1) + psize1;
  if (rule == kResizeFixNearestX) {
    rule = offset < psize0 - offset - size0 ? kResizeFixLeft : kResizeFixRight;
  }
  double pos;
  switch (rule) {
    case kResizeLockXPos:
      pos = pos0;
      break;
    case kResizeFixRight: {
      double distance = psize0 - offset;
      if (!lock_size) distance *= scale;
      pos = far_side - distance;
      break;
    }
    case kResizeFixLeft:
      pos = ppos1 + offset;
      break;
    case kResizeFixCenterX: {
      double bracket = offset - psize0 / 2.0;
      if (!lock_size) bracket *= scale;
      pos = ppos1 + psize1 / 2.0 + bracket;
      break;
    }
    case kResizeMoveCenterX:
      pos = pos0 + (static_cast<double>(ppos1) - ppos0) +
            (static_cast<double>(psize1) - psize0) / 2.0;
      break;
    default:  // proportional
      pos = ppos1 + offset * scale;
      break;
  }
  AxisResult r;
  r.pos = Round(pos);
  double size;
  if (constant_margin) {
    size = far_side - (psize0 - offset - size0) - r.pos;
  } else if (half_growth) {
    size = size0 + (far_side - (psize0 - offset) - r.pos) / 2.0;
  } else {
    size = lock_size ? size0 : size0 * scale;
  }
  r.size = std::max(0, Round(size));
  return r;
}

}  // namespace

ResizerRect ResizeControlRect(const ResizerControl& control, const ResizerRect& parent_initial,
                              const ResizerRect& parent_new) {
  const uint16_t ps = control.POSITIONALSTRATEGY;
  const uint16_t rs = control.RESIZESTRATEGY;
  AxisResult x = ResizeAxis(RuleOf(static_cast<uint8_t>(ps & 0xFF)), rs & kResizeLockWidth,
                            rs & kResizeConstantRight, rs & kResizeHalfWidth, control.POS.XPOS,
                            control.POS.WIDTH, parent_initial.XPOS, parent_initial.WIDTH,
                            parent_new.XPOS, parent_new.WIDTH);
  AxisResult y = ResizeAxis(RuleOf(static_cast<uint8_t>(ps >> 8)), rs & kResizeLockHeight,
                            rs & kResizeConstantBottom, rs & kResizeHalfHeight, control.POS.YPOS,
                            control.POS.HEIGHT, parent_initial.YPOS, parent_initial.HEIGHT,
                            parent_new.YPOS, parent_new.HEIGHT);
  return ResizerRect{x.pos, y.pos, x.size, y.size};
}

std::vector<ResizerMove> PlanResize(const std::vector<ResizerControl>& controls,
                                    const std::vector<ResizerRect>& current,
                                    const ResizerRect& window_initial,
                                    const ResizerRect& window_new) {
  const size_t n = controls.size();
  std::unordered_map<int32_t, size_t> index;
  for (size_t i = 0; i < n; ++i) index.emplace(controls[i].ID, i);

  // Parents first: each control's new rectangle needs its parent's. The
  // walk up the parent chain is iterative, and a chain that comes back on
  // itself is cut (the control then hangs off the window).
  enum State : uint8_t { kNew, kVisiting, kDone };
  std::vector<State> state(n, kNew);
  std::vector<ResizerRect> after(n);
  std::vector<int32_t> depth(n, 1);
  std::vector<size_t> chain;
  for (size_t start = 0; start < n; ++start) {
    chain.clear();
    size_t i = start;
    while (state[i] == kNew) {
      state[i] = kVisiting;
      chain.push_back(i);
      auto parent = index.find(controls[i].PARENTID);
      if (controls[i].PARENTID == 0 || parent == index.end() || parent->second == i) break;
      if (state[parent->second] == kVisiting) break;  // a cycle
      i = parent->second;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      size_t c = *it;
      auto parent = index.find(controls[c].PARENTID);
      bool has_parent = controls[c].PARENTID != 0 && parent != index.end() && parent->second != c &&
                        state[parent->second] == kDone;
      if (has_parent) {
        size_t p = parent->second;
        after[c] = ResizeControlRect(controls[c], controls[p].POS, after[p]);
        depth[c] = depth[p] + 1;
      } else {
        after[c] = ResizeControlRect(controls[c], window_initial, window_new);
        depth[c] = 1;
      }
      state[c] = kDone;
    }
  }

  std::vector<ResizerMove> moves;
  for (size_t i = 0; i < n; ++i) {
    ResizerRect before = i < current.size() ? current[i] : controls[i].POS;
    if (before == after[i]) continue;
    moves.push_back(ResizerMove{depth[i], controls[i].ID, controls[i].TYPE, before, after[i]});
  }
  std::stable_sort(moves.begin(), moves.end(), [](const ResizerMove& a, const ResizerMove& b) {
    return a.PRIORITY < b.PRIORITY;
  });
  return moves;
}

}  // namespace qzr
