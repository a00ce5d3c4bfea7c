// WindowResizer: recording a window's controls and applying resize passes;
// see window_resizer.h.

#include "framework/window_resizer.h"

#include <unordered_map>
#include <utility>

#include "ui/event.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr {
namespace {

ResizerRect FromRect(const Rect& r) {
  return ResizerRect{r.x, r.y, r.width, r.height};
}
Rect ToRect(const ResizerRect& r) {
  return Rect{r.XPOS, r.YPOS, r.WIDTH, r.HEIGHT};
}

class WindowSurface : public ResizeSurface {
 public:
  explicit WindowSurface(Window* window) : window_(window) {}

  ResizerRect ClientArea() const override { return FromRect(window_->Position(0)); }

  std::vector<ResizerControl> Controls() const override {
    std::unordered_map<int, int> parent_of;
    const WindowDef& def = window_->Def();
    for (size_t i = 0; i < def.controls.size(); ++i) {
      parent_of[ControlNumber(def, i)] = def.controls[i].parent;
    }
    std::vector<ResizerControl> controls;
    for (int number : window_->Controls()) {
      ResizerControl c;
      c.ID = number;
      c.TYPE = static_cast<int32_t>(window_->Kind(number));
      auto parent = parent_of.find(number);
      c.PARENTID = parent == parent_of.end() ? 0 : parent->second;
      c.POS = FromRect(window_->Position(number));
      controls.push_back(c);
    }
    for (ResizerControl& c : controls) {
      for (const ResizerControl& other : controls) {
        if (other.PARENTID == c.ID) c.HASCHILDREN = 1;
      }
    }
    return controls;
  }

  bool Iconized() const override { return window_->State() == WindowState::kIconized; }
  bool Maximized() const override { return window_->State() == WindowState::kMaximized; }

  void MoveControls(const std::vector<ResizerMove>& moves) override {
    std::vector<std::pair<int, Rect>> batch;
    batch.reserve(moves.size());
    for (const ResizerMove& m : moves) batch.emplace_back(m.CONTROLID, ToRect(m.AFTER));
    window_->MoveControls(batch);
  }

  void SetSizeLimits(int32_t min_width, int32_t min_height, int32_t max_width,
                     int32_t max_height) override {
    window_->SetSizeLimits(min_width, min_height, max_width, max_height);
  }

 private:
  Window* window_;
};

// Kinds that show content of any size (they take up a window's growth), and
// one-line edits (they grow in width only).
bool Grows(int32_t type) {
  switch (static_cast<ControlKind>(type)) {
    case ControlKind::kText:
    case ControlKind::kList:
    case ControlKind::kSheet:
    case ControlKind::kTab:
    case ControlKind::kGroup:
    case ControlKind::kRegion:
    case ControlKind::kBox:
      return true;
    default:
      return false;
  }
}

bool GrowsInWidth(int32_t type) {
  ControlKind kind = static_cast<ControlKind>(type);
  return kind == ControlKind::kEntry || kind == ControlKind::kCombo;
}

}  // namespace

std::unique_ptr<ResizeSurface> SurfaceOf(Window* window) {
  return std::make_unique<WindowSurface>(window);
}

std::pair<uint16_t, uint16_t> DefaultStrategy(uint8_t app_strategy, int32_t type) {
  constexpr uint16_t kFixedSize = kResizeLockWidth | kResizeLockHeight;
  if (app_strategy == kAppStrategySpread) {
    if (Grows(type)) return {kResizeProportional, 0};
    if (GrowsInWidth(type)) return {kResizeProportional, kResizeLockHeight};
    return {kResizeProportional, kFixedSize};
  }
  if (app_strategy == kAppStrategyAnchor) {
    if (Grows(type)) {
      return {kResizeFixLeft | kResizeFixTop, kResizeConstantRight | kResizeConstantBottom};
    }
    if (GrowsInWidth(type)) {
      return {kResizeFixLeft | kResizeFixNearestY, kResizeConstantRight | kResizeLockHeight};
    }
    return {kResizeFixNearestX | kResizeFixNearestY, kFixedSize};
  }
  return {kResizeProportional, 0};
}

