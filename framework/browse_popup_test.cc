// Tests of the browse's popup menu: its items in the browse's notation and
// the menu text the window shows for them.

#include "framework/browse_popup.h"

#include <gtest/gtest.h>

#include "ui/popup_menu.h"

namespace qzr {
namespace {

TEST(BrowsePopupTest, ItemsKeepTheirNotationAndTheMenuShowsTheirTexts) {
  BrowsePopup popup;
  EXPECT_EQ(popup.NAME, "Browse Actions");
  popup.AddMimic("!&Insert&Insert", "&Insert", "&Insert", 14);
  popup.AddMimic("!&Change&Change", "&Change", "&Change", 15);
  popup.AddMimic("!&Delete&Delete", "&Delete", "&Delete", 16);
  popup.AddSeparator("Separator2");
  popup.AddMimic("!&Query", "&Query", "&Query", 20);
  ASSERT_EQ(popup.Items().size(), 5u);
  EXPECT_EQ(popup.Items()[0].NAME, "!&Insert&Insert");
  EXPECT_EQ(popup.Items()[0].MIMIC, "&Insert");
  EXPECT_EQ(popup.Items()[0].CONTROL, 14);
  EXPECT_TRUE(popup.Items()[3].SEPARATOR);
  EXPECT_EQ(popup.MenuText(nullptr), "&Insert|&Change|&Delete|-|&Query");

  PopupMenu menu;
  std::string error;
  ASSERT_TRUE(ParsePopupMenu(popup.MenuText(nullptr), &menu, &error)) << error;
  EXPECT_EQ(menu.count, 4);  // the separator is not numbered
}

TEST(BrowsePopupTest, SeparatorsAtTheEndsOrTwiceAreLeftOut) {
  BrowsePopup popup;
  popup.AddSeparator("Separator2");
  popup.AddMimic("!&View", "&View", "&View", 3);
  popup.AddSeparator("Separator2");
  popup.AddSeparator("ToolSeparator2");
  EXPECT_EQ(popup.MenuText(nullptr), "&View");
  popup.Clear();
  popup.AddSeparator("ToolSeparator2");
  EXPECT_EQ(popup.MenuText(nullptr), "");
  EXPECT_EQ(popup.Ask(nullptr), nullptr);
}

}  // namespace
}  // namespace qzr
