#include "framework/window_resizer.h"

#include <memory>
#include <vector>

#include "gtest/gtest.h"
#include "ui/event.h"
#include "ui/window_def.h"

namespace qzr {
namespace {

// A window as the resizer sees it: a client area, controls, and a record of
// the batches of moves and the size limits it was given.
struct FakeWindow {
  ResizerRect area{100, 50, 400, 300};
  bool iconized = false;
  std::vector<ResizerControl> controls;
  std::vector<std::vector<ResizerMove>> batches;
  std::vector<int32_t> limits;

  ResizerRect At(int32_t id) const {
    for (const ResizerControl& c : controls) {
      if (c.ID == id) return c.POS;
    }
    return {};
  }
};

class FakeSurface : public ResizeSurface {
 public:
  explicit FakeSurface(FakeWindow* w) : w_(w) {}
  ResizerRect ClientArea() const override { return w_->area; }
  std::vector<ResizerControl> Controls() const override { return w_->controls; }
  bool Iconized() const override { return w_->iconized; }
  bool Maximized() const override { return false; }
  void MoveControls(const std::vector<ResizerMove>& moves) override {
    w_->batches.push_back(moves);
    for (const ResizerMove& m : moves) {
      for (ResizerControl& c : w_->controls) {
        if (c.ID == m.CONTROLID) c.POS = m.AFTER;
      }
    }
  }
  void SetSizeLimits(int32_t a, int32_t b, int32_t c, int32_t d) override {
    w_->limits = {a, b, c, d};
  }

 private:
  FakeWindow* w_;
};

ResizerControl Make(int32_t id, ControlKind kind, ResizerRect at, int32_t parent = 0) {
  ResizerControl c;
  c.ID = id;
  c.TYPE = static_cast<int32_t>(kind);
  c.POS = at;
  c.PARENTID = parent;
  return c;
}

// A small form: a prompt, an entry beside it, a text below, a button at
// the bottom right.
FakeWindow Form() {
  FakeWindow w;
  w.controls = {
      Make(1, ControlKind::kPrompt, {10, 10, 40, 10}),
      Make(2, ControlKind::kEntry, {60, 10, 200, 12}),
      Make(3, ControlKind::kText, {10, 30, 380, 200}),
      Make(4, ControlKind::kButton, {330, 260, 60, 20}),
  };
  return w;
}

void Resize(WindowResizer* r, FakeWindow* w, int32_t width, int32_t height) {
  w->area.WIDTH = width;
  w->area.HEIGHT = height;
  r->TakeEvent(kResizePassEvent);
}

TEST(WindowResizerTest, ApplicationStrategyBySizeTable) {
  struct Case {
    uint8_t app;
    int32_t width, height;
    ResizerRect prompt, entry, text, button;
  };
  const Case cases[] = {
      // Spread: places in proportion; the text grows both ways, the entry
      // in width, prompt and button keep their size.
      {kAppStrategySpread,
       800,
       300,
       {20, 10, 40, 10},
       {120, 10, 400, 12},
       {20, 30, 760, 200},
       {660, 260, 60, 20}},
      {kAppStrategySpread,
       400,
       600,
       {10, 20, 40, 10},
       {60, 20, 200, 12},
       {10, 60, 380, 400},
       {330, 520, 60, 20}},
      // Anchor: the text takes up the growth, the button stays at the
      // bottom right, the entry keeps its right margin.
      {kAppStrategyAnchor,
       800,
       600,
       {10, 10, 40, 10},
       {60, 10, 600, 12},
       {10, 30, 780, 500},
       {730, 560, 60, 20}},
      // Other strategies: all proportional.
      {0, 800, 600, {20, 20, 80, 20}, {120, 20, 400, 24}, {20, 60, 760, 400}, {660, 520, 120, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.app} << " " << c.width << "x" << c.height);
    FakeWindow w = Form();
    WindowResizer r;
    r.Init(std::make_unique<FakeSurface>(&w), c.app, true, false);
    Resize(&r, &w, c.width, c.height);
    EXPECT_EQ(w.At(1), c.prompt);
    EXPECT_EQ(w.At(2), c.entry);
    EXPECT_EQ(w.At(3), c.text);
    EXPECT_EQ(w.At(4), c.button);
    // Back to the opening size: everything where it started.
    Resize(&r, &w, 400, 300);
    EXPECT_EQ(w.controls[2].POS, (ResizerRect{10, 30, 380, 200}));
    EXPECT_EQ(w.At(4), (ResizerRect{330, 260, 60, 20}));
  }
}

TEST(WindowResizerTest, OpeningSizeBecomesTheMinimum) {
  FakeWindow w = Form();
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategySpread, true, false);
  EXPECT_EQ(w.limits, (std::vector<int32_t>{400, 300, 0, 0}));
  EXPECT_EQ(r.ORIGWIN.WIDTH, 400);
  EXPECT_EQ(r.ORIGWIN.XPOS, 100);
  EXPECT_EQ(r.DEFERMOVES, 1);

