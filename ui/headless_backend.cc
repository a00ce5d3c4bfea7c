// The scripted user: its steps, the window mirrors and the records.

#include "ui/headless_backend.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "runtime/core/utf8.h"
#include "ui/keycodes.h"
#include "ui/message.h"

namespace qzr {
namespace {

std::string Hex(int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
  return buf;
}

std::string Quote(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

}  // namespace

// ---- HeadlessWindow ------------------------------------------------------------

const HeadlessControl* HeadlessWindow::Control(int control) const {
  auto it = controls.find(control);
  return it == controls.end() ? nullptr : &it->second;
}

std::string HeadlessWindow::Text(int control) const {
  const HeadlessControl* c = Control(control);
  return c ? c->text : std::string();
}

bool HeadlessWindow::Hidden(int control) const {
  const HeadlessControl* c = Control(control);
  return c && (c->flags & kControlHidden) != 0;
}

bool HeadlessWindow::Enabled(int control) const {
  const HeadlessControl* c = Control(control);
  return c && (c->flags & kControlDisabled) == 0;
}

bool HeadlessWindow::ReadOnly(int control) const {
  const HeadlessControl* c = Control(control);
  return c && (c->flags & kControlReadOnly) != 0;
}

bool HeadlessWindow::Checked(int control) const {
  const HeadlessControl* c = Control(control);
  return c && c->checked;
}

bool HeadlessWindow::IsDefault(int control) const {
  const HeadlessControl* c = Control(control);
  return c && (c->flags & kControlDefault) != 0;
}

int HeadlessWindow::Choice(int control) const {
  const HeadlessControl* c = Control(control);
  return c ? c->choice : 0;
}

Rect HeadlessWindow::Position(int control) const {
  if (control == 0) return at;
  const HeadlessControl* c = Control(control);
  return c ? c->at : Rect();
}

std::vector<std::vector<std::string>> HeadlessWindow::Rows(int list) const {
  std::vector<std::vector<std::string>> out;
  if (const HeadlessControl* c = Control(list)) {
    for (const ListRow& row : c->rows) {
      std::vector<std::string> cells;
      for (const ListCell& cell : row) cells.push_back(cell.text);
      out.push_back(std::move(cells));
    }
  }
  return out;
}

std::string HeadlessWindow::Row(int list, int row) const {
  const HeadlessControl* c = Control(list);
  if (!c || row < 1 || row > static_cast<int>(c->rows.size())) return {};
  std::string out;
  for (const ListCell& cell : c->rows[row - 1]) {
    if (!out.empty()) out += '\t';
    out += cell.text;
  }
  return out;
}

// ---- Construction, failures ----------------------------------------------------

HeadlessBackend::HeadlessBackend() = default;
HeadlessBackend::~HeadlessBackend() = default;

void HeadlessBackend::SetFailureHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(mu_);
  failure_handler_ = std::move(handler);
}

std::vector<std::string> HeadlessBackend::Failures() const {
  std::lock_guard<std::mutex> lock(mu_);
  return failures_;
}

void HeadlessBackend::SetEventBudget(int64_t events) {
  std::lock_guard<std::mutex> lock(mu_);
  budget_ = events;
}

void HeadlessBackend::SetWaitForPosts(bool wait) {
  std::lock_guard<std::mutex> lock(mu_);
  wait_for_posts_ = wait;
}

void HeadlessBackend::Fail(std::string text) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard<std::mutex> lock(mu_);
    failures_.push_back(text);
    transcript_.push_back("failure " + text);
    handler = failure_handler_;
  }
  if (handler) handler(text);
}

void HeadlessBackend::ReportFailure(std::string_view text) {
  Fail(std::string(text));
}

int64_t HeadlessBackend::EventBudget() const {
  std::lock_guard<std::mutex> lock(mu_);
  return budget_;
}

// ---- The script ------------------------------------------------------------------

void HeadlessBackend::AddStep(std::string label,
                              std::function<void(WindowId, HeadlessWindow*)> action) {
  std::lock_guard<std::mutex> lock(mu_);
  Step step;
  step.label = std::move(label);
  step.action = std::move(action);
  steps_.push_back(std::move(step));
  woken_cv_.notify_all();
}

