// The popup-menu notation.

#include "ui/popup_menu.h"

#include "runtime/core/text.h"

namespace qzr {
namespace {

class Parser {
 public:
  Parser(std::string_view text, std::string* error) : text_(text), error_(error) {}

  bool Parse(PopupMenu* menu) {
    if (text_.empty()) return Fail("the menu is empty");
    if (!Items(&menu->items, false)) return false;
    menu->count = number_;
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    *error_ = "offset " + std::to_string(pos_) + ": " + what;
    return false;
  }

  // Items up to the end of the text, or through the "}" closing a submenu.
  bool Items(std::vector<PopupItem>* items, bool in_submenu) {
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '{') {
        ++pos_;
        PopupItem sub;
        sub.text = Text();
        if (pos_ < text_.size() && text_[pos_] == '|') ++pos_;
        if (!Items(&sub.submenu, true)) return false;
        items->push_back(std::move(sub));
      } else {
        items->push_back(Item(Text()));
      }
      if (pos_ >= text_.size()) {
        if (in_submenu) return Fail("a submenu is not closed with \"}\"");
        return true;
      }
      switch (text_[pos_]) {
        case '}':
          if (!in_submenu) return Fail("a \"}\" closes no submenu");
          ++pos_;
          return true;
        case '|':
          ++pos_;
          break;
        default:
          return Fail("a \"{\" must begin an item");
      }
    }
  }

  PopupItem Item(std::string_view text) {
    PopupItem item;
    if (text == "-") {
      item.separator = true;
      return item;
    }
    if (!text.empty() && text[0] == '~') {
      item.disabled = true;
      text.remove_prefix(1);
    }
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      item.check = text[0] == '+' ? 1 : -1;
      text.remove_prefix(1);
    }
    item.text = std::string(text);
    item.number = ++number_;
    return item;
  }

  // The text up to the next "|", "{" or "}".
  std::string Text() {
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '|' && text_[pos_] != '{' && text_[pos_] != '}') {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string_view text_;
  std::string* error_;
  size_t pos_ = 0;
  int number_ = 0;
};

const PopupItem* Find(const std::vector<PopupItem>& items, int number) {
  for (const PopupItem& item : items) {
    if (item.is_submenu()) {
      if (const PopupItem* found = Find(item.submenu, number)) return found;
    } else if (item.number == number && number != 0) {
      return &item;
    }
  }
  return nullptr;
}

int FindText(const std::vector<PopupItem>& items, std::string_view text) {
  for (const PopupItem& item : items) {
    if (item.is_submenu()) {
      if (int n = FindText(item.submenu, text)) return n;
    } else if (item.number != 0 && !item.disabled &&
               EqualNoCase(StripAccelerator(item.text), text)) {
      return item.number;
    }
  }
  return 0;
}

}  // namespace

bool ParsePopupMenu(std::string_view text, PopupMenu* menu, std::string* error) {
  *menu = PopupMenu();
  std::string scratch;
  Parser parser(text, error ? error : &scratch);
  return parser.Parse(menu);
}

const PopupItem* FindPopupItem(const PopupMenu& menu, int number) {
  return Find(menu.items, number);
}

int PopupItemNumber(const PopupMenu& menu, std::string_view text) {
  return FindText(menu.items, text);
}

std::string StripAccelerator(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace qzr