  FakeWindow both = Form();
  WindowResizer fixed;
  fixed.Init(std::make_unique<FakeSurface>(&both), kAppStrategySpread, true, true);
  EXPECT_EQ(both.limits, (std::vector<int32_t>{400, 300, 400, 300}));

  FakeWindow none = Form();
  WindowResizer free;
  free.Init(std::make_unique<FakeSurface>(&none), kAppStrategySpread, false, false);
  EXPECT_TRUE(none.limits.empty());
}

TEST(WindowResizerTest, EachPassAppliesOneBatch) {
  FakeWindow w = Form();
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategySpread, true, false);
  const int32_t widths[] = {450, 500, 600, 700, 800};
  for (int32_t width : widths) Resize(&r, &w, width, 300 + width / 10);
  EXPECT_EQ(r.Passes(), 5u);
  EXPECT_EQ(r.Batches(), 5u);
  ASSERT_EQ(w.batches.size(), 5u);
  for (const auto& batch : w.batches) EXPECT_EQ(batch.size(), 4u);  // all four in one go
  // The same size again, or events that do not change it: no pass.
  Resize(&r, &w, 800, 380);
  r.TakeEvent(EVENT::GainFocus);
  r.TakeEvent(EVENT::Accepted);
  EXPECT_EQ(r.Passes(), 5u);
  EXPECT_EQ(w.batches.size(), 5u);
  // Restored and Maximized run a pass.
  w.area.WIDTH = 900;
  r.TakeEvent(EVENT::Maximized);
  w.area.WIDTH = 400;
  r.TakeEvent(EVENT::Restored);
  EXPECT_EQ(w.batches.size(), 7u);
}

TEST(WindowResizerTest, WithoutDeferredMovesEachMoveGoesAlone) {
  FakeWindow w = Form();
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategySpread, true, false);
  r.DEFERMOVES = 0;
  Resize(&r, &w, 800, 600);
  EXPECT_EQ(r.Batches(), 4u);
}

TEST(WindowResizerTest, IconizedWindowIsLeftAlone) {
  FakeWindow w = Form();
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategySpread, true, false);
  // Given an iconized window reporting a tiny size
  w.iconized = true;
  Resize(&r, &w, 36, 0);
  EXPECT_TRUE(w.batches.empty());
  EXPECT_EQ(w.At(3), (ResizerRect{10, 30, 380, 200}));
  // When it is restored at a new size, one pass puts everything right
  w.iconized = false;
  w.area.WIDTH = 800;
  w.area.HEIGHT = 300;
  r.TakeEvent(EVENT::Restored);
  ASSERT_EQ(w.batches.size(), 1u);
  EXPECT_EQ(w.At(3), (ResizerRect{20, 30, 760, 200}));
  // An empty client area is ignored too
  Resize(&r, &w, 0, 300);
  EXPECT_EQ(w.batches.size(), 1u);
}

TEST(WindowResizerTest, WindowWithoutInitialSizeKeepsControlSizes) {
  FakeWindow w = Form();
  w.area.WIDTH = 0;
  w.area.HEIGHT = 0;
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), 0, false, false);
  Resize(&r, &w, 400, 300);
  EXPECT_TRUE(w.batches.empty());  // scale 1 on both axes: nothing moves
  EXPECT_EQ(w.At(3), (ResizerRect{10, 30, 380, 200}));
}

TEST(WindowResizerTest, ChildrenFollowTheirSheet) {
  FakeWindow w;
  w.controls = {
      Make(1, ControlKind::kSheet, {5, 5, 390, 290}),
      Make(2, ControlKind::kTab, {5, 5, 390, 290}, 1),
      Make(3, ControlKind::kButton, {300, 250, 60, 20}, 2),
  };
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategyAnchor, true, false);
  r.SetStrategy(3, kResizeFixRight | kResizeFixBottom, kResizeLockWidth | kResizeLockHeight);
  Resize(&r, &w, 500, 400);
  EXPECT_EQ(w.At(1), (ResizerRect{5, 5, 490, 390}));
  EXPECT_EQ(w.At(2), (ResizerRect{5, 5, 490, 390}));
  EXPECT_EQ(w.At(3), (ResizerRect{400, 350, 60, 20}));
  ASSERT_EQ(w.batches.size(), 1u);
  EXPECT_EQ(w.batches[0][2].PRIORITY, 3);  // sheet, tab, then the button
}

TEST(WindowResizerTest, KillTwiceIsHarmless) {
  FakeWindow w = Form();
  WindowResizer r;
  r.Init(std::make_unique<FakeSurface>(&w), kAppStrategySpread, true, false);
  r.Kill();
  r.Kill();
  EXPECT_FALSE(r.Resize());
}

}  // namespace
}  // namespace qzr