size_t HeadlessBackend::PendingSteps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return steps_.size();
}

void HeadlessBackend::Click(int control) {
  AddStep("Click(" + std::to_string(control) + ")",
          [control](WindowId id, HeadlessWindow*) { InputSink::Clicked(id, control, kMouseLeft); });
}

void HeadlessBackend::Type(int control, std::string_view text, bool finish) {
  std::string t(text);
  AddStep("Type(" + std::to_string(control) + ", " + Quote(text) + (finish ? ")" : ", pending)"),
          [this, control, t, finish](WindowId id, HeadlessWindow* w) {
            TypeInto(id, w, control, t, false, finish);
          });
}

void HeadlessBackend::Append(int control, std::string_view text, bool finish) {
  std::string t(text);
  AddStep("Append(" + std::to_string(control) + ", " + Quote(text) + (finish ? ")" : ", pending)"),
          [this, control, t, finish](WindowId id, HeadlessWindow* w) {
            TypeInto(id, w, control, t, true, finish);
          });
}

void HeadlessBackend::TypeInto(WindowId id, HeadlessWindow* w, int control, std::string_view text,
                               bool append, bool finish) {
  if (w->focus != control) {
    Mirrored(id, [&] { w->focus = control; });
    InputSink::FocusMoved(id, control);
  }
  std::string now;
  bool refused = false;
  Mirrored(id, [&] {
    HeadlessControl* c = MirrorControl(id, control);
    if (c == nullptr) return;
    std::string typed = append ? c->text : std::string();
    // A native control takes what fits and refuses the rest as typed, so
    // the kept part never ends inside a character.
    const size_t base = typed.size();
    size_t room = text.size();
    if (c->text_capacity != 0) room = base >= c->text_capacity ? 0 : c->text_capacity - base;
    const size_t keep = Utf8Cut(text, room).size();
    refused = keep < text.size();
    typed.append(text.substr(0, keep));
    c->text = typed;
    now = std::move(typed);
  });
  if (refused) Beep(kBeepStandard);
  InputSink::TextChanged(id, control, now);
  if (finish) InputSink::EditFinished(id, control, kKeyTab);
}

void HeadlessBackend::Key(int32_t keycode, int control) {
  AddStep("Key(" + KeyName(keycode) + (control ? ", " + std::to_string(control) : "") + ")",
          [keycode, control](WindowId id, HeadlessWindow* w) {
            InputSink::KeyPressed(id, control != 0 ? control : w->focus, keycode);
          });
}

void HeadlessBackend::Check(int control, bool checked) {
  AddStep("Check(" + std::to_string(control) + ", " + (checked ? "on" : "off") + ")",
          [this, control, checked](WindowId id, HeadlessWindow*) {
            Mirrored(id, [&] {
              if (HeadlessControl* c = MirrorControl(id, control)) c->checked = checked;
            });
            InputSink::Toggled(id, control, checked);
          });
}

void HeadlessBackend::SelectRow(int list, int row) {
  AddStep("SelectRow(" + std::to_string(list) + ", " + std::to_string(row) + ")",
          [this, list, row](WindowId id, HeadlessWindow*) {
            SelectMirroredRow(id, list, row);
            InputSink::RowClicked(id, list, row, kMouseLeft);
          });
}

void HeadlessBackend::DoubleClick(int list, int row) {
  AddStep("DoubleClick(" + std::to_string(list) + ", " + std::to_string(row) + ")",
          [this, list, row](WindowId id, HeadlessWindow*) {
            SelectMirroredRow(id, list, row);
            InputSink::RowClicked(id, list, row, kMouseLeft);
            InputSink::RowClicked(id, list, row, kMouseLeft2);
          });
}

void HeadlessBackend::RightClick(int list, int row) {
  AddStep("RightClick(" + std::to_string(list) + ", " + std::to_string(row) + ")",
          [this, list, row](WindowId id, HeadlessWindow*) {
            SelectMirroredRow(id, list, row);
            InputSink::RowClicked(id, list, row, kMouseRight);
          });
}

