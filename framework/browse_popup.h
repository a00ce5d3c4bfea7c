// BrowsePopup: the popup menu a browse shows when its list is right-clicked
// ("Browse Actions"), with its items in the browse's notation, and the
// translation of that notation into the window's menu text.
//
// Item notation: a leading "!" marks an item that mimics a button; the text
// after it is the item's own text, and the button it mimics is named with
// it ("!&Insert&Insert": the item "&Insert" mimicking the button "&Insert";
// "!&View" mimics "&View", given apart). A separator is named
// ("Separator2"). Choosing a mimicking item does what pressing its button
// does, so an item whose button is disabled is shown disabled.
//
// Threads: a popup belongs to its browse's thread.

#ifndef QZR_FRAMEWORK_BROWSE_POPUP_H_
#define QZR_FRAMEWORK_BROWSE_POPUP_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qzr {

class Window;

inline constexpr char kBrowsePopupName[] = "Browse Actions";

struct BrowsePopupItem {
  std::string NAME;     // the item in the browse's notation ("!&Insert&Insert")
  std::string TEXT;     // what the menu shows ("&Insert"); "" for a separator
  std::string MIMIC;    // the button text it mimics ("&Insert"); "" none
  int32_t CONTROL = 0;  // the mimicked button's control; 0 none
  bool SEPARATOR = false;
};

class BrowsePopup {
 public:
  // Appends an item that mimics the button `control` captioned `mimic`.
  void AddMimic(std::string name, std::string text, std::string mimic, int32_t control);
  void AddSeparator(std::string name);
  void Clear() { items_.clear(); }
  const std::vector<BrowsePopupItem>& Items() const { return items_; }

  // The window's menu text ("&Insert|~&Change|-|..."): separators as "-",
  // items whose button is disabled (or hidden) in `window` marked "~".
  // Leading, trailing and doubled separators are left out.
  std::string MenuText(const Window* window) const;
  // Shows the menu over `window` and returns the chosen item (nullptr when
  // dismissed or empty).
  const BrowsePopupItem* Ask(Window* window) const;

  std::string NAME = kBrowsePopupName;

 private:
  // The items MenuText shows, in order.
  std::vector<const BrowsePopupItem*> Shown() const;
  std::vector<BrowsePopupItem> items_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_BROWSE_POPUP_H_
