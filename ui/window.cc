// The window core: window state, event queues, the accept loop, the thread
// table and the input sink.
//
// Invariants:
//  1. A window is in the registry and on its thread's stack exactly while it
//     is open; the top of the stack is the thread's active window.
//  2. Queues, the registry, the stacks and the thread table are changed only
//     under g_mu; everything else of a window is touched only by its own
//     thread (the toolkit's sink calls come on that thread too).
//  3. g_mu is never held while a toolkit is called, nor while procedure code
//     runs.
//  4. Entries with a message from kSystemMessageBase up are the core's own
//     (an edit to commit, a check to store, a step of the accept-all pass, a
//     toolkit update to make); they are turned into events, or into nothing,
//     when the loop takes them, so a variable changes only when the event
//     that reports the change is delivered, in queue order.

#include "ui/window.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>

#include "runtime/core/text.h"
#include "runtime/pictures/picture.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/keycodes.h"
#include "ui/picture_input.h"
#include "ui/text_capacity.h"

namespace qzr {
namespace {

// The core's own messages.
constexpr int32_t kMsgCommit = kSystemMessageBase + 1;     // control: an edit finished
constexpr int32_t kMsgToggle = kSystemMessageBase + 2;     // control, param: checked
constexpr int32_t kMsgAcceptAll = kSystemMessageBase + 3;  // param: next control index
constexpr int32_t kMsgSync = kSystemMessageBase + 4;       // only a toolkit update

// A toolkit update made when an entry is taken.
enum class Sync : uint8_t { kNone, kChoice, kFocus };

// The flags that change while a window is open.
constexpr uint32_t kMutableFlags =
    kControlHidden | kControlDisabled | kControlReadOnly | kControlDefault;

// Rows a list shows per dialog unit of height: one row per this many.
constexpr int kListRowHeight = 10;

struct Entry {
  int32_t message = 0;
  int32_t control = 0;
  int32_t keycode = 0;
  int32_t param = 0;
  bool user = false;  // caused by the user: its key code becomes the thread's
  Sync sync = Sync::kNone;
  int32_t press = 0;  // kMsgCommit: the button pressed when the commit succeeds
  std::string text;   // kMsgCommit: the text to commit
  int32_t notify_code = 0, notify_thread = 0, notify_param = 0;
  bool notify = false;
};

struct ThreadState;

struct ControlRec {
  ControlDef def;
  int number = 0;
  uint32_t flags = 0;  // kMutableFlags as they are now
  std::string text;    // the screen text
  std::string shown;   // the text last displayed from the variable
  bool has_shown = false;
  std::unique_ptr<UFO> use;
  QUEUE* from = nullptr;
  ListFormat format;
  std::vector<ListRow> rows;
  bool rows_valid = false;
  std::vector<std::string> icons;
  int choice = 0;
  int capacity = 0;          // rows the toolkit says the list shows; 0 unknown
  size_t text_capacity = 0;  // bytes the user may type; 0 no limit
  Rect at;
  Appearance look;
  bool checked = false;
  CompiledPicture picture{};
  std::vector<int32_t> alerts;

  bool dirty() const { return text != shown; }
};

}  // namespace

struct WindowCore {
  WindowCore(Window* w, const WindowDef& d) : self(w), def(d) {}

  Window* self;
  const WindowDef& def;
  std::string error;
  WindowId id = 0;
  bool open = false;
  std::string caption;
  Rect at;
  Rect last_sized;
  WindowState state = WindowState::kNormal;
  std::deque<ControlDef> added;  // definitions of controls added while open
  std::vector<ControlRec> controls;
  std::map<int, size_t> index;  // control number -> controls[]
  std::deque<Entry> queue;      // guarded by g_mu
  int focus = 0;
  int timer = 0;
  int mouse_over = 0;
  std::vector<int32_t> alerts;  // window-wide
  bool accept_all = false;
  bool has_current = false;
  Event current;
  Entry current_entry;
  ThreadState* thread = nullptr;
  ListFormat no_format;

  ControlRec* Find(int number) {
    auto it = index.find(number);
    return it == index.end() ? nullptr : &controls[it->second];
  }
  const ControlRec* Find(int number) const {
    auto it = index.find(number);
    return it == index.end() ? nullptr : &controls[it->second];
  }
  Toolkit* toolkit() const { return open ? CurrentToolkit() : nullptr; }
};

namespace {

std::mutex g_mu;
WindowId g_next_id = 0;
std::map<WindowId, WindowCore*> g_windows;

struct ThreadState {
  int32_t number = 0;              // slot + 1; 0 when the table was full
  std::vector<WindowCore*> stack;  // open windows, bottom first
  int32_t keycode = 0;
  int64_t delivered_in_row = 0;  // events since the last wait for input
  bool ended = false;            // the loops end (no more input, budget)
};

ThreadState* g_threads[kMaxWindowThreads] = {};

struct ThreadHolder {
  ThreadState* state = nullptr;
  ~ThreadHolder() {
    if (state == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(g_mu);
      if (state->number > 0) g_threads[state->number - 1] = nullptr;
    }
    delete state;
  }
};
thread_local ThreadHolder t_holder;

ThreadState* Self() {
  if (t_holder.state == nullptr) {
    auto* s = new ThreadState;
    std::lock_guard<std::mutex> lock(g_mu);
    for (int i = 0; i < kMaxWindowThreads; ++i) {
      if (g_threads[i] == nullptr) {
        g_threads[i] = s;
        s->number = i + 1;
        break;
      }
    }
    t_holder.state = s;
  }
  return t_holder.state;
}

WindowCore* TopOf(ThreadState* t) {
  return t->stack.empty() ? nullptr : t->stack.back();
}

void Wake() {
  if (Toolkit* tk = CurrentToolkit()) tk->Wake();
}

void Push(WindowCore* w, Entry e, bool front = false) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (front) {
    w->queue.push_front(std::move(e));
  } else {
    w->queue.push_back(std::move(e));
  }
}

Entry Ev(int32_t code, int32_t control = 0, int32_t keycode = 0, bool user = false) {
  Entry e;
  e.message = code + kEventMessageBase;
  e.control = control;
  e.keycode = keycode;
  e.user = user;
  return e;
}

// Queues `code` unless one is queued already (then `update` may change it).
void PushCoalesced(WindowCore* w, Entry e) {
  std::lock_guard<std::mutex> lock(g_mu);
  for (Entry& q : w->queue) {
    if (q.message == e.message) {
      if (e.message == EVENT::MouseMove + kEventMessageBase) q.control = e.control;
      return;
    }
  }
  w->queue.push_back(std::move(e));
}

bool ValidCode(int32_t code) {
  return code >= 0 && code < kEventCodeLimit;
}

bool IsInputKind(ControlKind k) {
  return k == ControlKind::kEntry || k == ControlKind::kText || k == ControlKind::kSpin ||
         k == ControlKind::kCombo;
}

bool TakesFocus(ControlKind k) {
  return IsInputKind(k) || k == ControlKind::kButton || k == ControlKind::kCheck ||
         k == ControlKind::kList || k == ControlKind::kOption || k == ControlKind::kRadio ||
         k == ControlKind::kSheet;
}

// The window the sink acts on: open, and the top window of its thread.
WindowCore* SinkTarget(WindowId id) {
  std::lock_guard<std::mutex> lock(g_mu);
  auto it = g_windows.find(id);
  if (it == g_windows.end()) return nullptr;
  WindowCore* w = it->second;
  return TopOf(w->thread) == w ? w : nullptr;
}

// A control the user can act on.
ControlRec* Usable(WindowCore* w, int control) {
  ControlRec* c = w->Find(control);
  if (c == nullptr || (c->flags & (kControlHidden | kControlDisabled)) != 0) return nullptr;
  return c;
}

std::string ValueText(const ControlRec& c) {
  if (!c.use) return {};
  return c.use->Text();
}

}  // namespace