void HeadlessBackend::SelectTab(int sheet, int tab) {
  AddStep("SelectTab(" + std::to_string(sheet) + ", " + std::to_string(tab) + ")",
          [this, sheet, tab](WindowId id, HeadlessWindow*) {
            Mirrored(id, [&] {
              if (HeadlessControl* c = MirrorControl(id, sheet)) c->choice = tab;
            });
            InputSink::TabSelected(id, sheet, tab);
          });
}

void HeadlessBackend::Focus(int control) {
  AddStep("Focus(" + std::to_string(control) + ")",
          [this, control](WindowId id, HeadlessWindow* w) {
            Mirrored(id, [&] { w->focus = control; });
            InputSink::FocusMoved(id, control);
          });
}

void HeadlessBackend::Hover(int control) {
  AddStep("Hover(" + std::to_string(control) + ")",
          [control](WindowId id, HeadlessWindow*) { InputSink::MouseOver(id, control); });
}

void HeadlessBackend::Scroll(int list, ScrollAction action, int percent) {
  static const char* const kNames[] = {"line up", "line down", "page up", "page down",
                                       "top",     "bottom",    "drag"};
  std::string label = "Scroll(" + std::to_string(list) + ", " + kNames[static_cast<int>(action)] +
                      (action == ScrollAction::kDrag ? " " + std::to_string(percent) : "") + ")";
  AddStep(std::move(label), [list, action, percent](WindowId id, HeadlessWindow*) {
    InputSink::Scrolled(id, list, action, percent);
  });
}

void HeadlessBackend::HeaderClick(int list, int column, int32_t modifiers) {
  AddStep("HeaderClick(" + std::to_string(list) + ", " + std::to_string(column) +
              (modifiers ? ", " + KeyName(modifiers | kMouseLeft) : "") + ")",
          [list, column, modifiers](WindowId id, HeadlessWindow*) {
            InputSink::HeaderClicked(id, list, column, modifiers);
          });
}

void HeadlessBackend::ResizeColumn(int list, int column, int width) {
  AddStep("ResizeColumn(" + std::to_string(list) + ", " + std::to_string(column) + ", " +
              std::to_string(width) + ")",
          [list, column, width](WindowId id, HeadlessWindow*) {
            InputSink::ColumnResized(id, list, column, width);
          });
}

void HeadlessBackend::Resize(int width, int height) {
  AddStep("Resize(" + std::to_string(width) + ", " + std::to_string(height) + ")",
          [this, width, height](WindowId id, HeadlessWindow* w) {
            Mirrored(id, [&] {
              w->at.width = width;
              w->at.height = height;
            });
            InputSink::Resized(id, width, height);
          });
}

void HeadlessBackend::Move(int x, int y) {
  AddStep("Move(" + std::to_string(x) + ", " + std::to_string(y) + ")",
          [this, x, y](WindowId id, HeadlessWindow* w) {
            Mirrored(id, [&] {
              w->at.x = x;
              w->at.y = y;
            });
            InputSink::Moved(id, x, y);
          });
}

void HeadlessBackend::Iconize() {
  AddStep("Iconize()",
          [](WindowId id, HeadlessWindow*) { InputSink::StateRequested(id, EVENT::Iconize); });
}

void HeadlessBackend::Maximize() {
  AddStep("Maximize()",
          [](WindowId id, HeadlessWindow*) { InputSink::StateRequested(id, EVENT::Maximize); });
}

void HeadlessBackend::Restore() {
  AddStep("Restore()",
          [](WindowId id, HeadlessWindow*) { InputSink::StateRequested(id, EVENT::Restore); });
}

void HeadlessBackend::Close() {
  AddStep("Close()", [](WindowId id, HeadlessWindow*) { InputSink::CloseRequested(id); });
}

void HeadlessBackend::Tick() {
  AddStep("Tick()", [](WindowId id, HeadlessWindow* w) {
    if (w->timer > 0) InputSink::TimerFired(id);
  });
}

void HeadlessBackend::ExpectWindow(std::string caption) {
  AddStep("ExpectWindow(" + Quote(caption) + ")", [this, caption](WindowId, HeadlessWindow* w) {
    if (w->caption != caption) {
      Fail("expected window " + Quote(caption) + " on top, found " + Quote(w->caption));
    }
  });
}

