// The window core: one Window per open window, toolkit-free. It holds the
// window's controls and their state, binds controls to variables (field
// objects) and lists to queues, keeps the window's own event queue and runs
// the accept loop; the toolkit in force (ui/toolkit.h) only shows it and
// reports the user's actions.
//
// The accept loop of a procedure:
//
//   Window w(kMyWindowDef);
//   if (!w.Open()) { ... w.OpenError() names the window and the control ... }
//   Event e;
//   while (w.Accept(&e)) {
//     Severity s = HandleEvent(e);         // the procedure's handlers
//     if (s == SeverityHalt) break;
//     if (s != SeverityInform) w.Default(e);  // default processing
//   }
//   w.Close();
//
// Events of one window arrive in the order they were queued. Sources: the
// core itself (EVENT:OpenWindow then EVENT:Sized when the window opens;
// EVENT:LoseFocus / EVENT:GainFocus when a window above it opens / closes;
// the accept-all pass), the user (through the toolkit), and Post. A message
// queued while another window runs above (modal nesting) waits in this
// window's queue and is delivered, in order, once this window's loop runs
// again.
//
// Modal nesting: a window opened while another window of the same thread is
// open becomes the thread's top window; only the top window gets input. Its
// loop runs inside a handler of the window below, which resumes when it
// closes.
//
// Program changes (SetText, Display, SetChoice, Select, ...) never raise
// events.
//
// The current event: while a loop handles an event, CurrentEvent(),
// CurrentControl() and the key code describe it; they are 0 outside any loop
// and in a window between opening and its first event.
//
// Threads: a window belongs to the thread that opened it; all its member
// functions are called on that thread. Post (to another thread's window),
// and the toolkit's input, may come from any thread; they lock the core's
// one mutex.

#ifndef QZR_UI_WINDOW_H_
#define QZR_UI_WINDOW_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/event.h"
#include "ui/list_format.h"
#include "ui/toolkit.h"
#include "ui/window_def.h"

namespace qzr {

class QUEUE;
class UFO;
struct WindowCore;  // the state behind a Window (window.cc)

class Window {
 public:
  // REQUIRES: `def` outlives the window.
  explicit Window(const WindowDef& def);
  ~Window();  // closes the window when it is open
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // ---- Life cycle ------------------------------------------------------------

  // Checks the definition (ValidateWindowDef), builds the window on the
  // current toolkit and makes it the thread's top window; the window below
  // gets EVENT:LoseFocus, this one EVENT:OpenWindow then EVENT:Sized.
  // `owner`, when given, is the window it belongs to. Returns false, with
  // OpenError() set, when the definition is bad (the text names the window
  // and the control), no toolkit is in force, the toolkit refuses, or the
  // window is already open.
  bool Open(Window* owner = nullptr);
  const std::string& OpenError() const;
  // Destroys the native window and drops its queue. When it was the top
  // window, the window below becomes top and gets EVENT:GainFocus. Safe to
  // call twice, or on a window that never opened.
  void Close();
  bool IsOpen() const;
  const WindowDef& Def() const;
  WindowId Id() const;  // 0 when not open

  // ---- The accept loop -------------------------------------------------------

  // Takes the next event of this window's own queue into `event` and makes it
  // the thread's current event; when the queue is empty, waits for input
  // through the toolkit. Returns false once the window is closed (the
  // default processing of EVENT:CloseWindow or EVENT:CloseDown, Close(), or
  // the thread's loops ending: no more input, or the event budget used up);
  // the current event then reads 0.
  bool Accept(Event* event);
  // The default processing of `event`, after the procedure's handlers:
  // EVENT:CloseWindow and EVENT:CloseDown close the window; EVENT:Iconize,
  // EVENT:Maximize and EVENT:Restore change the window's state (then
  // EVENT:Iconized, EVENT:Maximized or EVENT:Restored follows);
  // EVENT:Rejected gives the control the focus again. Every other event has
  // none. (The beep of a rejected input is the handler's.)
  void Default(const Event& event);
  // Delivers what is queued now, without waiting: for each event, `handle`
  // runs as the loop body would (the event is current meanwhile) and, unless
  // it returns true ("dealt with"), Default follows. Stops when the queue is
  // empty or the window closes; returns the number of events delivered. For
  // tests of components that need no user.
  int Pump(const std::function<bool(const Event&)>& handle);
  // Queues `code` for this window, addressed to `control` (0: the window).
  // Codes below 0 or from kEventCodeLimit up are refused (nothing is
  // queued; returns false). Any thread.
  bool Post(int32_t code, int32_t control = 0, int32_t param = 0);
  // Events waiting in this window's queue.
  int Pending() const;