// ---- Helpers of the core that need WindowCore's friends --------------------------

namespace {

bool VisibleIn(const WindowCore* w, const ControlRec* c) {
  int guard = 0;
  while (c != nullptr && guard++ < 64) {
    if (c->flags & kControlHidden) return false;
    if (c->def.kind == ControlKind::kTab && c->def.parent != 0) {
      const ControlRec* sheet = w->Find(c->def.parent);
      if (sheet != nullptr && sheet->def.kind == ControlKind::kSheet) {
        // The tab's position among its sheet's tabs.
        int n = 0, mine = 0;
        for (const ControlRec& t : w->controls) {
          if (t.def.kind == ControlKind::kTab && t.def.parent == sheet->number) {
            ++n;
            if (&t == c) mine = n;
          }
        }
        if (sheet->choice != mine) return false;
      }
    }
    if (c->def.parent == 0) return true;
    c = w->Find(c->def.parent);
  }
  return true;
}

bool Eligible(const WindowCore* w, const ControlRec& c) {
  const ControlKind k = c.def.kind;
  if (!(IsInputKind(k) || k == ControlKind::kCheck || k == ControlKind::kOption)) return false;
  if (c.flags & (kControlDisabled | kControlReadOnly)) return false;
  return VisibleIn(w, &c);
}

// Stores `text` through the control's picture into its variable. False when
// the text fails the picture (the variable is left alone).
bool Store(ControlRec* c, std::string_view text) {
  std::string value;
  if (!ParseInput(c->picture, text, &value)) return false;
  if (c->use) c->use->SetText(value);
  return true;
}

void StoreCheck(ControlRec* c) {
  if (c->use) c->use->SetLong(c->checked ? c->def.true_value : c->def.false_value);
}

bool Focusable(const WindowCore* w, const ControlRec& c);

// The next control in tab order after `from` (backwards when `back`).
int NextFocus(const WindowCore* w, int from, bool back) {
  const int n = static_cast<int>(w->controls.size());
  if (n == 0) return 0;
  int start = 0;
  auto it = w->index.find(from);
  if (it != w->index.end()) start = static_cast<int>(it->second);
  for (int step = 1; step <= n; ++step) {
    const int i = ((back ? start - step : start + step) % n + n) % n;
    const ControlRec& c = w->controls[static_cast<size_t>(i)];
    if (Focusable(w, c)) return c.number;
  }
  return from;
}

bool Focusable(const WindowCore* w, const ControlRec& c) {
  return TakesFocus(c.def.kind) && !(c.def.flags & kControlSkip) && !(c.flags & kControlDisabled) &&
         VisibleIn(w, &c);
}

int FirstFocus(const WindowCore* w) {
  for (const ControlRec& c : w->controls) {
    if (Focusable(w, c)) return c.number;
  }
  return 0;
}

int DefaultButton(const WindowCore* w) {
  for (const ControlRec& c : w->controls) {
    if (c.def.kind == ControlKind::kButton && (c.flags & kControlDefault) &&
        !(c.flags & (kControlDisabled | kControlHidden))) {
      return c.number;
    }
  }
  return 0;
}

void RemoveAcceptAll(WindowCore* w) {
  std::lock_guard<std::mutex> lock(g_mu);
  w->queue.erase(std::remove_if(w->queue.begin(), w->queue.end(),
                                [](const Entry& e) { return e.message == kMsgAcceptAll; }),
                 w->queue.end());
}

// Turns a queue entry into the event the procedure sees. False when the entry
// yields none.
bool Translate(WindowCore* w, const Entry& e, Event* ev) {
  Toolkit* tk = w->toolkit();
  if (e.message < kSystemMessageBase) {
    if (e.sync == Sync::kChoice) {
      if (const ControlRec* c = w->Find(e.control); c && tk)
        tk->SetChoice(w->id, c->number, c->choice);
    }
    *ev = Event{e.message - kEventMessageBase, e.control, e.keycode, e.param};
    return true;
  }
  switch (e.message) {
    case kMsgSync:
      if (tk && e.sync == Sync::kFocus) tk->SetFocus(w->id, w->focus);
      return false;
    case kMsgToggle: {
      ControlRec* c = w->Find(e.control);
      if (c == nullptr) return false;
      StoreCheck(c);
      *ev = Event{EVENT::Accepted, c->number, e.keycode, 0};
      return true;
    }
    case kMsgCommit: {
      ControlRec* c = w->Find(e.control);
      if (c == nullptr) return false;
      if (e.text == c->shown && c->has_shown) {
        // Nothing changed: only the button Enter presses, if any.
        if (e.press == 0) return false;
        *ev = Event{EVENT::Accepted, e.press, e.keycode, 0};
        return true;
      }
      if (!Store(c, e.text)) {
        *ev = Event{EVENT::Rejected, c->number, e.keycode, 0};
        return true;
      }
      // Show the value as its picture shows it.
      std::string shown = c->use ? DisplayText(c->picture, ValueText(*c)) : e.text;
      c->shown = shown;
      c->has_shown = true;
      if (c->text == e.text) {
        c->text = shown;
        if (tk) tk->SetControlText(w->id, c->number, shown);
      }
      if (e.press != 0) {
        Entry press = Ev(EVENT::Accepted, e.press, e.keycode, true);
        Push(w, std::move(press), true);
      }
      *ev = Event{EVENT::Accepted, c->number, e.keycode, 0};
      return true;
    }
    case kMsgAcceptAll: {
      if (!w->accept_all) return false;
      for (size_t i = static_cast<size_t>(e.param); i < w->controls.size(); ++i) {
        ControlRec& c = w->controls[i];
        if (!Eligible(w, c)) continue;
        if (c.def.kind == ControlKind::kCheck || c.def.kind == ControlKind::kOption) {
          StoreCheck(&c);
        } else if (!Store(&c, c.text)) {
          w->accept_all = false;
          *ev = Event{EVENT::Rejected, c.number, 0, 0};
          return true;
        }
        Entry next;
        next.message = kMsgAcceptAll;
        next.param = static_cast<int32_t>(i + 1);
        Push(w, std::move(next), true);
        *ev = Event{EVENT::Accepted, c.number, 0, 0};
        return true;
      }
      w->accept_all = false;
      *ev = Event{EVENT::Completed, 0, 0, 0};
      return true;
    }
    default:
      return false;
  }
}

// Takes the next entry that yields an event. False when the queue is empty.
bool TakeEvent(WindowCore* w, Event* ev) {
  for (;;) {
    Entry e;
    {
      std::lock_guard<std::mutex> lock(g_mu);
      if (w->queue.empty()) return false;
      e = std::move(w->queue.front());
      w->queue.pop_front();
    }
    if (!Translate(w, e, ev)) continue;
    ThreadState* t = w->thread;
    if (e.user && ev->keycode != 0) t->keycode = ev->keycode;
    w->current = *ev;
    w->current_entry = std::move(e);
    w->has_current = true;
    return true;
  }
}

// Counts a delivered event against the budget; false when it is used up (the
// thread's loops then end).
bool WithinBudget(WindowCore* w, const Event& ev) {
  ThreadState* t = w->thread;
  ++t->delivered_in_row;
  Toolkit* tk = CurrentToolkit();
  const int64_t budget = tk ? tk->EventBudget() : 0;
  if (budget > 0 && t->delivered_in_row > budget) {
    t->ended = true;
    tk->ReportFailure("the event budget of " + std::to_string(budget) +
                      " events in a row ran out in window \"" + w->caption + "\" (" + w->def.name +
                      "): its handlers keep raising events; the last was " + EventLabel(ev.code));
    return false;
  }
  return true;
}

void SyncFlags(WindowCore* w, ControlRec* c) {
  if (Toolkit* tk = w->toolkit()) tk->SetControlFlags(w->id, c->number, c->flags);
}

}  // namespace

