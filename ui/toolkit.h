// The toolkit seam: what a window system must provide so that the window core
// (ui/window.h) can show windows on it, and the input sink through which it
// hands the user's actions back.
//
// Division of labour. The core owns every window's state (texts, flags,
// rows, choice, focus, geometry), its event queue, and every rule of event
// order and coalescing; a toolkit only mirrors that state in native controls
// and reports what the user does. Because the same core serves every
// toolkit, a procedure sees the same events in the same order headless and
// on the desktop.
//
// Calls from the core into a toolkit (the virtual functions of Toolkit) are
// program changes: they must raise no input (block the toolkit's own
// signals while applying them). They happen on the thread that owns the
// window, never from inside an InputSink call.
//
// Input flows the other way through InputSink. A sink call only records the
// action in the core (queueing events, or noting the text on screen); it never
// runs procedure code, so it is safe from a toolkit callback. Procedure code
// runs later, when the window's accept loop takes the event. Rules the sink
// applies for every toolkit:
//   1. A window that is not the top window of its thread gets no input: it is
//      dropped (modal nesting), except CloseDown at shut-down.
//   2. The close box never closes: it queues EVENT:CloseWindow, and the
//      procedure decides.
//   3. EVENT:Sized is queued once after opening and then once per distinct
//      size; a size change while one is queued updates that one. EVENT:Timer
//      and EVENT:MouseMove are coalesced the same way (one queued at most).
//   4. Text typed into an entry is only noted (TextChanged); it becomes the
//      variable's value, with EVENT:Accepted or EVENT:Rejected, when the edit
//      is finished (Enter, focus moving away, the accept-all pass).
//
// Threads: the virtual functions are called on the window's thread, except
// Wake (any thread). InputSink functions are called on the thread that owns
// the window (the toolkit's event thread, which is the thread that runs the
// windows' loops), except ShutDown, which only queues and may come from any
// thread. Only event queues are shared across threads (Post); they are
// guarded by the core's mutex, which is never held while calling a toolkit.

#ifndef QZR_UI_TOOLKIT_H_
#define QZR_UI_TOOLKIT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/event.h"
#include "ui/keycodes.h"
#include "ui/list_format.h"
#include "ui/popup_menu.h"
#include "ui/window_backend.h"
#include "ui/window_def.h"

namespace qzr {

// Identifies one open window between the core and a toolkit; never reused
// within a process. 0 is no window.
using WindowId = uint64_t;

enum class WindowState : uint8_t { kNormal, kIconized, kMaximized };

// How a control looks, beyond its text and flags.
inline constexpr int32_t kColorNone = -1;  // the toolkit's default colour
inline constexpr int kFontBold = 1;
inline constexpr int kFontItalic = 2;
inline constexpr int kFontUnderline = 4;
struct Appearance {
  std::string tip;
  std::string cursor;  // "hand.cur"; "" the usual pointer
  std::string icon;
  int32_t font_color = kColorNone;  // 0xBBGGRR
  int32_t back_color = kColorNone;
  int font_style = 0;  // kFont... bits
  bool operator==(const Appearance&) const = default;
};

// What the user did to a scroll bar or with the list keys.
enum class ScrollAction : uint8_t {
  kLineUp,
  kLineDown,
  kPageUp,
  kPageDown,
  kTop,
  kBottom,
  kDrag,  // the thumb was dropped at a percentage (0..100)
};

enum class WaitResult : uint8_t {
  kInput,        // something was handed to the sink, or Wake was called
  kNoMoreInput,  // nothing can ever arrive (a script ran out): end the loops
};

class Toolkit : public WindowBackend {
 public:
  // ---- Windows. Rects are in dialog units.

