// The headless window backend: a scripted user for tests.
//
// Windows. The backend keeps a plain mirror of every open window (caption,
// controls with their texts, flags, rows as formatted, choice, focus,
// geometry) that tests inspect, and a transcript of what happened: events
// delivered, messages and popups shown with their answers, beeps, steps run,
// failures.
//
// The script. A test queues steps before it runs the procedure. Whenever the
// top window's loop finds its queue empty it asks for input, and the next
// step runs against that window: it acts through the same input sink a
// desktop toolkit uses (so events come in the same order), and the loop
// goes on. Steps that raise nothing (inspection, typing without leaving the
// field) are followed at once by the next step.
//
//   HeadlessBackend ui;  ScopedBackend use(&ui);
//   ui.Type(4, "Hello");            // into control 4 of the top window
//   ui.Click(13);                   // press Save
//   ui.AnswerMessage(kButtonYes);   // the question Save raises
//   RunTheProcedure();
//   EXPECT_THAT(ui.Failures(), IsEmpty());
//
// Message boxes and popups are answered when shown, not when the loop waits:
// a message takes the first step when that step is AnswerMessage, else the
// next queued answer (QueueAnswer), else the fallback or its default button;
// a popup takes the first step when it is AnswerPopup, else it is dismissed
// (0). An answer step found at the front while a window waits was never
// used: that is a failure.
//
// No test can hang: when a window waits and the script is empty, the
// failure "the script ran out while window "<caption>" waits for input" is
// reported and the thread's loops end (Accept returns false). The event
// budget (10000 by default) ends loops whose handlers keep posting to
// themselves. Failures go to the failure handler (a test installs one that
// calls ADD_FAILURE) and are kept for Failures().
//
// Threads: the script runs on the thread whose window waits. The records and
// the script are guarded by one mutex, so a test may inspect them from
// another thread. For tests that post across threads, SetWaitForPosts(true)
// makes an empty script wait for a Wake instead of failing.

#ifndef QZR_UI_HEADLESS_BACKEND_H_
#define QZR_UI_HEADLESS_BACKEND_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/toolkit.h"

namespace qzr {

// The mirror of one control.
struct HeadlessControl {
  ControlDef def;
  std::string text;
  uint32_t flags = 0;  // kControlHidden, kControlDisabled, kControlReadOnly, kControlDefault
  Rect at;
  Appearance look;
  bool checked = false;
  int choice = 0;
  std::vector<ListRow> rows;
  std::vector<std::string> icons;
  std::vector<int> column_widths;  // as the program last set them; empty: the format's
  size_t text_capacity = 0;        // bytes the user may type (0: no limit)
};

// The mirror of one window, as the user would see it.
struct HeadlessWindow {
  WindowId id = 0;
  std::string name;  // the definition's window name
  std::string caption;
  Rect at;
  WindowState state = WindowState::kNormal;
  int focus = 0;
  int timer = 0;
  int min_width = 0, min_height = 0, max_width = 0, max_height = 0;
  int move_batches = 0;  // batches of moves applied (Window::MoveControls)
  std::map<int, HeadlessControl> controls;

  // Inspection; an unknown control reads as empty, false or 0.
  const HeadlessControl* Control(int control) const;
  std::string Text(int control) const;
  bool Hidden(int control) const;
  bool Enabled(int control) const;
  bool ReadOnly(int control) const;
  bool Checked(int control) const;
  bool IsDefault(int control) const;  // the button Enter presses
  int Choice(int control) const;
  Rect Position(int control) const;
  // The rows as shown: each cell's text.
  std::vector<std::vector<std::string>> Rows(int list) const;
  // One row's cells, tab-separated ("" for a row that does not exist).
  std::string Row(int list, int row) const;
};

class HeadlessBackend : public Toolkit {
 public:
  struct ShownMessage {
    MessageRequest request;
    int answer = 0;  // what this backend answered
  };
  struct ShownPopup {
    std::string window;  // caption of the window it was shown over
    PopupMenu menu;
    int answer = 0;
  };
  struct DeliveredEvent {
    std::string window;  // the window's definition name
    std::string caption;
    Event event;
  };

