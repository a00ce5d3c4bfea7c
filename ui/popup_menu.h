// Popup menus: the menu text a procedure passes to Window::Popup, parsed into
// items, and the numbering of the items the user can choose.
//
// Notation: items separated by "|". In an item's text "&" marks the
// accelerator ("&&" is a plain "&").
//   "-"             a separator (not numbered)
//   "~text"         a disabled item (numbered, cannot be chosen)
//   "+text"         an item shown checked
//   "-text"         an item shown unchecked (a check item that is off)
//   "{title|...}"   a submenu: its title (not numbered) and its own items
// Prefixes combine in the order "~", then "+" or "-". Items are numbered 1, 2,
// ... in reading order, submenus included, skipping separators and submenu
// titles; Popup returns the chosen item's number, or 0 when the menu was
// dismissed.
//
// Example: "&Insert|&Change|~&Delete|-|{&Sort|&Name|&Date}" numbers Insert 1,
// Change 2, Delete 3 (disabled), Name 4, Date 5.
//
// Pure functions; safe from any thread.

#ifndef QZR_UI_POPUP_MENU_H_
#define QZR_UI_POPUP_MENU_H_

#include <string>
#include <string_view>
#include <vector>

namespace qzr {

struct PopupItem {
  std::string text;  // as given, "&" included; the title for a submenu
  int number = 0;    // 1-based; 0 for separators and submenu titles
  bool separator = false;
  bool disabled = false;
  int check = 0;                   // 0 not a check item, 1 checked, -1 unchecked
  std::vector<PopupItem> submenu;  // non-empty for a submenu
  bool is_submenu() const { return !submenu.empty(); }
};

struct PopupMenu {
  std::vector<PopupItem> items;
  int count = 0;  // the highest item number
};

// Parses `text`. False with `error` set for an unbalanced "{" or "}" or an
// empty menu.
bool ParsePopupMenu(std::string_view text, PopupMenu* menu, std::string* error);

// The item numbered `number`, or nullptr.
const PopupItem* FindPopupItem(const PopupMenu& menu, int number);

// The number of the first choosable item whose text, without "&", equals
// `text` (ignoring case); 0 when there is none.
int PopupItemNumber(const PopupMenu& menu, std::string_view text);

// "&Insert" -> "Insert"; "&&" -> "&".
std::string StripAccelerator(std::string_view text);

}  // namespace qzr

#endif  // QZR_UI_POPUP_MENU_H_