// ---- Window: life cycle ------------------------------------------------------------

Window::Window(const WindowDef& def) : core_(std::make_unique<WindowCore>(this, def)) {}

Window::~Window() {
  Close();
}

bool Window::Open(Window* owner) {
  WindowCore* w = core_.get();
  const WindowDef& def = w->def;
  if (w->open) {
    w->error = "Window \"" + def.name + "\" is already open";
    return false;
  }
  w->error.clear();
  if (!ValidateWindowDef(def, &w->error)) return false;
  Toolkit* tk = CurrentToolkit();
  if (tk == nullptr) {
    w->error = "Window \"" + def.name + "\": no window system is available to show it";
    return false;
  }
  w->controls.clear();
  w->index.clear();
  w->added.clear();
  w->controls.reserve(def.controls.size());
  for (size_t i = 0; i < def.controls.size(); ++i) {
    ControlRec c;
    c.def = def.controls[i];
    c.number = ControlNumber(def, i);
    c.flags = c.def.flags & kMutableFlags;
    c.text = c.def.text;
    c.shown = c.text;
    c.at = c.def.at;
    c.look.tip = c.def.tip;
    c.look.cursor = c.def.cursor;
    c.look.icon = c.def.icon;
    if (!c.def.picture.empty()) c.picture = CompilePicture(PictureText(c.def.picture));
    if (IsInputKind(c.def.kind)) c.text_capacity = ControlCapacity(c.def.picture, nullptr);
    if (c.def.kind == ControlKind::kList) ParseListFormat(c.def.format, &c.format, nullptr);
    if (c.def.kind == ControlKind::kSheet) c.choice = 1;
    w->index[c.number] = w->controls.size();
    w->controls.push_back(std::move(c));
  }
  w->caption = def.caption;
  w->at = def.at;
  w->last_sized = def.at;
  w->state = WindowState::kNormal;
  w->focus = 0;
  w->timer = 0;
  w->mouse_over = 0;
  w->alerts.clear();
  w->accept_all = false;
  w->has_current = false;
  w->thread = Self();
  WindowId id;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    id = ++g_next_id;
  }
  const WindowId owner_id = owner != nullptr ? owner->Id() : 0;
  std::string why;
  if (!tk->CreateWindow(id, def, owner_id, &why)) {
    w->error = "Window \"" + def.name + "\": the window system could not show it" +
               (why.empty() ? std::string() : ": " + why);
    return false;
  }
  WindowCore* below;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    w->id = id;
    w->open = true;
    w->queue.clear();
    g_windows[id] = w;
    below = TopOf(w->thread);
    w->thread->stack.push_back(w);
  }
  for (const ControlRec& c : w->controls) {
    if (c.text_capacity != 0) tk->SetTextCapacity(id, c.number, c.text_capacity);
  }
  if (below != nullptr) Push(below, Ev(EVENT::LoseFocus));
  Push(w, Ev(EVENT::OpenWindow));
  Push(w, Ev(EVENT::Sized));
  // The focus starts on the first control that takes it.
  w->focus = FirstFocus(w);
  if (w->focus != 0) tk->SetFocus(id, w->focus);
  return true;
}

const std::string& Window::OpenError() const {
  return core_->error;
}

void Window::Close() {
  WindowCore* w = core_.get();
  if (!w->open) return;
  WindowCore* now_top = nullptr;
  bool was_top;
  const WindowId id = w->id;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_windows.erase(id);
    auto& stack = w->thread->stack;
    was_top = !stack.empty() && stack.back() == w;
    stack.erase(std::remove(stack.begin(), stack.end(), w), stack.end());
    w->queue.clear();
    w->open = false;
    if (was_top) now_top = TopOf(w->thread);
    if (stack.empty()) {
      w->thread->ended = false;
      w->thread->delivered_in_row = 0;
    }
  }
  w->has_current = false;
  w->accept_all = false;
  if (Toolkit* tk = CurrentToolkit()) tk->DestroyWindow(id);
  w->id = 0;
  if (now_top != nullptr) Push(now_top, Ev(EVENT::GainFocus));
}