void HeadlessBackend::Then(std::function<void(HeadlessWindow&)> step) {
  AddStep("Then()", [step = std::move(step)](WindowId, HeadlessWindow* w) { step(*w); });
}

void HeadlessBackend::AnswerMessage(int button) {
  std::lock_guard<std::mutex> lock(mu_);
  Step step;
  step.kind = Step::kAnswerMessage;
  step.label = "AnswerMessage(" + std::to_string(button) + ")";
  step.answer = button;
  steps_.push_back(std::move(step));
}

void HeadlessBackend::AnswerPopup(int item) {
  std::lock_guard<std::mutex> lock(mu_);
  Step step;
  step.kind = Step::kAnswerPopup;
  step.label = "AnswerPopup(" + std::to_string(item) + ")";
  step.answer = item;
  steps_.push_back(std::move(step));
}

void HeadlessBackend::AnswerPopup(std::string item_text) {
  std::lock_guard<std::mutex> lock(mu_);
  Step step;
  step.kind = Step::kAnswerPopup;
  step.label = "AnswerPopup(" + Quote(item_text) + ")";
  step.answer = -1;
  step.answer_text = std::move(item_text);
  steps_.push_back(std::move(step));
}

void HeadlessBackend::QueueAnswer(int button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

void HeadlessBackend::QueueAnswers(std::initializer_list<int> buttons) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.insert(answers_.end(), buttons.begin(), buttons.end());
}

void HeadlessBackend::SetFallbackAnswer(std::optional<int> button) {
  std::lock_guard<std::mutex> lock(mu_);
  fallback_ = button;
}

size_t HeadlessBackend::PendingAnswers() const {
  std::lock_guard<std::mutex> lock(mu_);
  return answers_.size();
}

WaitResult HeadlessBackend::WaitForInput(WindowId top) {
  for (;;) {
    Step step;
    std::string caption;
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (woken_) {
        woken_ = false;
        return WaitResult::kInput;
      }
      auto it = windows_.find(top);
      caption = it == windows_.end() ? std::string() : it->second.caption;
      if (steps_.empty()) {
        if (!wait_for_posts_) {
          lock.unlock();
          Fail("the script ran out while window " + Quote(caption) + " waits for input");
          return WaitResult::kNoMoreInput;
        }
        woken_cv_.wait(lock, [this] { return woken_ || !steps_.empty(); });
        continue;
      }
      step = std::move(steps_.front());
      steps_.pop_front();
      transcript_.push_back("step " + step.label);
    }
    if (step.kind != Step::kAction) {
      Fail("the script's " + step.label + " was not used: window " + Quote(caption) +
           " waits for input");
      continue;
    }
    HeadlessWindow* w;
    {
      std::lock_guard<std::mutex> lock(mu_);
      w = Mirror(top);
    }
    if (w == nullptr) {
      Fail("the script's " + step.label + " found no window");
      return WaitResult::kNoMoreInput;
    }
    // The mirror stays valid: only this thread opens or closes windows, and
    // a step only queues input.
    step.action(top, w);
    return WaitResult::kInput;
  }
}

void HeadlessBackend::Wake() {
  std::lock_guard<std::mutex> lock(mu_);
  woken_ = true;
  woken_cv_.notify_all();
}

void HeadlessBackend::Mirrored(WindowId id, const std::function<void()>& change) {
  std::lock_guard<std::mutex> lock(mu_);
  if (Mirror(id) != nullptr) change();
}

void HeadlessBackend::SelectMirroredRow(WindowId id, int list, int row) {
  std::lock_guard<std::mutex> lock(mu_);
  HeadlessControl* c = MirrorControl(id, list);
  if (c != nullptr && row >= 1 && row <= static_cast<int>(c->rows.size())) c->choice = row;
}

// ---- Records ---------------------------------------------------------------------

const HeadlessWindow* HeadlessBackend::Top() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (open_order_.empty()) return nullptr;
  auto it = windows_.find(open_order_.back());
  return it == windows_.end() ? nullptr : &it->second;
}

const HeadlessWindow* HeadlessBackend::Find(std::string_view caption_or_name) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = open_order_.rbegin(); it != open_order_.rend(); ++it) {
    const HeadlessWindow& w = windows_.at(*it);
    if (w.caption == caption_or_name || w.name == caption_or_name) return &w;
  }
  return nullptr;
}

