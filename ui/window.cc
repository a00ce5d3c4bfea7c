// The window core (first cut: the interface only; the core follows).

#include "ui/window.h"

namespace qzr {

struct WindowCore {
  explicit WindowCore(const WindowDef& d) : def(d) {}
  const WindowDef& def;
  std::string error;
  ListFormat no_format;
};

Window::Window(const WindowDef& def) : core_(std::make_unique<WindowCore>(def)) {}
Window::~Window() = default;
bool Window::Open(Window* owner) {
  core_->error = "windows are not available yet";
  return false;
}
const std::string& Window::OpenError() const {
  return core_->error;
}
void Window::Close() {}
bool Window::IsOpen() const {
  return false;
}
const WindowDef& Window::Def() const {
  return core_->def;
}
WindowId Window::Id() const {
  return 0;
}
bool Window::Accept(Event* event) {
  return false;
}
void Window::Default(const Event& event) {}
int Window::Pump(const std::function<bool(const Event&)>& handle) {
  return 0;
}
bool Window::Post(int32_t code, int32_t control, int32_t param) {
  return false;
}
int Window::Pending() const {
  return 0;
}
bool Window::HasControl(int control) const {
  return false;
}
int Window::FindControl(std::string_view name) const {
  return 0;
}
ControlKind Window::Kind(int control) const {
  return ControlKind::kString;
}
std::vector<int> Window::Controls() const {
  return {};
}
int Window::AddControl(ControlDef def) {
  return 0;
}
void Window::Use(int control, const UFO& value) {}
void Window::From(int list, QUEUE* rows) {}
void Window::Display(int control) {}
bool Window::Update(int control) {
  return true;
}
void Window::Select(int control) {}
void Window::SelectAll() {}
bool Window::InAcceptAll() const {
  return false;
}
int Window::Focus() const {
  return 0;
}
std::string Window::Caption() const {
  return core_->def.caption;
}
void Window::SetCaption(std::string_view caption) {}
std::string Window::Text(int control) const {
  return {};
}
void Window::SetText(int control, std::string_view text) {}
bool Window::Hidden(int control) const {
  return false;
}
void Window::SetHidden(int control, bool hidden) {}
bool Window::Disabled(int control) const {
  return false;
}
void Window::SetDisabled(int control, bool disabled) {}
bool Window::ReadOnly(int control) const {
  return false;
}
void Window::SetReadOnly(int control, bool read_only) {}
bool Window::Visible(int control) const {
  return false;
}
bool Window::Checked(int control) const {
  return false;
}
int Window::Choice(int control) const {
  return 0;
}
void Window::SetChoice(int control, int choice) {}
int Window::Items(int list) const {
  return 0;
}
int Window::Rows(int list) const {
  return 0;
}
Rect Window::Position(int control) const {
  return {};
}
void Window::SetPosition(int control, const Rect& rect) {}
void Window::MoveControls(const std::vector<std::pair<int, Rect>>& moves) {}
void Window::SetSizeLimits(int min_width, int min_height, int max_width, int max_height) {}
WindowState Window::State() const {
  return WindowState::kNormal;
}
Appearance Window::GetAppearance(int control) const {
  return {};
}
void Window::SetAppearance(int control, const Appearance& appearance) {}
void Window::SetIcon(int list, int number, std::string_view name) {}
const ListFormat& Window::Format(int list) const {
  return core_->no_format;
}
void Window::Alert(int32_t keycode, int control) {}
void Window::RemoveAlert(int32_t keycode, int control) {}
bool Window::Alerted(int32_t keycode, int control) const {
  return false;
}
void Window::SetTimer(int hundredths) {}
int Window::Timer() const {
  return 0;
}
int Window::Popup(std::string_view menu) {
  return 0;
}
bool Window::Notification(int32_t* code, int32_t* thread, int32_t* param) const {
  return false;
}
Window* Window::Active() {
  return nullptr;
}

int32_t CurrentEvent() {
  return 0;
}
int32_t CurrentControl() {
  return 0;
}
int32_t KeyCode() {
  return 0;
}
void SetKeyCode(int32_t keycode) {}
int32_t FocusControl() {
  return 0;
}
int32_t ThreadNumber() {
  return 1;
}
int32_t Post(int32_t code, int32_t control, int32_t thread) {
  return code;
}
bool Notify(int32_t code, int32_t thread, int32_t param) {
  return false;
}

void InputSink::Clicked(WindowId id, int control, int32_t keycode) {}
void InputSink::TextChanged(WindowId id, int control, std::string_view text) {}
void InputSink::EditFinished(WindowId id, int control, int32_t keycode) {}
void InputSink::Toggled(WindowId id, int control, bool checked) {}
void InputSink::RowClicked(WindowId id, int list, int row, int32_t keycode) {}
void InputSink::TabSelected(WindowId id, int sheet, int tab) {}
bool InputSink::KeyPressed(WindowId id, int control, int32_t keycode) {
  return false;
}
void InputSink::Scrolled(WindowId id, int list, ScrollAction action, int percent) {}
void InputSink::HeaderClicked(WindowId id, int list, int column, int32_t modifiers) {}
void InputSink::FocusMoved(WindowId id, int control) {}
void InputSink::MouseOver(WindowId id, int control) {}
void InputSink::Resized(WindowId id, int width, int height) {}
void InputSink::Moved(WindowId id, int x, int y) {}
void InputSink::StateRequested(WindowId id, int32_t event_code) {}
void InputSink::StateChanged(WindowId id, WindowState state) {}
void InputSink::CloseRequested(WindowId id) {}
void InputSink::TimerFired(WindowId id) {}
void InputSink::ListCapacity(WindowId id, int list, int rows) {}
void InputSink::ShutDown() {}

}  // namespace qzr