bool Window::IsOpen() const {
  return core_->open;
}
const WindowDef& Window::Def() const {
  return core_->def;
}
WindowId Window::Id() const {
  return core_->id;
}

Window* Window::Active() {
  WindowCore* top = TopOf(Self());
  return top ? top->self : nullptr;
}

// ---- Window: the accept loop ---------------------------------------------------------

bool Window::Accept(Event* event) {
  WindowCore* w = core_.get();
  w->has_current = false;
  w->current = Event();
  if (!w->open) return false;
  ThreadState* t = w->thread;
  for (;;) {
    if (t->ended) {
      Close();
      return false;
    }
    Event ev;
    if (TakeEvent(w, &ev)) {
      if (!WithinBudget(w, ev)) {
        w->has_current = false;
        continue;
      }
      if (Toolkit* tk = w->toolkit()) tk->EventDelivered(w->id, ev);
      *event = ev;
      return true;
    }
    Toolkit* tk = w->toolkit();
    if (tk == nullptr) {
      Close();
      return false;
    }
    WindowCore* top = TopOf(t);
    if (top != w) {
      t->ended = true;
      tk->ReportFailure("window \"" + w->caption + "\" waits for input under window \"" +
                        (top ? top->caption : std::string()) + "\", which gets all input");
      continue;
    }
    t->delivered_in_row = 0;
    if (tk->WaitForInput(w->id) == WaitResult::kNoMoreInput) t->ended = true;
    if (!w->open) return false;
  }
}

void Window::Default(const Event& event) {
  WindowCore* w = core_.get();
  if (!w->open) return;
  switch (event.code) {
    case EVENT::CloseWindow:
    case EVENT::CloseDown:
      Close();
      return;
    case EVENT::Iconize:
    case EVENT::Maximize:
    case EVENT::Restore: {
      const WindowState to = event.code == EVENT::Iconize    ? WindowState::kIconized
                             : event.code == EVENT::Maximize ? WindowState::kMaximized
                                                             : WindowState::kNormal;
      if (to == w->state) return;
      w->state = to;
      if (Toolkit* tk = w->toolkit()) tk->SetWindowState(w->id, to);
      Push(w, Ev(event.code == EVENT::Iconize    ? EVENT::Iconized
                 : event.code == EVENT::Maximize ? EVENT::Maximized
                                                 : EVENT::Restored));
      return;
    }
    case EVENT::Rejected:
      if (HasControl(event.control)) Select(event.control);
      return;
    default:
      return;
  }
}

int Window::Pump(const std::function<bool(const Event&)>& handle) {
  WindowCore* w = core_.get();
  int delivered = 0;
  while (w->open && !w->thread->ended) {
    Event ev;
    if (!TakeEvent(w, &ev)) break;
    if (!WithinBudget(w, ev)) break;
    if (Toolkit* tk = w->toolkit()) tk->EventDelivered(w->id, ev);
    ++delivered;
    const bool dealt = handle ? handle(ev) : false;
    if (!dealt) Default(ev);
    w->has_current = false;
  }
  w->has_current = false;
  if (w->open) w->thread->delivered_in_row = 0;
  return delivered;
}

bool Window::Post(int32_t code, int32_t control, int32_t param) {
  if (!ValidCode(code)) return false;
  WindowCore* w = core_.get();
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!w->open) return false;
    Entry e = Ev(code, control);
    e.param = param;
    w->queue.push_back(std::move(e));
  }
  Wake();
  return true;
}

int Window::Pending() const {
  std::lock_guard<std::mutex> lock(g_mu);
  int n = 0;
  for (const Entry& e : core_->queue) n += e.message != kMsgSync;
  return n;
}

// ---- Window: controls and values ---------------------------------------------------------

bool Window::HasControl(int control) const {
  return core_->Find(control) != nullptr;
}

int Window::FindControl(std::string_view name) const {
  const std::string want = Upper(name);
  for (const ControlRec& c : core_->controls) {
    if (!c.def.name.empty() && Upper(c.def.name) == want) return c.number;
  }
  if (!core_->open) {
    const WindowDef& def = core_->def;
    for (size_t i = 0; i < def.controls.size(); ++i) {
      if (!def.controls[i].name.empty() && Upper(def.controls[i].name) == want) {
        return ControlNumber(def, i);
      }
    }
  }
  return 0;
}

ControlKind Window::Kind(int control) const {
  const ControlRec* c = core_->Find(control);
  return c ? c->def.kind : ControlKind::kString;
}

std::vector<int> Window::Controls() const {
  std::vector<int> out;
  for (const ControlRec& c : core_->controls) out.push_back(c.number);
  return out;
}

int Window::AddControl(ControlDef def) {
  WindowCore* w = core_.get();
  if (!w->open) {
    w->error = "Window \"" + w->def.name + "\" is not open";
    return 0;
  }
  if (def.number == 0) {
    int n = 0;
    for (const ControlRec& c : w->controls) n = std::max(n, c.number);
    def.number = n + 1;
  }
  if (!ValidateControlDef(w->def, def, def.number, &w->error)) return 0;
  if (w->Find(def.number) != nullptr) {
    w->error = DescribeControl(w->def, def.number, def.name) + ": the number is used twice";
    return 0;
  }
  if (!def.name.empty() && FindControl(def.name) != 0) {
    w->error = DescribeControl(w->def, def.number, def.name) +
               ": the name is already used by control " + std::to_string(FindControl(def.name));
    return 0;
  }
  if (def.parent != 0 && w->Find(def.parent) == nullptr) {
    w->error = DescribeControl(w->def, def.number, def.name) + ": its parent " +
               std::to_string(def.parent) + " does not exist";
    return 0;
  }
  std::string why;
  if (!w->toolkit()->AddControl(w->id, def, &why)) {
    w->error = DescribeControl(w->def, def.number, def.name) +
               ": the window system could not add it" + (why.empty() ? "" : ": " + why);
    return 0;
  }
  ControlRec c;
  c.def = def;
  c.number = def.number;
  c.flags = def.flags & kMutableFlags;
  c.text = def.text;
  c.shown = c.text;
  c.at = def.at;
  c.look.tip = def.tip;
  c.look.cursor = def.cursor;
  c.look.icon = def.icon;
  if (!def.picture.empty()) c.picture = CompilePicture(PictureText(def.picture));
  if (IsInputKind(def.kind)) c.text_capacity = ControlCapacity(def.picture, nullptr);
  if (def.kind == ControlKind::kList) ParseListFormat(def.format, &c.format, nullptr);
  if (def.kind == ControlKind::kSheet) c.choice = 1;
  if (c.text_capacity != 0) w->toolkit()->SetTextCapacity(w->id, c.number, c.text_capacity);
  w->index[c.number] = w->controls.size();
  w->controls.push_back(std::move(c));
  return def.number;
}