  HeadlessBackend();
  ~HeadlessBackend() override;

  // ---- The script: steps, run in order against the top window ---------------

  void Click(int control);
  // Replaces the control's text with `text`; when `finish`, then leaves the
  // field (EVENT:Accepted or EVENT:Rejected when the text changed), else the
  // text stays typed but not accepted.
  // Typing honours the control's capacity (Window::TextCapacity): what does
  // not fit is refused at a UTF-8 character boundary, with a standard beep.
  void Type(int control, std::string_view text, bool finish = true);
  // Types (or pastes) `text` at the end of the control's text, within its
  // capacity as Type does.
  void Append(int control, std::string_view text, bool finish = true);
  // A key pressed on `control` (0: the control with the focus).
  void Key(int32_t keycode, int control = 0);
  void Check(int control, bool checked);
  void SelectRow(int list, int row);
  void DoubleClick(int list, int row);
  void RightClick(int list, int row);
  void SelectTab(int sheet, int tab);
  void Focus(int control);
  void Hover(int control);  // the pointer moves over `control` (0: off every control)
  void Scroll(int list, ScrollAction action, int percent = 0);
  void HeaderClick(int list, int column, int32_t modifiers = 0);
  // The user drags the right edge of column `column` of `list` to `width`.
  void ResizeColumn(int list, int column, int width);
  void Resize(int width, int height);
  void Move(int x, int y);
  void Iconize();
  void Maximize();
  void Restore();
  void Close();  // the close box
  void Tick();   // the top window's timer fires (when it has one)
  // Fails unless the top window's caption is `caption` when the step runs.
  void ExpectWindow(std::string caption);
  // Runs `step` with the top window's mirror.
  void Then(std::function<void(HeadlessWindow&)> step);
  // Answers the next message box / popup (see the file comment).
  void AnswerMessage(int button);
  void AnswerPopup(int item);
  void AnswerPopup(std::string item_text);
  // Steps not run yet.
  size_t PendingSteps() const;

  // Answers for message boxes outside the step order (kept from the first
  // version of this backend): each message without an AnswerMessage step
  // takes the next one; when none is queued, the fallback, else its default.
  void QueueAnswer(int button);
  void QueueAnswers(std::initializer_list<int> buttons);
  void SetFallbackAnswer(std::optional<int> button);
  size_t PendingAnswers() const;

  // ---- Failures and limits ---------------------------------------------------

  // Called with every failure (after it is recorded). Tests install one that
  // fails the test: ui.SetFailureHandler([](const std::string& f) {
  // ADD_FAILURE() << f; });
  void SetFailureHandler(std::function<void(const std::string&)> handler);
  std::vector<std::string> Failures() const;
  void SetEventBudget(int64_t events);
  void SetWaitForPosts(bool wait);

  // ---- Inspection ------------------------------------------------------------

  // The top window of the thread that last waited or opened a window, or of
  // all when unsure: the one opened last and still open. nullptr when none.
  // The pointer is valid until the next call that changes windows.
  const HeadlessWindow* Top() const;
  // An open window by its caption or its definition name.
  const HeadlessWindow* Find(std::string_view caption_or_name) const;
  // Every window opened so far (open or closed), in order: captions at the
  // time they closed.
  std::vector<std::string> WindowsOpened() const;
  std::vector<ShownMessage> Messages() const;
  std::vector<ShownPopup> Popups() const;
  std::vector<DeliveredEvent> Events() const;
  // Every cursor set, in order; and the beeps sounded, by type.
  std::vector<int> Cursors() const;
  std::vector<int> Beeps() const;
  // Everything in order, one line each: "event P1$WINDOW EVENT:Accepted
  // 0xA001 control 14 key MouseLeft", "message "Confirm Delete" ... -> 2",
  // "step Click(14)", "beep -1", "failure ...".
  std::vector<std::string> Transcript() const;
  // Forgets the records and the queued answers (not the script or windows).
  void Clear();

