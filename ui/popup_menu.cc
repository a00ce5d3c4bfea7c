// The popup-menu notation.

#include "ui/popup_menu.h"

namespace qzr {

bool ParsePopupMenu(std::string_view text, PopupMenu* menu, std::string* error) {
  *menu = PopupMenu();
  return true;
}

const PopupItem* FindPopupItem(const PopupMenu& menu, int number) {
  return nullptr;
}

int PopupItemNumber(const PopupMenu& menu, std::string_view text) {
  return 0;
}

std::string StripAccelerator(std::string_view text) {
  return std::string(text);
}

}  // namespace qzr
