// The browse's popup menu (see browse_popup.h).

#include "framework/browse_popup.h"

#include "ui/window.h"

namespace qzr {

void BrowsePopup::AddMimic(std::string name, std::string text, std::string mimic, int32_t control) {
  items_.push_back({std::move(name), std::move(text), std::move(mimic), control, false});
}

void BrowsePopup::AddSeparator(std::string name) {
  items_.push_back({std::move(name), {}, {}, 0, true});
}

std::vector<const BrowsePopupItem*> BrowsePopup::Shown() const {
  std::vector<const BrowsePopupItem*> shown;
  for (const BrowsePopupItem& item : items_) {
    if (item.SEPARATOR && (shown.empty() || shown.back()->SEPARATOR)) continue;
    shown.push_back(&item);
  }
  while (!shown.empty() && shown.back()->SEPARATOR) shown.pop_back();
  return shown;
}

std::string BrowsePopup::MenuText(const Window* window) const {
  std::string menu;
  for (const BrowsePopupItem* item : Shown()) {
    if (!menu.empty()) menu += '|';
    if (item->SEPARATOR) {
      menu += '-';
      continue;
    }
    const bool off = window != nullptr && item->CONTROL != 0 &&
                     (window->Disabled(item->CONTROL) || window->Hidden(item->CONTROL));
    if (off) menu += '~';
    // The menu text gives "|", "{" and "}" a meaning; an item's own text
    // never holds them.
    for (char c : item->TEXT) {
      if (c != '|' && c != '{' && c != '}') menu += c;
    }
  }
  return menu;
}

const BrowsePopupItem* BrowsePopup::Ask(Window* window) const {
  if (window == nullptr) return nullptr;
  const std::vector<const BrowsePopupItem*> shown = Shown();
  const std::string menu = MenuText(window);
  if (menu.empty()) return nullptr;
  const int chosen = window->Popup(menu);
  // Items are numbered in order, separators skipped.
  int number = 0;
  for (const BrowsePopupItem* item : shown) {
    if (item->SEPARATOR) continue;
    if (++number == chosen) return item;
  }
  return nullptr;
}

}  // namespace qzr