std::vector<std::string> HeadlessBackend::WindowsOpened() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out = opened_;
  for (WindowId id : open_order_) out.push_back(windows_.at(id).caption);
  return out;
}

std::vector<HeadlessBackend::ShownMessage> HeadlessBackend::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

std::vector<HeadlessBackend::ShownPopup> HeadlessBackend::Popups() const {
  std::lock_guard<std::mutex> lock(mu_);
  return popups_;
}

std::vector<HeadlessBackend::DeliveredEvent> HeadlessBackend::Events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

std::vector<int> HeadlessBackend::Cursors() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cursors_;
}

std::vector<int> HeadlessBackend::Beeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return beeps_;
}

std::vector<std::string> HeadlessBackend::Transcript() const {
  std::lock_guard<std::mutex> lock(mu_);
  return transcript_;
}

void HeadlessBackend::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.clear();
  messages_.clear();
  popups_.clear();
  events_.clear();
  cursors_.clear();
  beeps_.clear();
  transcript_.clear();
  failures_.clear();
}

// ---- WindowBackend ---------------------------------------------------------------

int HeadlessBackend::ShowMessage(const MessageRequest& request) {
  std::lock_guard<std::mutex> lock(mu_);
  int answer = request.default_button;
  if (!steps_.empty() && steps_.front().kind == Step::kAnswerMessage) {
    answer = steps_.front().answer;
    transcript_.push_back("step " + steps_.front().label);
    steps_.pop_front();
  } else if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (fallback_) {
    answer = *fallback_;
  }
  messages_.push_back({request, answer});
  transcript_.push_back("message " + Quote(request.caption) + " " + Quote(request.text) + " -> " +
                        std::to_string(answer));
  return answer;
}

void HeadlessBackend::SetCursor(int cursor) {
  std::lock_guard<std::mutex> lock(mu_);
  cursors_.push_back(cursor);
}

void HeadlessBackend::Beep(int type) {
  std::lock_guard<std::mutex> lock(mu_);
  beeps_.push_back(type);
  transcript_.push_back("beep " + std::to_string(type));
}

// ---- Toolkit -----------------------------------------------------------------------

HeadlessWindow* HeadlessBackend::Mirror(WindowId id) {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : &it->second;
}

HeadlessControl* HeadlessBackend::MirrorControl(WindowId id, int control) {
  HeadlessWindow* w = Mirror(id);
  if (w == nullptr) return nullptr;
  auto it = w->controls.find(control);
  return it == w->controls.end() ? nullptr : &it->second;
}

bool HeadlessBackend::CreateWindow(WindowId id, const WindowDef& def, WindowId owner,
                                   std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  HeadlessWindow w;
  w.id = id;
  w.name = def.name;
  w.caption = def.caption;
  w.at = def.at;
  for (size_t i = 0; i < def.controls.size(); ++i) {
    HeadlessControl c;
    c.def = def.controls[i];
    c.text = c.def.text;
    c.flags =
        c.def.flags & (kControlHidden | kControlDisabled | kControlReadOnly | kControlDefault);
    c.at = c.def.at;
    c.look.tip = c.def.tip;
    c.look.cursor = c.def.cursor;
    c.look.icon = c.def.icon;
    w.controls[ControlNumber(def, i)] = std::move(c);
  }
  windows_[id] = std::move(w);
  open_order_.push_back(id);
  transcript_.push_back("open " + def.name + " " + Quote(def.caption));
  return true;
}

void HeadlessBackend::DestroyWindow(WindowId id) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = windows_.find(id);
  if (it == windows_.end()) return;
  transcript_.push_back("close " + it->second.name + " " + Quote(it->second.caption));
  opened_.push_back(it->second.caption);
  open_order_.erase(std::remove(open_order_.begin(), open_order_.end(), id), open_order_.end());
  windows_.erase(it);
}