  // ---- Controls --------------------------------------------------------------

  bool HasControl(int control) const;
  // The number of the control named `name` ("?LIST", case ignored), 0 none.
  int FindControl(std::string_view name) const;
  // REQUIRES: HasControl(control).
  ControlKind Kind(int control) const;
  // The controls' numbers, in definition order (added controls last).
  std::vector<int> Controls() const;
  // Adds a control while the window is open (a header region over a list).
  // Its number is def.number, or the next free one when 0. Returns the
  // number, or 0 with OpenError() set when the number or name is taken.
  int AddControl(ControlDef def);

  // Binds `control` (an entry, text, string, check, spin, combo, option or
  // prompt) to the variable `value` refers to. The window keeps its own
  // field object over the same storage, so `value` may be a temporary; the
  // storage must outlive the binding. Unknown controls are ignored.
  void Use(int control, const UFO& value);
  // The most bytes (UTF-8) the user may type into the input control
  // `control`; 0 no limit. Opening sets it from the control's picture, Use
  // from the variable (ui/text_capacity.h); SetTextCapacity after Use
  // overrides it. The toolkit refuses typing and pasting beyond it at a
  // character boundary, with a beep. Text the program shows (Display,
  // SetText) is never cut: a longer value shows whole.
  size_t TextCapacity(int control) const;
  void SetTextCapacity(int control, size_t bytes);
  // Binds a list to `rows`: one row per queue entry, formatted through the
  // list format. REQUIRES: `rows` outlives the binding.
  void From(int list, QUEUE* rows);
  // Variables to screen: formats each bound control's variable through its
  // picture (a list: its queue's entries) and shows it. A control whose
  // value has not changed since it was last shown is left alone, so text the
  // user is typing survives a redisplay that did not change its variable.
  // 0 displays every control.
  void Display(int control = 0);
  // Screen to variables: each bound input control's text through its
  // picture into its variable. A text that fails its picture leaves the
  // variable unchanged; returns false when any did. 0 updates every control.
  bool Update(int control = 0);
  // Gives `control` the focus (no event). During an accept-all pass this
  // ends the pass.
  void Select(int control);
  // Starts the accept-all pass: each visible, enabled, writable input
  // control in turn has its text validated and copied into its variable,
  // raising EVENT:Accepted for it; a control that fails raises
  // EVENT:Rejected and ends the pass; when all pass, EVENT:Completed. The
  // pass's events go to the front of the queue, ahead of what was queued.
  void SelectAll();
  bool InAcceptAll() const;
  // The control that has the focus, 0 none.
  int Focus() const;

  // ---- Properties (unknown controls read as empty and ignore changes) -------