void Window::Use(int control, const UFO& value) {
  if (ControlRec* c = core_->Find(control)) {
    c->use = value.Clone();
    c->has_shown = false;
    if (IsInputKind(c->def.kind)) SetTextCapacity(control, ControlCapacity(c->def.picture, &value));
  }
}

size_t Window::TextCapacity(int control) const {
  const ControlRec* c = core_->Find(control);
  return c != nullptr ? c->text_capacity : 0;
}

void Window::SetTextCapacity(int control, size_t bytes) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr || !IsInputKind(c->def.kind) || c->text_capacity == bytes) return;
  c->text_capacity = bytes;
  if (Toolkit* tk = core_->toolkit()) tk->SetTextCapacity(core_->id, control, bytes);
}

void Window::From(int list, QUEUE* rows) {
  if (ControlRec* c = core_->Find(list); c && c->def.kind == ControlKind::kList) {
    c->from = rows;
    c->rows_valid = false;
  }
}

void Window::Display(int control) {
  WindowCore* w = core_.get();
  Toolkit* tk = w->toolkit();
  for (ControlRec& c : w->controls) {
    if (control != 0 && c.number != control) continue;
    if (c.def.kind == ControlKind::kList) {
      if (c.from == nullptr) continue;
      std::vector<ListRow> rows = FormatListRows(c.format, c.from);
      if (!c.rows_valid || rows != c.rows) {
        c.rows = std::move(rows);
        c.rows_valid = true;
        if (tk) tk->SetRows(w->id, c.number, c.rows);
      }
      const int n = static_cast<int>(c.rows.size());
      const int choice = std::clamp(c.choice, n > 0 ? 1 : 0, n);
      if (choice != c.choice) {
        c.choice = choice;
        if (tk) tk->SetChoice(w->id, c.number, choice);
      }
      continue;
    }
    if (!c.use) continue;
    if (c.def.kind == ControlKind::kCheck || c.def.kind == ControlKind::kOption) {
      const bool checked = c.use->GetLong() == c.def.true_value;
      if (!c.has_shown || checked != c.checked) {
        c.checked = checked;
        c.has_shown = true;
        if (tk) tk->SetChecked(w->id, c.number, checked);
      }
      continue;
    }
    const std::string shown = DisplayText(c.picture, c.use->Text());
    if (c.has_shown && shown == c.shown) continue;
    c.shown = shown;
    c.has_shown = true;
    c.text = shown;
    if (tk) tk->SetControlText(w->id, c.number, shown);
  }
}

bool Window::Update(int control) {
  bool all_valid = true;
  for (ControlRec& c : core_->controls) {
    if (control != 0 && c.number != control) continue;
    if (!c.use) continue;
    const ControlKind k = c.def.kind;
    if (k == ControlKind::kCheck || k == ControlKind::kOption) {
      StoreCheck(&c);
    } else if (IsInputKind(k)) {
      if (!Store(&c, c.text)) all_valid = false;
    }
  }
  return all_valid;
}

void Window::Select(int control) {
  WindowCore* w = core_.get();
  if (w->accept_all) {
    w->accept_all = false;
    RemoveAcceptAll(w);
  }
  if (w->Find(control) == nullptr) return;
  w->focus = control;
  if (Toolkit* tk = w->toolkit()) tk->SetFocus(w->id, control);
}

void Window::SelectAll() {
  WindowCore* w = core_.get();
  if (!w->open) return;
  RemoveAcceptAll(w);
  w->accept_all = true;
  Entry e;
  e.message = kMsgAcceptAll;
  e.param = 0;
  Push(w, std::move(e), true);
}

bool Window::InAcceptAll() const {
  return core_->accept_all;
}
int Window::Focus() const {
  return core_->focus;
}

// ---- Window: properties ---------------------------------------------------------------------

std::string Window::Caption() const {
  return core_->caption;
}

void Window::SetCaption(std::string_view caption) {
  core_->caption = std::string(caption);
  if (Toolkit* tk = core_->toolkit()) tk->SetCaption(core_->id, caption);
}

std::string Window::Text(int control) const {
  const ControlRec* c = core_->Find(control);
  return c ? c->text : std::string();
}

void Window::SetText(int control, std::string_view text) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr) return;
  c->text = std::string(text);
  c->shown = c->text;
  if (Toolkit* tk = core_->toolkit()) tk->SetControlText(core_->id, control, text);
}

bool Window::Edited(int control) const {
  const ControlRec* c = core_->Find(control);
  return c != nullptr && IsInputKind(c->def.kind) && c->dirty();
}

void Window::SetDefaultButton(int control) {
  WindowCore* w = core_.get();
  for (ControlRec& c : w->controls) {
    if (c.def.kind != ControlKind::kButton) continue;
    const bool is_default = c.number == control;
    const uint32_t flags = is_default ? c.flags | kControlDefault : c.flags & ~kControlDefault;
    if (flags == c.flags) continue;
    c.flags = flags;
    SyncFlags(w, &c);
  }
}

bool Window::Hidden(int control) const {
  const ControlRec* c = core_->Find(control);
  return c && (c->flags & kControlHidden);
}

void Window::SetHidden(int control, bool hidden) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr) return;
  const uint32_t flags = hidden ? c->flags | kControlHidden : c->flags & ~kControlHidden;
  if (flags == c->flags) return;
  c->flags = flags;
  SyncFlags(core_.get(), c);
}

bool Window::Disabled(int control) const {
  const ControlRec* c = core_->Find(control);
  return c && (c->flags & kControlDisabled);
}

void Window::SetDisabled(int control, bool disabled) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr) return;
  const uint32_t flags = disabled ? c->flags | kControlDisabled : c->flags & ~kControlDisabled;
  if (flags == c->flags) return;
  c->flags = flags;
  SyncFlags(core_.get(), c);
}

bool Window::ReadOnly(int control) const {
  const ControlRec* c = core_->Find(control);
  return c && (c->flags & kControlReadOnly);
}

void Window::SetReadOnly(int control, bool read_only) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr) return;
  const uint32_t flags = read_only ? c->flags | kControlReadOnly : c->flags & ~kControlReadOnly;
  if (flags == c->flags) return;
  c->flags = flags;
  SyncFlags(core_.get(), c);
}

bool Window::Visible(int control) const {
  const WindowCore* w = core_.get();
  if (!w->open || w->state == WindowState::kIconized) return false;
  const ControlRec* c = w->Find(control);
  return c != nullptr && VisibleIn(w, c);
}