bool HeadlessBackend::AddControl(WindowId id, const ControlDef& control, std::string* error) {
  std::lock_guard<std::mutex> lock(mu_);
  HeadlessWindow* w = Mirror(id);
  if (w == nullptr) {
    *error = "no such window";
    return false;
  }
  HeadlessControl c;
  c.def = control;
  c.text = control.text;
  c.flags =
      control.flags & (kControlHidden | kControlDisabled | kControlReadOnly | kControlDefault);
  c.at = control.at;
  c.look.tip = control.tip;
  c.look.cursor = control.cursor;
  c.look.icon = control.icon;
  w->controls[control.number] = std::move(c);
  return true;
}

void HeadlessBackend::SetCaption(WindowId id, std::string_view caption) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) w->caption = std::string(caption);
}

void HeadlessBackend::SetWindowRect(WindowId id, const Rect& rect) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) w->at = rect;
}

void HeadlessBackend::SetWindowState(WindowId id, WindowState state) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) w->state = state;
}

void HeadlessBackend::SetSizeLimits(WindowId id, int min_width, int min_height, int max_width,
                                    int max_height) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) {
    w->min_width = min_width;
    w->min_height = min_height;
    w->max_width = max_width;
    w->max_height = max_height;
  }
}

void HeadlessBackend::SetTimer(WindowId id, int hundredths) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) w->timer = hundredths;
}

void HeadlessBackend::SetControlText(WindowId id, int control, std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->text = std::string(text);
}

void HeadlessBackend::SetControlFlags(WindowId id, int control, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->flags = flags;
}

void HeadlessBackend::SetControlRect(WindowId id, int control, const Rect& rect) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->at = rect;
}

void HeadlessBackend::EndMoves(WindowId id) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) ++w->move_batches;
}

void HeadlessBackend::SetTextCapacity(WindowId id, int control, size_t bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->text_capacity = bytes;
}

void HeadlessBackend::SetAppearance(WindowId id, int control, const Appearance& appearance) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->look = appearance;
}

void HeadlessBackend::SetChecked(WindowId id, int control, bool checked) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->checked = checked;
}

void HeadlessBackend::SetRows(WindowId id, int list, const std::vector<ListRow>& rows) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, list)) c->rows = rows;
}

void HeadlessBackend::SetIcons(WindowId id, int list, const std::vector<std::string>& icons) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, list)) c->icons = icons;
}

void HeadlessBackend::SetColumnWidths(WindowId id, int list, const std::vector<int>& widths) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, list)) c->column_widths = widths;
}

void HeadlessBackend::SetChoice(WindowId id, int control, int choice) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessControl* c = MirrorControl(id, control)) c->choice = choice;
}

void HeadlessBackend::SetFocus(WindowId id, int control) {
  std::lock_guard<std::mutex> lock(mu_);
  if (HeadlessWindow* w = Mirror(id)) w->focus = control;
}

int HeadlessBackend::ShowPopup(WindowId id, const PopupMenu& menu) {
  std::lock_guard<std::mutex> lock(mu_);
  int answer = 0;
  if (!steps_.empty() && steps_.front().kind == Step::kAnswerPopup) {
    const Step& step = steps_.front();
    answer = step.answer >= 0 ? step.answer : PopupItemNumber(menu, step.answer_text);
    transcript_.push_back("step " + step.label);
    steps_.pop_front();
    const PopupItem* item = FindPopupItem(menu, answer);
    if (item == nullptr || item->disabled) answer = 0;
  }
  HeadlessWindow* w = Mirror(id);
  popups_.push_back({w ? w->caption : std::string(), menu, answer});
  transcript_.push_back("popup " + std::to_string(menu.count) + " items -> " +
                        std::to_string(answer));
  return answer;
}

void HeadlessBackend::EventDelivered(WindowId id, const Event& event) {
  std::lock_guard<std::mutex> lock(mu_);
  HeadlessWindow* w = Mirror(id);
  DeliveredEvent d{w ? w->name : std::string(), w ? w->caption : std::string(), event};
  std::string line =
      "event " + d.window + " " + EventLabel(event.code) + " " + Hex(event.message());
  if (event.control != 0) line += " control " + std::to_string(event.control);
  if (event.keycode != 0) line += " key " + KeyName(event.keycode);
  if (event.param != 0) line += " param " + std::to_string(event.param);
  transcript_.push_back(std::move(line));
  events_.push_back(std::move(d));
}

}  // namespace qzr