  // Builds the native window with every control of `def`, in the state the
  // definition gives, and shows it (owned by `owner` when not 0). False with
  // `error` when it cannot.
  virtual bool CreateWindow(WindowId id, const WindowDef& def, WindowId owner,
                            std::string* error) = 0;
  virtual void DestroyWindow(WindowId id) = 0;
  // A control added while the window is open.
  virtual bool AddControl(WindowId id, const ControlDef& control, std::string* error) = 0;
  virtual void SetCaption(WindowId id, std::string_view caption) = 0;
  // The window's position and client size.
  virtual void SetWindowRect(WindowId id, const Rect& rect) = 0;
  virtual void SetWindowState(WindowId id, WindowState state) = 0;
  // Size limits of the client area; 0 means no limit.
  virtual void SetSizeLimits(WindowId id, int min_width, int min_height, int max_width,
                             int max_height) = 0;
  virtual void SetTimer(WindowId id, int hundredths) = 0;  // 0 stops it

  // ---- Controls.

  // The text shown: a caption or label, an entry's formatted value, a
  // sheet's tab text for a tab.
  virtual void SetControlText(WindowId id, int control, std::string_view text) = 0;
  // kControlHidden, kControlDisabled, kControlReadOnly and kControlDefault
  // as the control has them now (other bits are the definition's and do not
  // change).
  virtual void SetControlFlags(WindowId id, int control, uint32_t flags) = 0;
  virtual void SetControlRect(WindowId id, int control, const Rect& rect) = 0;
  // A batch of moves (Window::MoveControls): BeginMoves, then a
  // SetWindowRect or SetControlRect for each rectangle that changes, then
  // EndMoves. A batch that changes nothing is not sent. A toolkit may hold
  // its redrawing until the batch ends. The base versions do nothing.
  virtual void BeginMoves(WindowId id) {}
  virtual void EndMoves(WindowId id) {}
  // The most bytes of UTF-8 the user may type or paste into the entry or
  // text `control` (0: no limit). Input beyond it is refused at a character
  // boundary, with a beep; text the program sets is shown whole. The base
  // version does nothing.
  virtual void SetTextCapacity(WindowId id, int control, size_t bytes) {}
  virtual void SetAppearance(WindowId id, int control, const Appearance& appearance) = 0;
  virtual void SetChecked(WindowId id, int control, bool checked) = 0;
  // A list's rows: exactly the entries of its queue, formatted. The list
  // shows them from the top; it holds no other rows.
  virtual void SetRows(WindowId id, int list, const std::vector<ListRow>& rows) = 0;
  // The list's icons: icons[0] is icon number 1.
  virtual void SetIcons(WindowId id, int list, const std::vector<std::string>& icons) = 0;
  // The widths of a list's columns (dialog units), first column first, as
  // the program set them. The base version does nothing: a toolkit that
  // cannot size columns keeps its own.
  virtual void SetColumnWidths(WindowId id, int list, const std::vector<int>& widths) {}
  // The selected row of a list (1-based, 0 none) or tab of a sheet.
  virtual void SetChoice(WindowId id, int control, int choice) = 0;
  virtual void SetFocus(WindowId id, int control) = 0;

  // ---- Modal interaction.

  // Shows `menu` at the pointer and returns the chosen item's number, 0 when
  // dismissed. Runs its own modal loop; no window gets input meanwhile.
  virtual int ShowPopup(WindowId id, const PopupMenu& menu) = 0;

  // Blocks until the user does something (handed to InputSink) or Wake is
  // called; `top` is the window whose loop waits. Returns at once when input
  // is already pending. Spurious returns are allowed: the core checks its
  // queue and waits again.
  virtual WaitResult WaitForInput(WindowId top) = 0;
  // Makes a WaitForInput in progress on any thread return. Any thread.
  virtual void Wake() = 0;

  // ---- Hooks for tests and traces (the base versions do nothing).

