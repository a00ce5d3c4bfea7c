#include "framework/resize_rules.h"

#include <vector>

#include "gtest/gtest.h"

namespace qzr {
namespace {

// The window's client area at opening, and a control 40 from the left, 30
// from the top, 100 wide and 20 high.
constexpr ResizerRect kWindow{0, 0, 400, 300};
constexpr ResizerRect kControl{40, 30, 100, 20};

ResizerControl Control(uint16_t positional, uint16_t resize, ResizerRect at = kControl) {
  ResizerControl c;
  c.ID = 7;
  c.POSITIONALSTRATEGY = positional;
  c.RESIZESTRATEGY = resize;
  c.POS = at;
  return c;
}

TEST(ResizeRulesTest, StrategyBySizeTable) {
  struct Case {
    const char* what;
    uint16_t positional;
    uint16_t resize;
    ResizerRect control;
    ResizerRect window_new;
    ResizerRect expected;
  };
  const ResizerRect wide{0, 0, 800, 300};
  const ResizerRect tall{0, 0, 400, 600};
  const Case cases[] = {
      {"unchanged window: nothing moves", kResizeProportional, 0, kControl, kWindow, kControl},
      {"proportional: double width doubles offset and width",
       kResizeProportional,
       0,
       kControl,
       wide,
       {80, 30, 200, 20}},
      {"near edge keeps the left distance",
       kResizeFixLeft,
       kResizeLockWidth,
       kControl,
       wide,
       {40, 30, 100, 20}},
      {"far edge, locked width, keeps the right distance",
       kResizeFixRight,
       kResizeLockWidth,
       kControl,
       wide,
       {440, 30, 100, 20}},
      {"far edge, free width: distance scaled",
       kResizeFixRight,
       0,
       kControl,
       wide,
       {80, 30, 200, 20}},
      {"locked position, width scaled", kResizeLockXPos, 0, kControl, wide, {40, 30, 200, 20}},
      {"centre, locked width",
       kResizeFixCenterX,
       kResizeLockWidth,
       kControl,
       wide,
       {240, 30, 100, 20}},
      {"centre, free width", kResizeFixCenterX, 0, kControl, wide, {80, 30, 200, 20}},
      {"nearest edge: near",
       kResizeFixNearestX,
       kResizeLockWidth,
       kControl,
       wide,
       {40, 30, 100, 20}},
      {"nearest edge: far",
       kResizeFixNearestX,
       kResizeLockWidth,
       {300, 30, 80, 20},
       wide,
       {700, 30, 80, 20}},
      {"moves with the centre",
       kResizeMoveCenterX,
       kResizeLockWidth,
       kControl,
       wide,
       {240, 30, 100, 20}},
      {"constant right margin",
       kResizeFixLeft,
       kResizeConstantRight,
       kControl,
       wide,
       {40, 30, 500, 20}},
      {"half growth in width", kResizeFixLeft, kResizeHalfWidth, kControl, wide, {40, 30, 300, 20}},
      {"bottom edge, locked height",
       kResizeFixBottom,
       kResizeLockHeight,
       kControl,
       tall,
       {40, 330, 100, 20}},
      {"top edge, constant bottom margin",
       kResizeFixTop | kResizeFixLeft,
       kResizeConstantBottom | kResizeLockWidth,
       kControl,
       tall,
       {40, 30, 100, 320}},
      {"half growth in height",
       kResizeFixTop | kResizeFixLeft,
       kResizeHalfHeight | kResizeLockWidth,
       kControl,
       tall,
       {40, 30, 100, 170}},
      {"proportional in height", kResizeProportional, 0, kControl, tall, {40, 60, 100, 40}},
      {"odd scale rounds to whole numbers",
       kResizeProportional,
       0,
       {41, 30, 101, 20},
       {0, 0, 600, 300},
       {62, 30, 152, 20}},
      {"shrinking never makes a size negative",
       kResizeFixLeft | kResizeFixTop,
       kResizeConstantRight | kResizeConstantBottom,
       kControl,
       {0, 0, 50, 40},
       {40, 30, 0, 0}},
      {"half growth shrinking stops at 0",
       kResizeFixLeft,
       kResizeHalfWidth,
       kControl,
       {0, 0, 10, 300},
       {40, 30, 0, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ResizeControlRect(Control(c.positional, c.resize, c.control), kWindow, c.window_new),
              c.expected);
  }
}

TEST(ResizeRulesTest, ParentWithoutInitialSizeScalesByOne) {
  // Given a window recorded before it had a size
  const ResizerRect empty{0, 0, 0, 0};
  // When it gets one, the ratio is 1, not a division by zero
  for (uint16_t rule : {kResizeProportional, kResizeFixRight, kResizeFixCenterX}) {
    SCOPED_TRACE(rule);
    ResizerRect r =
        ResizeControlRect(Control(rule | (rule << 8), 0), empty, ResizerRect{0, 0, 400, 300});
    EXPECT_EQ(r.WIDTH, kControl.WIDTH);
    EXPECT_EQ(r.HEIGHT, kControl.HEIGHT);
    EXPECT_GE(r.XPOS, 0);
  }
}

TEST(ResizeRulesTest, PlanMovesParentsFirstAndOnlyWhatChanges) {
  // A sheet that grows with the window, a child on it, a fixed button.
  ResizerControl sheet = Control(kResizeFixLeft | kResizeFixTop,
                                 kResizeConstantRight | kResizeConstantBottom, {10, 10, 380, 280});
  sheet.ID = 1;
  ResizerControl child =
      Control(kResizeFixLeft | kResizeFixTop, kResizeConstantRight | kResizeLockHeight);
  child.ID = 2;
  child.PARENTID = 1;
  ResizerControl fixed = Control(kResizeLockXPos | kResizeLockYPos,
                                 kResizeLockWidth | kResizeLockHeight, {5, 290, 30, 8});
  fixed.ID = 3;
  // Children listed before their parent still come after it.
  std::vector<ResizerControl> controls = {child, fixed, sheet};
  std::vector<ResizerRect> current = {child.POS, fixed.POS, sheet.POS};

  std::vector<ResizerMove> moves = PlanResize(controls, current, kWindow, {0, 0, 500, 350});
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].CONTROLID, 1);
  EXPECT_EQ(moves[0].PRIORITY, 1);
  EXPECT_EQ(moves[0].AFTER, (ResizerRect{10, 10, 480, 330}));
  EXPECT_EQ(moves[1].CONTROLID, 2);
  EXPECT_EQ(moves[1].PRIORITY, 2);
  EXPECT_EQ(moves[1].BEFORE, kControl);
  EXPECT_EQ(moves[1].AFTER, (ResizerRect{40, 30, 200, 20}));

  EXPECT_TRUE(PlanResize(controls, current, kWindow, kWindow).empty());
}

TEST(ResizeRulesTest, PlanSurvivesBadParents) {
  ResizerControl a = Control(kResizeFixLeft, kResizeLockWidth);
  a.ID = 1;
  a.PARENTID = 2;
  ResizerControl b = Control(kResizeFixLeft, kResizeLockWidth);
  b.ID = 2;
  b.PARENTID = 1;  // a cycle
  ResizerControl c = Control(kResizeFixLeft, kResizeLockWidth);
  c.ID = 3;
  c.PARENTID = 99;  // no such control
  ResizerControl d = Control(kResizeFixLeft, kResizeLockWidth);
  d.ID = 4;
  d.PARENTID = 4;  // itself
  std::vector<ResizerMove> moves =
      PlanResize({a, b, c, d}, {}, kWindow, ResizerRect{0, 0, 800, 300});
  // The cycle is cut, the others hang off the window; a near-edge control
  // of fixed size then stays where it is.
  EXPECT_TRUE(moves.empty());
}

}  // namespace
}  // namespace qzr
