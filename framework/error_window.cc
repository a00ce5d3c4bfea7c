// The error window.

#include "framework/error_window.h"

#include <cstring>

#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/toolkit.h"

namespace qzr {

namespace {

WindowDef MakeErrorWindowDef() {
  WindowDef def;
  def.resource = kErrorWindowName;
  def.name = kErrorWindowName;
  def.caption = kErrorWindowCaption;
  def.font = "MS Sans Serif";
  def.font_size = 8;
  def.at = Rect{0, 0, 318, 118};
  ControlDef image;
  image.number = kErrorImage;
  image.kind = ControlKind::kImage;
  image.name = "?IMAGE1";
  image.at = Rect{6, 6, 20, 20};
  def.controls.push_back(image);
  ControlDef list;
  list.number = kErrorList;
  list.kind = ControlKind::kList;
  list.name = "?LIST";
  list.format = kErrorListFormat;
  list.at = Rect{32, 6, 280, 84};
  list.flags = kControlVScroll | kControlHScroll;
  def.controls.push_back(list);
  for (int i = 0; i < kErrorButtons; ++i) {
    ControlDef b;
    b.number = kErrorFirstButton + i;
    b.kind = ControlKind::kButton;
    b.name = "?BUTTON" + std::to_string(i + 1);
    b.text = "Button " + std::to_string(i + 1);
    b.at = Rect{32 + i * 35, 96, 33, 14};
    b.flags = kControlHidden;
    def.controls.push_back(b);
  }
  return def;
}

// The icon names the window system knows the standard icons by.
const char* IconName(int icon) {
  switch (icon) {
    case kIconHand:
      return "ICON:Hand";
    case kIconQuestion:
      return "ICON:Question";
    case kIconExclamation:
      return "ICON:Exclamation";
    case kIconAsterisk:
      return "ICON:Asterisk";
    case kIconApplication:
      return "ICON:Application";
    default:
      return "";
  }
}

template <size_t N>
void SetCString(char (&field)[N], const std::string& text) {
  size_t len = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), len);
  std::memset(field + len, 0, N - len);
}

}  // namespace

const WindowDef& ErrorWindowDef() {
  static const WindowDef def = MakeErrorWindowDef();
  return def;
}

ErrorWindow::ErrorWindow(ErrorWindowRequest request) : request_(std::move(request)) {
  rows_.Field("MESSAGE", &ErrorHistoryRow::MESSAGE, TypeCode::CSTRING);
  rows_.Field("CATEGORY", &ErrorHistoryRow::CATEGORY, TypeCode::CSTRING);
  // Made consistent as every message box is: known bits only, at least OK,
  // and a default that is one of the offered buttons.
  buttons_ = request_.buttons & kAllButtons;
  if (buttons_ == 0) buttons_ = kButtonOk;
  const int d = request_.default_button;
  default_ = d > 0 && (d & (d - 1)) == 0 && (d & buttons_) != 0 ? d : (buttons_ & -buttons_);
  int next = 0;
  for (int bit = kButtonHelp; bit >= kButtonOk; bit >>= 1) {
    if ((buttons_ & bit) != 0 && next < kErrorButtons) values_[next++] = bit;
  }
  def_ = ErrorWindowDef();
  for (int i = 0; i < kErrorButtons; ++i) {
    if (values_[i] == default_) {
      for (ControlDef& c : def_.controls) {
        if (c.number == kErrorFirstButton + i) c.flags |= kControlDefault;
      }
    }
  }
}

int ErrorWindow::DismissValue() const {
  return (buttons_ & kButtonCancel) != 0 ? kButtonCancel : default_;
}

Severity ErrorWindow::Init() {
  if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
  CANCELACTION = 0;
  window_ = std::make_unique<Window>(def_);
  MYWINDOW = window_.get();
  // Nothing may be reported from here: this window is how errors are shown.
  if (!window_->Open()) return SeverityHalt;
  OPENED = 1;
  if (!request_.caption.empty()) window_->SetCaption(request_.caption);
  Appearance look = window_->GetAppearance(kErrorImage);
  look.icon = IconName(request_.icon);
  window_->SetAppearance(kErrorImage, look);
  for (int i = 0; i < kErrorButtons; ++i) {
    if (values_[i] == 0) continue;
    window_->SetText(kErrorFirstButton + i, ButtonCaption(values_[i]));
    window_->SetHidden(kErrorFirstButton + i, false);
  }
  FREE(&rows_);
  for (const auto& [message, category] : request_.history) {
    ErrorHistoryRow& r = rows_.record;
    SetCString(r.MESSAGE, message);
    SetCString(r.CATEGORY, category);
    ADD(&rows_);
  }
  window_->From(kErrorList, &rows_);
  window_->Display();
  window_->SetChoice(kErrorList, RECORDS(&rows_));  // the message just added
  window_->Alert(kKeyEsc);
  for (int i = 0; i < kErrorButtons; ++i) {
    if (values_[i] == default_) FIRSTFIELD = kErrorFirstButton + i;
  }
  return SeverityNone;
}

Severity ErrorWindow::HandleEvent() {
  const Event& e = ThisEvent();
  if (e.code == EVENT::AlertKey && e.keycode == kKeyEsc) {
    pressed_ = DismissValue();
    return SeverityHalt;
  }
  return WindowManager::HandleEvent();
}

Severity ErrorWindow::HandleAccepted() {
  const int control = ThisEvent().control;
  if (control >= kErrorFirstButton && control < kErrorFirstButton + kErrorButtons) {
    const int value = values_[control - kErrorFirstButton];
    if (value != 0) {
      pressed_ = value;
      return SeverityHalt;
    }
  }
  return WindowManager::HandleAccepted();
}

Severity ErrorWindow::HandleCloseEvent() {
  if (pressed_ == 0) pressed_ = DismissValue();
  return SeverityNone;
}

bool ShowErrorWindow(const ErrorWindowRequest& request, int* pressed) {
  if (CurrentToolkit() == nullptr) return false;
  ErrorWindow window(request);
  if (window.Init() != SeverityNone) {
    window.Kill();
    return false;
  }
  window.Ask();
  window.Kill();
  *pressed = window.Pressed() != 0 ? window.Pressed() : window.DismissValue();
  return true;
}

}  // namespace qzr
