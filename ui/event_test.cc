#include "ui/event.h"

#include <gtest/gtest.h>

#include <set>

#include "ui/keycodes.h"

namespace qzr {
namespace {

TEST(EventTableTest, HoldsEveryCodeWithItsNameAndMessageNumber) {
  struct Row {
    const char* name;
    int32_t code;
    int32_t message;
  };
  // In table order: the build events stand before EVENT:Move.
  const Row kExpected[] = {
      {"EVENT:Accepted", 1, 0xA001},        {"EVENT:NewSelection", 2, 0xA002},
      {"EVENT:ScrollUp", 3, 0xA003},        {"EVENT:ScrollDown", 4, 0xA004},
      {"EVENT:PageUp", 5, 0xA005},          {"EVENT:PageDown", 6, 0xA006},
      {"EVENT:ScrollTop", 7, 0xA007},       {"EVENT:ScrollBottom", 8, 0xA008},
      {"EVENT:Locate", 9, 0xA009},          {"EVENT:MouseUp", 10, 0xA00A},
      {"EVENT:MouseIn", 11, 0xA00B},        {"EVENT:MouseOut", 12, 0xA00C},
      {"EVENT:MouseMove", 13, 0xA00D},      {"EVENT:VBXevent", 14, 0xA00E},
      {"EVENT:AlertKey", 15, 0xA00F},       {"EVENT:PreAlert", 16, 0xA010},
      {"EVENT:Dragging", 17, 0xA011},       {"EVENT:Drag", 18, 0xA012},
      {"EVENT:Drop", 19, 0xA013},           {"EVENT:ScrollDrag", 20, 0xA014},
      {"EVENT:TabChanging", 21, 0xA015},    {"EVENT:Expanding", 22, 0xA016},
      {"EVENT:Contracting", 23, 0xA017},    {"EVENT:Expanded", 24, 0xA018},
      {"EVENT:Contracted", 25, 0xA019},     {"EVENT:Rejected", 26, 0xA01A},
      {"EVENT:DroppingDown", 27, 0xA01B},   {"EVENT:DroppedDown", 28, 0xA01C},
      {"EVENT:ScrollTrack", 29, 0xA01D},    {"EVENT:ColumnResize", 30, 0xA01E},
      {"EVENT:Selected", 0x101, 0xA101},    {"EVENT:Selecting", 0x102, 0xA102},
      {"EVENT:CloseWindow", 0x201, 0xA201}, {"EVENT:CloseDown", 0x202, 0xA202},
      {"EVENT:OpenWindow", 0x203, 0xA203},  {"EVENT:OpenFailed", 0x204, 0xA204},
      {"EVENT:LoseFocus", 0x205, 0xA205},   {"EVENT:GainFocus", 0x206, 0xA206},
      {"EVENT:Suspend", 0x208, 0xA208},     {"EVENT:Resume", 0x209, 0xA209},
      {"EVENT:Notify", 0x20A, 0xA20A},      {"EVENT:Timer", 0x20B, 0xA20B},
      {"EVENT:DDErequest", 0x20C, 0xA20C},  {"EVENT:DDEadvise", 0x20D, 0xA20D},
      {"EVENT:DDEdata", 0x20E, 0xA20E},     {"EVENT:DDEexecute", 0x20F, 0xA20F},
      {"EVENT:DDEpoke", 0x210, 0xA210},     {"EVENT:DDEclosed", 0x211, 0xA211},
      {"EVENT:BuildFile", 0x240, 0xA240},   {"EVENT:BuildKey", 0x241, 0xA241},
      {"EVENT:BuildDone", 0x242, 0xA242},   {"EVENT:Move", 0x220, 0xA220},
      {"EVENT:Size", 0x221, 0xA221},        {"EVENT:Restore", 0x222, 0xA222},
      {"EVENT:Maximize", 0x223, 0xA223},    {"EVENT:Iconize", 0x224, 0xA224},
      {"EVENT:Completed", 0x225, 0xA225},   {"EVENT:Moved", 0x230, 0xA230},
      {"EVENT:Sized", 0x231, 0xA231},       {"EVENT:Restored", 0x232, 0xA232},
      {"EVENT:Maximized", 0x233, 0xA233},   {"EVENT:Iconized", 0x234, 0xA234},
      {"EVENT:Docked", 0x235, 0xA235},      {"EVENT:UnDocked", 0x236, 0xA236},
  };
  const auto table = EventTable();
  ASSERT_EQ(table.size(), std::size(kExpected));
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(kExpected[i].name);
    EXPECT_EQ(table[i].name, kExpected[i].name);
    EXPECT_EQ(table[i].code, kExpected[i].code);
    EXPECT_EQ(table[i].message, kExpected[i].message);
    EXPECT_EQ(table[i].message, table[i].code + kEventMessageBase);
    EXPECT_LT(table[i].message, kSystemMessageBase);
    EXPECT_EQ(EventName(kExpected[i].code), kExpected[i].name);
  }
}

TEST(EventTableTest, UnassignedCodesHaveNoNameButALabel) {
  EXPECT_EQ(EventName(0x207), "");
  EXPECT_EQ(EventName(0), "");
  EXPECT_EQ(EventLabel(0x3FF), "EVENT:0x3FF");
  EXPECT_EQ(EventLabel(EVENT::Accepted), "EVENT:Accepted");
  EXPECT_EQ(kEventCodeLimit, 0x1000);
  Event e{EVENT::CloseWindow, 0, 0, 0};
  EXPECT_EQ(e.message(), 0xA201);
  EXPECT_TRUE(e.is_window_event());
}

TEST(KeyCodeTest, NumbersKeysAndModifiersAsTheSystemDoes) {
  EXPECT_EQ(kKeyCtrlH, 584);
  EXPECT_EQ(KeyCode('h', kCtrl), 584);
  EXPECT_EQ(kKeyInsert, 0x2D);
  EXPECT_EQ(kKeyDelete, 0x2E);
  EXPECT_EQ(kKeyCtrlEnter, 0x20D);
  EXPECT_EQ(kKeyShiftEnter, 0x10D);
  struct Case {
    int32_t code;
    const char* name;
  };
  const Case kCases[] = {
      {kKeyCtrlH, "Ctrl+H"},
      {kKeyShiftEnter, "Shift+Enter"},
      {kKeyCtrlEnter, "Ctrl+Enter"},
      {kMouseLeft2, "MouseLeft2"},
      {kMouseRight, "MouseRight"},
      {kKeyF1 + 4, "F5"},
      {kKeyEsc, "Esc"},
      {KeyCode('7', kAlt | kShift), "Alt+Shift+7"},
      {0xE0, "0xE0"},
      {kKeyPgDn, "PgDn"},
  };
  for (const Case& c : kCases) EXPECT_EQ(KeyName(c.code), c.name);
  EXPECT_TRUE(IsMouseKey(kMouseLeft2));
  EXPECT_TRUE(IsMouseKey(kMouseRightUp));
  EXPECT_FALSE(IsMouseKey(kKeyEnter));
}

}  // namespace
}  // namespace qzr