  // The most events an accept loop may deliver in a row without waiting for
  // input; past it the thread's loops end and ReportFailure is called. 0 is
  // no limit.
  virtual int64_t EventBudget() const { return 0; }
  // Every event an accept loop delivers, just before the procedure sees it.
  virtual void EventDelivered(WindowId id, const Event& event) {}
  // A fault of the program the core detected (an exhausted event budget).
  // The base version writes it to standard error.
  virtual void ReportFailure(std::string_view text);
};

// The toolkit in force: the current backend when it is one, else nullptr
// (the terminal backend shows no windows, so opening a window fails).
Toolkit* CurrentToolkit();

// The core's door for user actions. Each function finds the window by id
// (an unknown or closed id, or an unknown control number, is ignored),
// records the action and returns; events are queued as described.
class InputSink {
 public:
  // A button pressed (keycode kMouseLeft, or the key that pressed it):
  // EVENT:Accepted on it.
  static void Clicked(WindowId id, int control, int32_t keycode = kMouseLeft);
  // The user changed an entry's or text's contents; no event yet.
  static void TextChanged(WindowId id, int control, std::string_view text);
  // The user finished editing `control` (Enter, or the focus left it). When
  // its text changed since it was last displayed: the value goes through the
  // picture into the variable with EVENT:Accepted, or EVENT:Rejected leaves
  // the variable unchanged.
  static void EditFinished(WindowId id, int control, int32_t keycode = 0);
  // A check box toggled by the user: the variable takes the check's value,
  // then EVENT:Accepted.
  static void Toggled(WindowId id, int control, bool checked);
  // A list row clicked (kMouseLeft), double-clicked (kMouseLeft2) or
  // right-clicked (kMouseRight): the choice moves to `row`, then
  // EVENT:NewSelection with that key code.
  static void RowClicked(WindowId id, int list, int row, int32_t keycode);
  // A tab chosen on a sheet (1-based): EVENT:TabChanging, then the choice
  // moves and EVENT:NewSelection on the sheet.
  static void TabSelected(WindowId id, int sheet, int tab);
  // A key pressed while `control` has the focus (0: the window). Returns
  // true when the core took it (an alerted key, Enter, Esc, Tab, the list
  // keys), so the toolkit must not act on it as well.
  static bool KeyPressed(WindowId id, int control, int32_t keycode);
  // A list's scroll bar (or its keys on an immediate list).
  static void Scrolled(WindowId id, int list, ScrollAction action, int percent = 0);
  // A column header of `list` clicked (1-based column, modifier bits of
  // ui/keycodes.h): EVENT:Accepted on the list's header region, if it has one.
  static void HeaderClicked(WindowId id, int list, int column, int32_t modifiers);
  // The user moved the focus to `control` (by mouse or Tab). The control
  // left behind finishes its edit (as EditFinished); the focus itself raises
  // no event.
  static void FocusMoved(WindowId id, int control);
  // The pointer is now over `control` (0: over no control).
  static void MouseOver(WindowId id, int control);
  // The client area's new size / the window's new position (dialog units).
  static void Resized(WindowId id, int width, int height);
  static void Moved(WindowId id, int x, int y);
  // The user asks to iconize, maximize or restore (EVENT:Iconize,
  // EVENT:Maximize, EVENT:Restore); the default processing does it.
  static void StateRequested(WindowId id, int32_t event_code);
  // The toolkit already changed the state on its own: EVENT:Iconized,
  // EVENT:Maximized or EVENT:Restored.
  static void StateChanged(WindowId id, WindowState state);
  // The close box, Alt+F4 or the window menu's Close.
  static void CloseRequested(WindowId id);
  static void TimerFired(WindowId id);
  // How many rows `list` can show now (after a resize or a font change).
  static void ListCapacity(WindowId id, int list, int rows);
  // The user dragged the edge of column `column` (1-based) of `list` to
  // `width` dialog units: the width is kept (Window::ColumnWidths), then
  // EVENT:ColumnResize on the list, the column in its param.
  static void ColumnResized(WindowId id, int list, int column, int width);
  // The session or the application is ending: EVENT:CloseDown to every open
  // window of every thread, top windows first.
  static void ShutDown();
};

}  // namespace qzr

#endif  // QZR_UI_TOOLKIT_H_