bool Window::Checked(int control) const {
  const ControlRec* c = core_->Find(control);
  return c && c->checked;
}

int Window::Choice(int control) const {
  const ControlRec* c = core_->Find(control);
  return c ? c->choice : 0;
}

void Window::SetChoice(int control, int choice) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr) return;
  if (c->def.kind == ControlKind::kList) {
    const int n = static_cast<int>(c->rows.size());
    choice = std::clamp(choice, 0, n);
  }
  c->choice = choice;
  if (Toolkit* tk = core_->toolkit()) tk->SetChoice(core_->id, control, choice);
}

int Window::Items(int list) const {
  const ControlRec* c = core_->Find(list);
  if (c == nullptr || c->def.kind != ControlKind::kList) return 0;
  if (c->capacity > 0) return c->capacity;
  int rows = c->at.height / kListRowHeight;
  if (c->format.has_headers()) --rows;
  return std::max(rows, 1);
}

int Window::Rows(int list) const {
  const ControlRec* c = core_->Find(list);
  return c ? static_cast<int>(c->rows.size()) : 0;
}

Rect Window::Position(int control) const {
  if (control == 0) return core_->at;
  const ControlRec* c = core_->Find(control);
  return c ? c->at : Rect();
}

void Window::SetPosition(int control, const Rect& rect) {
  MoveControls({{control, rect}});
}

void Window::MoveControls(const std::vector<std::pair<int, Rect>>& moves) {
  WindowCore* w = core_.get();
  Toolkit* tk = w->toolkit();
  const bool changes = std::any_of(moves.begin(), moves.end(), [w](const auto& move) {
    if (move.first == 0) return !(w->at == move.second);
    const ControlRec* c = w->Find(move.first);
    return c != nullptr && !(c->at == move.second);
  });
  if (!changes) return;
  if (tk) tk->BeginMoves(w->id);
  for (const auto& [control, rect] : moves) {
    if (control == 0) {
      w->at = rect;
      w->last_sized = rect;
      if (tk) tk->SetWindowRect(w->id, rect);
      continue;
    }
    ControlRec* c = w->Find(control);
    if (c == nullptr || c->at == rect) continue;
    c->at = rect;
    if (tk) tk->SetControlRect(w->id, control, rect);
  }
  if (tk) tk->EndMoves(w->id);
}

void Window::SetSizeLimits(int min_width, int min_height, int max_width, int max_height) {
  if (Toolkit* tk = core_->toolkit()) {
    tk->SetSizeLimits(core_->id, min_width, min_height, max_width, max_height);
  }
}

WindowState Window::State() const {
  return core_->state;
}

Appearance Window::GetAppearance(int control) const {
  const ControlRec* c = core_->Find(control);
  return c ? c->look : Appearance();
}

void Window::SetAppearance(int control, const Appearance& appearance) {
  ControlRec* c = core_->Find(control);
  if (c == nullptr || c->look == appearance) return;
  c->look = appearance;
  if (Toolkit* tk = core_->toolkit()) tk->SetAppearance(core_->id, control, appearance);
}

void Window::SetIcon(int list, int number, std::string_view name) {
  ControlRec* c = core_->Find(list);
  if (c == nullptr || number < 1 || number > 1024) return;
  if (c->icons.size() < static_cast<size_t>(number)) c->icons.resize(static_cast<size_t>(number));
  c->icons[static_cast<size_t>(number - 1)] = std::string(name);
  if (Toolkit* tk = core_->toolkit()) tk->SetIcons(core_->id, list, c->icons);
}

const ListFormat& Window::Format(int list) const {
  const ControlRec* c = core_->Find(list);
  return c ? c->format : core_->no_format;
}

std::vector<int> Window::ColumnWidths(int list) const {
  std::vector<int> widths;
  const ControlRec* c = core_->Find(list);
  if (c == nullptr || c->def.kind != ControlKind::kList) return widths;
  for (const ListColumn& column : c->format.columns) widths.push_back(column.width);
  return widths;
}

void Window::SetColumnWidths(int list, const std::vector<int>& widths) {
  ControlRec* c = core_->Find(list);
  if (c == nullptr || c->def.kind != ControlKind::kList) return;
  for (size_t i = 0; i < widths.size() && i < c->format.columns.size(); ++i) {
    if (widths[i] >= 1) c->format.columns[i].width = widths[i];
  }
  if (Toolkit* tk = core_->toolkit()) tk->SetColumnWidths(core_->id, list, ColumnWidths(list));
}

// ---- Window: keys, timer, popups -------------------------------------------------------------

void Window::Alert(int32_t keycode, int control) {
  std::vector<int32_t>* alerts = &core_->alerts;
  if (control != 0) {
    ControlRec* c = core_->Find(control);
    if (c == nullptr) return;
    alerts = &c->alerts;
  }
  if (std::find(alerts->begin(), alerts->end(), keycode) == alerts->end()) {
    alerts->push_back(keycode);
  }
}

void Window::RemoveAlert(int32_t keycode, int control) {
  std::vector<int32_t>* alerts = &core_->alerts;
  if (control != 0) {
    ControlRec* c = core_->Find(control);
    if (c == nullptr) return;
    alerts = &c->alerts;
  }
  alerts->erase(std::remove(alerts->begin(), alerts->end(), keycode), alerts->end());
}

bool Window::Alerted(int32_t keycode, int control) const {
  const auto& window = core_->alerts;
  if (std::find(window.begin(), window.end(), keycode) != window.end()) return true;
  const ControlRec* c = core_->Find(control);
  return c && std::find(c->alerts.begin(), c->alerts.end(), keycode) != c->alerts.end();
}

void Window::SetTimer(int hundredths) {
  core_->timer = std::max(hundredths, 0);
  if (Toolkit* tk = core_->toolkit()) tk->SetTimer(core_->id, core_->timer);
}

int Window::Timer() const {
  return core_->timer;
}

int Window::Popup(std::string_view menu) {
  PopupMenu parsed;
  if (!ParsePopupMenu(menu, &parsed, nullptr)) return 0;
  Toolkit* tk = core_->toolkit();
  if (tk == nullptr) return 0;
  const int chosen = tk->ShowPopup(core_->id, parsed);
  const PopupItem* item = FindPopupItem(parsed, chosen);
  return item != nullptr && !item->disabled ? chosen : 0;
}

bool Window::Notification(int32_t* code, int32_t* thread, int32_t* param) const {
  const WindowCore* w = core_.get();
  if (!w->has_current || w->current.code != EVENT::Notify || !w->current_entry.notify) {
    return false;
  }
  if (code) *code = w->current_entry.notify_code;
  if (thread) *thread = w->current_entry.notify_thread;
  if (param) *param = w->current_entry.notify_param;
  return true;
}