void WindowResizer::Init(Window* window, uint8_t app_strategy, bool set_min_size,
                         bool set_max_size) {
  Init(SurfaceOf(window), app_strategy, set_min_size, set_max_size);
}

void WindowResizer::Init(std::unique_ptr<ResizeSurface> surface, uint8_t app_strategy,
                         bool set_min_size, bool set_max_size) {
  surface_ = std::move(surface);
  APPSTRATEGY = app_strategy;
  ResizerRect area = surface_->ClientArea();
  ORIGWIN = WindowGeometry{area.XPOS,
                           area.YPOS,
                           area.WIDTH,
                           area.HEIGHT,
                           static_cast<uint8_t>(surface_->Maximized()),
                           static_cast<uint8_t>(surface_->Iconized())};
  CONTROLQUEUE = surface_->Controls();
  current_.clear();
  for (ResizerControl& c : CONTROLQUEUE) {
    if (app_strategy == kAppStrategySpread || app_strategy == kAppStrategyAnchor) {
      auto [positional, resize] = DefaultStrategy(app_strategy, c.TYPE);
      c.POSITIONALSTRATEGY = positional;
      c.RESIZESTRATEGY = resize;
    }
    current_.push_back(c.POS);
  }
  if (set_min_size || set_max_size) {
    surface_->SetSizeLimits(set_min_size ? area.WIDTH : 0, set_min_size ? area.HEIGHT : 0,
                            set_max_size ? area.WIDTH : 0, set_max_size ? area.HEIGHT : 0);
  }
  PREVIOUSWIN = ResizerRect{0, 0, area.WIDTH, area.HEIGHT};
  RESIZECALLED = 0;
  RESIZELIST.clear();
  DEFERMOVES = 1;
}

void WindowResizer::Kill() {
  CONTROLQUEUE.clear();
  RESIZELIST.clear();
  current_.clear();
  surface_.reset();
}

void WindowResizer::SetStrategy(int32_t control, uint16_t positional, uint16_t resize) {
  for (ResizerControl& c : CONTROLQUEUE) {
    if (c.ID != control) continue;
    c.POSITIONALSTRATEGY = positional;
    c.RESIZESTRATEGY = resize;
  }
}

Severity WindowResizer::HandleEvent() {
  return TakeEvent(CurrentEvent());
}

Severity WindowResizer::TakeEvent(int32_t code) {
  if (code == kResizePassEvent || code == EVENT::Restored || code == EVENT::Maximized ||
      code == EVENT::GainFocus) {
    Resize();
  }
  return SeverityNone;
}

bool WindowResizer::Resize() {
  if (surface_ == nullptr) return false;
  // An iconized window's size says nothing about the space its controls
  // will have when it comes back; neither does an empty client area.
  if (surface_->Iconized()) return false;
  ResizerRect area = surface_->ClientArea();
  if (area.WIDTH <= 0 || area.HEIGHT <= 0) return false;
  const ResizerRect now{0, 0, area.WIDTH, area.HEIGHT};
  if (RESIZECALLED && now == PREVIOUSWIN) return false;
  RESIZECALLED = 1;
  PREVIOUSWIN = now;
  ++passes_;

  const ResizerRect initial{0, 0, ORIGWIN.WIDTH, ORIGWIN.HEIGHT};
  RESIZELIST = PlanResize(CONTROLQUEUE, current_, initial, now);
  if (RESIZELIST.empty()) return false;
  if (DEFERMOVES) {
    surface_->MoveControls(RESIZELIST);
    ++batches_;
  } else {
    for (const ResizerMove& m : RESIZELIST) {
      surface_->MoveControls({m});
      ++batches_;
    }
  }
  std::unordered_map<int32_t, size_t> index;
  for (size_t i = 0; i < CONTROLQUEUE.size(); ++i) index.emplace(CONTROLQUEUE[i].ID, i);
  for (const ResizerMove& m : RESIZELIST) current_[index[m.CONTROLID]] = m.AFTER;
  return true;
}

}  // namespace qzr
