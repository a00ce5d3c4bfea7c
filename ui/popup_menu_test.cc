#include "ui/popup_menu.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(PopupMenuTest, NumbersChoosableItemsInReadingOrder) {
  PopupMenu menu;
  std::string error;
  ASSERT_TRUE(
      ParsePopupMenu("&Insert|&Change|~&Delete|-|{&Sort|+&Name|-&Date}|C&lear", &menu, &error))
      << error;
  EXPECT_EQ(menu.count, 6);
  ASSERT_EQ(menu.items.size(), 6u);
  EXPECT_TRUE(menu.items[3].separator);
  EXPECT_EQ(menu.items[3].number, 0);
  ASSERT_TRUE(menu.items[4].is_submenu());
  EXPECT_EQ(menu.items[4].text, "&Sort");
  EXPECT_EQ(menu.items[4].number, 0);

  struct Case {
    int number;
    const char* text;
    bool disabled;
    int check;
  };
  const Case kCases[] = {
      {1, "&Insert", false, 0}, {2, "&Change", false, 0}, {3, "&Delete", true, 0},
      {4, "&Name", false, 1},   {5, "&Date", false, -1},  {6, "C&lear", false, 0},
  };
  for (const Case& c : kCases) {
    const PopupItem* item = FindPopupItem(menu, c.number);
    ASSERT_NE(item, nullptr) << c.number;
    EXPECT_EQ(item->text, c.text);
    EXPECT_EQ(item->disabled, c.disabled);
    EXPECT_EQ(item->check, c.check);
  }
  EXPECT_EQ(FindPopupItem(menu, 0), nullptr);
  EXPECT_EQ(FindPopupItem(menu, 7), nullptr);
  EXPECT_EQ(PopupItemNumber(menu, "date"), 5);
  EXPECT_EQ(PopupItemNumber(menu, "Delete"), 0);  // disabled: cannot be chosen
  EXPECT_EQ(PopupItemNumber(menu, "Nothing"), 0);
}

TEST(PopupMenuTest, RejectsUnbalancedSubmenusAndEmptyMenus) {
  PopupMenu menu;
  std::string error;
  for (const char* bad : {"", "{Sort|a", "a}|b", "a{b}"}) {
    EXPECT_FALSE(ParsePopupMenu(bad, &menu, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(PopupMenuTest, StripsAccelerators) {
  EXPECT_EQ(StripAccelerator("&Insert"), "Insert");
  EXPECT_EQ(StripAccelerator("Fish && &Chips"), "Fish & Chips");
}

}  // namespace
}  // namespace qzr
