// The window manager's life cycle without a window: defaults, Kill.

#include "framework/window_manager.h"

#include <gtest/gtest.h>

#include "framework/window_manager_test_support.h"

namespace qzr::testing {
namespace {

using WindowManagerTest = FormTest;

TEST_F(WindowManagerTest, KillTwiceAndKillWithoutInitAreSafe) {
  TestForm never(kViewRecord, &rm_, &errors_, nullptr);
  EXPECT_EQ(never.Kill(), SeverityInform);
  CountingComponent c;
  WindowManager wm;
  ASSERT_EQ(wm.Init(), SeverityNone);
  wm.AddItem(&c);
  EXPECT_EQ(wm.Kill(), SeverityNone);
  EXPECT_EQ(wm.Kill(), SeverityInform);
  EXPECT_EQ(c.kills, 1);
  EXPECT_EQ(wm.DEAD, 1);
}

TEST_F(WindowManagerTest, InitSetsTheDefaults) {
  WindowManager wm;
  wm.REQUEST = kChangeRecord;
  SetKeyCode(kMouseRight);
  ASSERT_EQ(wm.Init(), SeverityNone);
  EXPECT_EQ(wm.ORIGINALREQUEST, kChangeRecord);
  EXPECT_EQ(wm.INSERTACTION, 2);
  EXPECT_EQ(wm.DELETEACTION, 2);
  EXPECT_EQ(wm.CHANGEACTION, 2);
  EXPECT_EQ(wm.CANCELACTION, 3);
  EXPECT_EQ(wm.AUTOTOOLBAR, 1);
  EXPECT_EQ(wm.AUTOREFRESH, 1);
  EXPECT_EQ(KeyCode(), 0);
  // Without a window the loop returns at once; the response is cancelled.
  wm.Ask();
  EXPECT_EQ(wm.Kill(), SeverityNone);
}

}  // namespace
}  // namespace qzr::testing