// ---- The thread's current event ----------------------------------------------------------------

int32_t CurrentEvent() {
  WindowCore* top = TopOf(Self());
  return top && top->has_current ? top->current.code : 0;
}

int32_t CurrentControl() {
  WindowCore* top = TopOf(Self());
  return top && top->has_current ? top->current.control : 0;
}

int32_t KeyCode() {
  return Self()->keycode;
}
void SetKeyCode(int32_t keycode) {
  Self()->keycode = keycode;
}

int32_t FocusControl() {
  WindowCore* top = TopOf(Self());
  return top ? top->focus : 0;
}

int32_t ThreadNumber() {
  return Self()->number;
}

namespace {

// Posts `e` to the top window of thread `thread`; false when there is none.
bool PostToThread(int32_t thread, Entry e) {
  ThreadState* self = Self();
  bool other;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    ThreadState* t = nullptr;
    if (thread == 0) {
      t = self;
    } else if (thread >= 1 && thread <= kMaxWindowThreads) {
      t = g_threads[thread - 1];
    }
    if (t == nullptr || t->stack.empty()) return false;
    t->stack.back()->queue.push_back(std::move(e));
    other = t != self;
  }
  if (other) Wake();
  return true;
}

}  // namespace

int32_t Post(int32_t code, int32_t control, int32_t thread) {
  if (ValidCode(code)) PostToThread(thread, Ev(code, control));
  return code;
}

bool Notify(int32_t code, int32_t thread, int32_t param) {
  Entry e = Ev(EVENT::Notify);
  e.notify = true;
  e.notify_code = code;
  e.notify_thread = ThreadNumber();
  e.notify_param = param;
  return PostToThread(thread, std::move(e));
}

// ---- The input sink
// --------------------------------------------------------------------------------

void InputSink::Clicked(WindowId id, int control, int32_t keycode) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, control);
  if (c == nullptr) return;
  if (c->def.kind == ControlKind::kCheck) {
    Toggled(id, control, !c->checked);
    return;
  }
  Push(w, Ev(EVENT::Accepted, control, keycode, true));
}

void InputSink::TextChanged(WindowId id, int control, std::string_view text) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, control);
  if (c == nullptr || (c->flags & kControlReadOnly)) return;
  c->text = std::string(text);
}

void InputSink::EditFinished(WindowId id, int control, int32_t keycode) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = w->Find(control);
  if (c == nullptr || !c->dirty()) return;
  {
    // A toolkit may report the end of one edit twice (focus out, then its
    // own editing-finished signal): one commit is enough.
    std::lock_guard<std::mutex> lock(g_mu);
    for (const Entry& q : w->queue) {
      if (q.message == kMsgCommit && q.control == control && q.text == c->text) return;
    }
  }
  Entry e;
  e.message = kMsgCommit;
  e.control = control;
  e.keycode = keycode;
  e.user = true;
  e.text = c->text;
  Push(w, std::move(e));
}

void InputSink::Toggled(WindowId id, int control, bool checked) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, control);
  if (c == nullptr || (c->flags & kControlReadOnly) || c->checked == checked) return;
  c->checked = checked;
  Entry e;
  e.message = kMsgToggle;
  e.control = control;
  e.keycode = kMouseLeft;
  e.user = true;
  Push(w, std::move(e));
}

void InputSink::RowClicked(WindowId id, int list, int row, int32_t keycode) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, list);
  if (c == nullptr || c->def.kind != ControlKind::kList) return;
  if (row < 1 || row > static_cast<int>(c->rows.size())) return;
  c->choice = row;
  w->focus = list;
  Entry e = Ev(EVENT::NewSelection, list, keycode, true);
  Push(w, std::move(e));
}

void InputSink::TabSelected(WindowId id, int sheet, int tab) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, sheet);
  if (c == nullptr || c->def.kind != ControlKind::kSheet || c->choice == tab) return;
  int tabs = 0;
  for (const ControlRec& t : w->controls) {
    tabs += t.def.kind == ControlKind::kTab && t.def.parent == sheet;
  }
  if (tab < 1 || tab > tabs) return;
  Push(w, Ev(EVENT::TabChanging, sheet, kMouseLeft, true));
  c->choice = tab;
  Push(w, Ev(EVENT::NewSelection, sheet, kMouseLeft, true));
}

bool InputSink::KeyPressed(WindowId id, int control, int32_t keycode) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return false;
  if (control == 0) control = w->focus;
  ControlRec* c = w->Find(control);
  if (w->self->Alerted(keycode, control)) {
    Push(w, Ev(EVENT::AlertKey, control, keycode, true));
    return true;
  }
  const int32_t key = keycode & kKeyMask;
  const int32_t mods = keycode & kModifierMask;
  const ControlKind kind = c ? c->def.kind : ControlKind::kString;
  if (c != nullptr && kind == ControlKind::kList && !(mods & kAlt) &&
      (key == kKeyUp || key == kKeyDown || key == kKeyPgUp || key == kKeyPgDn || key == kKeyHome ||
       key == kKeyEnd)) {
    if (c->def.flags & kControlImmediate) {
      const int32_t code = key == kKeyUp     ? EVENT::ScrollUp
                           : key == kKeyDown ? EVENT::ScrollDown
                           : key == kKeyPgUp ? EVENT::PageUp
                           : key == kKeyPgDn ? EVENT::PageDown
                           : key == kKeyHome ? EVENT::ScrollTop
                                             : EVENT::ScrollBottom;
      Push(w, Ev(code, control, keycode, true));
      return true;
    }
    const int n = static_cast<int>(c->rows.size());
    if (n == 0) return true;
    const int page = std::max(w->self->Items(control), 1);
    int row = c->choice;
    switch (key) {
      case kKeyUp:
        row -= 1;
        break;
      case kKeyDown:
        row += 1;
        break;
      case kKeyPgUp:
        row -= page;
        break;
      case kKeyPgDn:
        row += page;
        break;
      case kKeyHome:
        row = 1;
        break;
      default:
        row = n;
        break;
    }
    row = std::clamp(row, 1, n);
    if (row != c->choice) {
      c->choice = row;
      Entry e = Ev(EVENT::NewSelection, control, keycode, true);
      e.sync = Sync::kChoice;
      Push(w, std::move(e));
    }
    return true;
  }
  if (keycode == kKeyEsc) {
    PushCoalesced(w, Ev(EVENT::CloseWindow, 0, keycode, true));
    return true;
  }
  if (key == kKeyTab && (mods & ~kShift) == 0) {
    const int next = NextFocus(w, w->focus, (mods & kShift) != 0);
    FocusMoved(id, next);
    Entry e;
    e.message = kMsgSync;
    e.sync = Sync::kFocus;
    Push(w, std::move(e));
    return true;
  }
  if (keycode == kKeySpace && c != nullptr && (c->flags & kControlDisabled) == 0) {
    if (kind == ControlKind::kButton) {
      Push(w, Ev(EVENT::Accepted, control, keycode, true));
      return true;
    }
    if (kind == ControlKind::kCheck) {
      Toggled(id, control, !c->checked);
      return true;
    }
  }
  if (keycode == kKeyEnter) {
    if (c != nullptr && kind == ControlKind::kButton && !(c->flags & kControlDisabled)) {
      Push(w, Ev(EVENT::Accepted, control, keycode, true));
      return true;
    }
    if (kind == ControlKind::kText) return false;  // a new line
    const int press = DefaultButton(w);
    if (c != nullptr && IsInputKind(kind) && c->dirty()) {
      Entry e;
      e.message = kMsgCommit;
      e.control = control;
      e.keycode = keycode;
      e.user = true;
      e.text = c->text;
      e.press = press;
      Push(w, std::move(e));
      return true;
    }
    if (press != 0) {
      Push(w, Ev(EVENT::Accepted, press, keycode, true));
      return true;
    }
    return false;
  }
  return false;
}