  // ---- WindowBackend ---------------------------------------------------------
  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int cursor) override;
  void Beep(int type) override;

  // ---- Toolkit ---------------------------------------------------------------
  bool CreateWindow(WindowId id, const WindowDef& def, WindowId owner, std::string* error) override;
  void DestroyWindow(WindowId id) override;
  bool AddControl(WindowId id, const ControlDef& control, std::string* error) override;
  void SetCaption(WindowId id, std::string_view caption) override;
  void SetWindowRect(WindowId id, const Rect& rect) override;
  void SetWindowState(WindowId id, WindowState state) override;
  void SetSizeLimits(WindowId id, int min_width, int min_height, int max_width,
                     int max_height) override;
  void SetTimer(WindowId id, int hundredths) override;
  void SetControlText(WindowId id, int control, std::string_view text) override;
  void SetControlFlags(WindowId id, int control, uint32_t flags) override;
  void SetControlRect(WindowId id, int control, const Rect& rect) override;
  void SetTextCapacity(WindowId id, int control, size_t bytes) override;
  void EndMoves(WindowId id) override;
  void SetAppearance(WindowId id, int control, const Appearance& appearance) override;
  void SetChecked(WindowId id, int control, bool checked) override;
  void SetRows(WindowId id, int list, const std::vector<ListRow>& rows) override;
  void SetIcons(WindowId id, int list, const std::vector<std::string>& icons) override;
  void SetColumnWidths(WindowId id, int list, const std::vector<int>& widths) override;
  void SetChoice(WindowId id, int control, int choice) override;
  void SetFocus(WindowId id, int control) override;
  int ShowPopup(WindowId id, const PopupMenu& menu) override;
  WaitResult WaitForInput(WindowId top) override;
  void Wake() override;
  int64_t EventBudget() const override;
  void EventDelivered(WindowId id, const Event& event) override;
  void ReportFailure(std::string_view text) override;

 private:
  struct Step {
    enum Kind { kAction, kAnswerMessage, kAnswerPopup } kind = kAction;
    std::string label;  // for the transcript: "Click(14)"
    std::function<void(WindowId, HeadlessWindow*)> action;
    int answer = 0;
    std::string answer_text;
  };
  void AddStep(std::string label, std::function<void(WindowId, HeadlessWindow*)> action);
  void Fail(std::string text);  // records, then calls the handler (unlocked)
  // A change the user's action makes to the native control by itself (the
  // typed text, the checked state, the selected row), under the lock.
  void Mirrored(WindowId id, const std::function<void()>& change);
  void SelectMirroredRow(WindowId id, int list, int row);
  // The user types into `control`: `text` replaces its text, or follows it
  // when `append`; what passes the capacity is refused with a beep.
  void TypeInto(WindowId id, HeadlessWindow* w, int control, std::string_view text, bool append,
                bool finish);
  HeadlessWindow* Mirror(WindowId id);
  HeadlessControl* MirrorControl(WindowId id, int control);

  mutable std::mutex mu_;
  std::condition_variable woken_cv_;
  bool woken_ = false;
  bool wait_for_posts_ = false;
  int64_t budget_ = 10000;
  std::deque<Step> steps_;
  std::deque<int> answers_;
  std::optional<int> fallback_;
  std::function<void(const std::string&)> failure_handler_;
  std::vector<std::string> failures_;
  std::map<WindowId, HeadlessWindow> windows_;
  std::vector<WindowId> open_order_;
  std::vector<std::string> opened_;
  std::vector<ShownMessage> messages_;
  std::vector<ShownPopup> popups_;
  std::vector<DeliveredEvent> events_;
  std::vector<int> cursors_;
  std::vector<int> beeps_;
  std::vector<std::string> transcript_;
};

}  // namespace qzr

#endif  // QZR_UI_HEADLESS_BACKEND_H_