  std::string Caption() const;
  void SetCaption(std::string_view caption);
  // The text a control shows: a label, a button's caption, an entry's
  // screen text (typed or displayed).
  std::string Text(int control) const;
  void SetText(int control, std::string_view text);
  // True when the user has typed into the entry or text `control` since its
  // value was last shown or accepted (an edit not yet accepted).
  bool Edited(int control) const;
  // Makes `control` the button Enter presses (0: none); the others lose it.
  void SetDefaultButton(int control);
  bool Hidden(int control) const;
  void SetHidden(int control, bool hidden);
  bool Disabled(int control) const;
  void SetDisabled(int control, bool disabled);
  bool ReadOnly(int control) const;
  void SetReadOnly(int control, bool read_only);
  // Logically visible: the window is open and not iconized, the control is
  // not hidden, and every enclosing tab is the selected one of its sheet.
  bool Visible(int control) const;
  // A check box's state.
  bool Checked(int control) const;
  // A list's selected row (1-based, 0 none), or a sheet's selected tab.
  int Choice(int control) const;
  // Moves the selection; a list's row is clamped to its rows.
  void SetChoice(int control, int choice);
  // How many rows a list can show (from its height, or as the toolkit
  // reported).
  int Items(int list) const;
  // Rows a list holds (its queue's entries).
  int Rows(int list) const;
  // Position and size in dialog units; control 0 is the window (its client
  // size).
  Rect Position(int control) const;
  void SetPosition(int control, const Rect& rect);
  // Several moves applied together, without redrawing in between: the
  // toolkit gets them as one batch (Toolkit::BeginMoves/EndMoves), or
  // nothing when no rectangle changes.
  void MoveControls(const std::vector<std::pair<int, Rect>>& moves);
  // Limits of the window's client size (0 no limit).
  void SetSizeLimits(int min_width, int min_height, int max_width = 0, int max_height = 0);
  WindowState State() const;
  Appearance GetAppearance(int control) const;
  void SetAppearance(int control, const Appearance& appearance);
  // A list's icon number `number` (1-based) is the icon file `name`.
  void SetIcon(int list, int number, std::string_view name);
  // The list format of a list (parsed at Open). REQUIRES: a list control.
  const ListFormat& Format(int list) const;
  // The widths of a list's columns (dialog units): the format's, or what
  // the user dragged them to, or what SetColumnWidths set. Empty for a
  // control that is not a list.
  std::vector<int> ColumnWidths(int list) const;
  // Sets the widths of a list's columns, first column first. Widths beyond
  // the list's columns are ignored, and a width below 1 leaves its column
  // as it is.
  void SetColumnWidths(int list, const std::vector<int>& widths);

  // ---- Keys, timer, popups ---------------------------------------------------

  // Alerts `keycode` on `control` (0: the whole window): when pressed there
  // it raises EVENT:AlertKey (addressed to the control with the focus) instead
  // of its usual action.
  void Alert(int32_t keycode, int control = 0);
  void RemoveAlert(int32_t keycode, int control = 0);
  bool Alerted(int32_t keycode, int control) const;
  // EVENT:Timer every `hundredths` (0 stops it); timer events do not pile up.
  void SetTimer(int hundredths);
  int Timer() const;
  // Shows a popup menu (ui/popup_menu.h) and returns the chosen item's
  // number, 0 when dismissed or when `menu` does not parse.
  int Popup(std::string_view menu);

  // ---- Notifications ---------------------------------------------------------

  // The notification the current EVENT:Notify carries. False when the
  // current event is not a notification.
  bool Notification(int32_t* code, int32_t* thread, int32_t* param) const;

  // The calling thread's top window, or nullptr.
  static Window* Active();

 private:
  friend struct WindowCore;
  friend class InputSink;
  std::unique_ptr<WindowCore> core_;
};

// ---- The thread's current event ---------------------------------------------

// The code of the event the calling thread's loop is handling; 0 outside a
// loop (no window, before the first event, after the loop ended).
int32_t CurrentEvent();
// The control the current event is addressed to; 0 for a window event.
int32_t CurrentControl();
// The last key code of the thread's user input: set when a loop delivers an
// event the user caused (a key, a click), kept until the next one.
int32_t KeyCode();
void SetKeyCode(int32_t keycode);
// The control with the focus in the calling thread's top window; 0 none.
int32_t FocusControl();

// This thread's number in the window system's thread table (1-based),
// given out on first use and released when the thread ends.
int32_t ThreadNumber();
// How many slots the thread table has.
inline constexpr int32_t kMaxWindowThreads = 64;

// Posts `code` to the top window of thread `thread` (0: the calling
// thread), addressed to `control`. Nothing is posted when the code is below
// 0 or from kEventCodeLimit up, when the number is outside the thread table
// or names no thread, or when that thread has no open window. Returns
// `code`, as given, in every case.
int32_t Post(int32_t code, int32_t control = 0, int32_t thread = 0);

// Posts EVENT:Notify to the top window of `thread` (0: the calling thread),
// carrying (`code`, the calling thread's number, `param`) for
// Window::Notification. Returns true when it was posted.
bool Notify(int32_t code, int32_t thread = 0, int32_t param = 0);

}  // namespace qzr

#endif  // QZR_UI_WINDOW_H_
