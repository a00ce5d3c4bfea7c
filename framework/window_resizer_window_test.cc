// The resizer on a real window, driven by the scripted user.

#include "ui/window.h"

#include <string>
#include <vector>

#include "framework/window_resizer.h"
#include "gtest/gtest.h"
#include "ui/event.h"
#include "ui/headless_backend.h"
#include "ui/window_def.h"

namespace qzr {
namespace {

WindowDef ResizableForm() {
  WindowDef d;
  d.resource = "test$resize";
  d.name = "RESIZEFORM";
  d.caption = "Resize Form";
  d.at = {0, 0, 200, 100};
  d.resizable = true;
  d.controls = {
      {.kind = ControlKind::kEntry, .name = "?NAME", .picture = "@s20", .at = {40, 4, 100, 10}},
      {.kind = ControlKind::kText, .name = "?NOTE", .at = {4, 20, 192, 60}},
      {.kind = ControlKind::kButton, .name = "?OK", .text = "&OK", .at = {150, 84, 40, 12}},
  };
  return d;
}

class WindowResizerOnWindowTest : public ::testing::Test {
 protected:
  WindowResizerOnWindowTest() {
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
  }
  // Runs the loop the way the window manager does: the resizer sees every
  // event, a size change as the resize event.
  void Run(Window& w, WindowResizer& r) {
    Event e;
    while (w.Accept(&e)) {
      r.TakeEvent(e.code == EVENT::Sized ? kResizePassEvent : e.code);
      w.Default(e);
    }
  }

  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
};

TEST_F(WindowResizerOnWindowTest, OnePassOneBatchAndTheOpeningSizeAsMinimum) {
  const WindowDef def = ResizableForm();
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  WindowResizer r;
  r.Init(&w, kAppStrategySpread, true, false);
  const HeadlessWindow* hw = ui_.Find("RESIZEFORM");
  ASSERT_NE(hw, nullptr);
  EXPECT_EQ(hw->min_width, 200);
  EXPECT_EQ(hw->min_height, 100);
  EXPECT_EQ(hw->max_width, 0);

  ui_.Resize(400, 200);
  ui_.Then([&](HeadlessWindow& now) {
    EXPECT_EQ(now.Position(2), (Rect{8, 40, 384, 120}));   // the text doubled
    EXPECT_EQ(now.Position(3), (Rect{300, 168, 40, 12}));  // the button kept its size
  });
  ui_.Iconize();
  ui_.Restore();
  ui_.Resize(300, 150);
  ui_.Then([&](HeadlessWindow& now) { EXPECT_EQ(now.Position(2), (Rect{6, 30, 288, 90})); });
  ui_.Close();
  Run(w, r);
  // Opening (no change), 400x200, 300x150: two passes moved controls, each
  // in one batch; iconizing and restoring at the same size moved nothing.
  EXPECT_EQ(r.Batches(), 2u);
}

}  // namespace
}  // namespace qzr