void InputSink::Scrolled(WindowId id, int list, ScrollAction action, int percent) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, list);
  if (c == nullptr || c->def.kind != ControlKind::kList || !(c->def.flags & kControlImmediate)) {
    return;  // an ordinary list scrolls by itself
  }
  int32_t code = EVENT::ScrollDrag;
  switch (action) {
    case ScrollAction::kLineUp:
      code = EVENT::ScrollUp;
      break;
    case ScrollAction::kLineDown:
      code = EVENT::ScrollDown;
      break;
    case ScrollAction::kPageUp:
      code = EVENT::PageUp;
      break;
    case ScrollAction::kPageDown:
      code = EVENT::PageDown;
      break;
    case ScrollAction::kTop:
      code = EVENT::ScrollTop;
      break;
    case ScrollAction::kBottom:
      code = EVENT::ScrollBottom;
      break;
    case ScrollAction::kDrag:
      break;
  }
  Entry e = Ev(code, list, 0, true);
  if (action == ScrollAction::kDrag) e.param = std::clamp(percent, 0, 100);
  Push(w, std::move(e));
}

void InputSink::HeaderClicked(WindowId id, int list, int column, int32_t modifiers) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr || Usable(w, list) == nullptr) return;
  for (const ControlRec& r : w->controls) {
    if (r.def.kind == ControlKind::kRegion && (r.def.flags & kControlHeaderRegion) &&
        r.def.parent == list && !(r.flags & kControlDisabled)) {
      Entry e = Ev(EVENT::Accepted, r.number, kMouseLeft | (modifiers & kModifierMask), true);
      e.param = column;
      Push(w, std::move(e));
      return;
    }
  }
}

void InputSink::FocusMoved(WindowId id, int control) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr || w->focus == control || w->Find(control) == nullptr) return;
  EditFinished(id, w->focus, kKeyTab);
  w->focus = control;
}

void InputSink::MouseOver(WindowId id, int control) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  if (control != 0 && w->Find(control) == nullptr) control = 0;
  if (control == w->mouse_over) {
    if (control != 0) PushCoalesced(w, Ev(EVENT::MouseMove, control, 0, true));
    return;
  }
  if (w->mouse_over != 0) Push(w, Ev(EVENT::MouseOut, w->mouse_over, 0, true));
  w->mouse_over = control;
  if (control != 0) Push(w, Ev(EVENT::MouseIn, control, 0, true));
}

void InputSink::Resized(WindowId id, int width, int height) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  w->at.width = width;
  w->at.height = height;
  if (w->last_sized.width == width && w->last_sized.height == height) return;
  w->last_sized.width = width;
  w->last_sized.height = height;
  PushCoalesced(w, Ev(EVENT::Sized));
}

void InputSink::Moved(WindowId id, int x, int y) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr || (w->at.x == x && w->at.y == y)) return;
  w->at.x = x;
  w->at.y = y;
  PushCoalesced(w, Ev(EVENT::Moved));
}

void InputSink::StateRequested(WindowId id, int32_t event_code) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  if (event_code == EVENT::Iconize || event_code == EVENT::Maximize ||
      event_code == EVENT::Restore) {
    PushCoalesced(w, Ev(event_code, 0, 0, true));
  }
}

void InputSink::StateChanged(WindowId id, WindowState state) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr || w->state == state) return;
  w->state = state;
  Push(w, Ev(state == WindowState::kIconized    ? EVENT::Iconized
             : state == WindowState::kMaximized ? EVENT::Maximized
                                                : EVENT::Restored));
}

void InputSink::CloseRequested(WindowId id) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  PushCoalesced(w, Ev(EVENT::CloseWindow, 0, 0, true));
}

void InputSink::TimerFired(WindowId id) {
  WindowCore* w;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    auto it = g_windows.find(id);
    if (it == g_windows.end()) return;
    w = it->second;
  }
  // A timer ticks for a window below the top too: its event waits.
  if (w->timer > 0) PushCoalesced(w, Ev(EVENT::Timer));
}

void InputSink::ListCapacity(WindowId id, int list, int rows) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  if (ControlRec* c = w->Find(list)) c->capacity = std::max(rows, 0);
}

void InputSink::ColumnResized(WindowId id, int list, int column, int width) {
  WindowCore* w = SinkTarget(id);
  if (w == nullptr) return;
  ControlRec* c = Usable(w, list);
  if (c == nullptr || c->def.kind != ControlKind::kList || column < 1 ||
      static_cast<size_t>(column) > c->format.columns.size() || width < 1) {
    return;
  }
  c->format.columns[static_cast<size_t>(column - 1)].width = width;
  Entry e = Ev(EVENT::ColumnResize, list, kMouseLeft, true);
  e.param = column;
  Push(w, std::move(e));
}

void InputSink::ShutDown() {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    for (ThreadState* t : g_threads) {
      if (t == nullptr) continue;
      for (auto it = t->stack.rbegin(); it != t->stack.rend(); ++it) {
        bool queued = false;
        for (const Entry& e : (*it)->queue) {
          queued |= e.message == EVENT::CloseDown + kEventMessageBase;
        }
        if (!queued) (*it)->queue.push_back(Ev(EVENT::CloseDown));
      }
    }
  }
  Wake();
}

}  // namespace qzr
