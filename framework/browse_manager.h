// BrowseManager: a view manager that keeps a list filled with one screenful
// of the view's rows and turns the list's events, keys, buttons and popup
// menu into requests for an update procedure.
//
// The browse never holds the whole result: its list queue (LISTQUEUE) is a
// window of at most LASTITEMS rows that slides as the user scrolls. Each row
// keeps the view position of its record, so the window can be moved from
// either edge by repositioning the view at the edge row and reading on.
//
// Invariants, kept by every operation below:
//   1. LISTQUEUE never holds more than LASTITEMS rows, and LASTITEMS >= 1.
//   2. The rows are consecutive rows of the view in the current order; a
//      refill replaces them all.
//   3. When the list has rows, CURRENTCHOICE is a row of it (1..Records)
//      and the view's buffers hold that row's records (the selected record
//      is current); when it is empty, CURRENTCHOICE is 0 and the primary
//      record buffer is cleared.
//   4. A refill reads at most LASTITEMS + 1 rows when no record filter
//      rejects rows; a one-row step at an edge reads 2; a page reads at most
//      LASTITEMS + 1. Making the selected record current reads nothing (the
//      list keeps each row's records), except after a refill that ended on
//      another row than the selected one.
//
// Paging (browse_paging.cc):
//
//   Fetch(dir)      reads ITEMSTOFILL rows past the edge row in direction
//                   `dir`, dropping rows at the far edge (invariant 1)
//   RefillList(m)   rebuilds the window around the first shown row (1), the
//                   selected record (2), or from the start of the order (3)
//   ResetFromView   rebuilds the window from wherever the view stands (after
//                   a thumb or a locator positioned it)
//   StepOneRow / StepOnePage / JumpToEnd / HandleScroll: the scroll events
//
// A refill is deferred (LOADPENDING) while the list cannot be seen; Reset
// (the window's request to bring itself up to date) refills only when
// something changed: a pending load, a forced reset, NEEDREFRESH, another
// order or filter in the view, or the primary file's change count (so a
// window that regains the focus after another process changed the file
// shows the change, and one that regains it otherwise reads nothing).
//
// Threads: a browse, its view, its list and its window belong to one thread.

#ifndef QZR_FRAMEWORK_BROWSE_MANAGER_H_
#define QZR_FRAMEWORK_BROWSE_MANAGER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/browse_list.h"
#include "framework/browse_popup.h"
#include "framework/view_manager.h"
#include "framework/window_component.h"

namespace qzr {

class BrowseManager;
class QueryManager;
class WindowManager;

// Directions of Fetch.
inline constexpr int kFillBackward = 1;
inline constexpr int kFillForward = 2;

// Modes of RefillList.
inline constexpr int kRefillFromTop = 1;       // keep the first shown row
inline constexpr int kRefillKeepSelected = 2;  // keep the selected record
inline constexpr int kRefillFromStart = 3;     // start of the order

// Rows a list shows when it cannot tell (no list control, or one that
// answers 0 rows).
inline constexpr int32_t kDefaultListItems = 10;

// The thumb object of a sort order: turns a thumb position (0..100) into a
// position of the view, and the view's position back into a thumb position.
class BrowseThumb {
 public:
  virtual ~BrowseThumb() = default;
  // Positions the browse's view for `percent`; false when it could not.
  virtual bool PositionView(BrowseManager* browse, int percent) = 0;
};

// The locator of a sort order: takes typed keys and positions the view at
// the first row that matches what was typed.
class BrowseLocator {
 public:
  virtual ~BrowseLocator() = default;
  // True when the key was taken and the view positioned.
  virtual bool TakeKey(BrowseManager* browse, int32_t keycode) = 0;
};

// A browse's sort order: the view manager's entry, the locator, the fields
// whose change forces a reset, and the thumb.
struct BrowseSortOrder : SortOrder {
  BrowseLocator* LOCATOR = nullptr;
  std::vector<ViewField> RESETS;
  BrowseThumb* THUMB = nullptr;
};

class BrowseManager : public ViewManager, public WindowComponent {
 public:
  BrowseManager();
  ~BrowseManager() override;

  using ViewManager::Init;
  // The view-manager part, then the list: `list` (ILC) and `rows`
  // (LISTQUEUE) belong to the caller and outlive the browse. A browse made
  // this way has no window: no keys, buttons or update procedure.
  void Init(BrowseListControl* list, ViewEngine* view, BrowseListQueue* rows,
            RelationManager* primary, const View* declaration = nullptr);
  // The same for the list control `list` of `window`'s window (reached
  // when it is open), with `window` as the browse's WINDOW: its keys,
  // buttons and popup, and its RunProcedure for the update procedure.
  // SELECTING follows the window's request (select).
  void Init(int32_t list, ViewEngine* view, BrowseListQueue* rows, RelationManager* primary,
            WindowManager* window, const View* declaration = nullptr);
  // Frees the list and closes the view (both the view manager's and the
  // window component's Kill).
  void Kill() override;
  std::unique_ptr<SortOrder> NewSortOrder() override;
  // The current sort order as a browse order (SORT); nullptr when none.
  BrowseSortOrder* CurrentBrowseOrder() const;

  // ---- Paging.

  // Reads up to ITEMSTOFILL rows past the last row (kFillForward) or before
  // the first (kFillBackward); ITEMSTOFILL left above 0 tells how many were
  // not there. SeverityHalt after a hard read error (the rows read so far
  // stay).
  virtual Severity Fetch(int direction);
  // Rebuilds the window of rows (modes above).
  virtual void RefillList(int mode);
  // Rebuilds the window from the view's present position: the rows from
  // there on, topped up with the rows before when the end comes first; the
  // first of them selected.
  virtual void ResetFromView();
  virtual void StepOneRow(int32_t event);
  virtual void StepOnePage(int32_t event);
  virtual void JumpToEnd(int32_t event);
  // A scroll event on the list; `param` is the thumb position (0..100) of
  // a drag.
  virtual void HandleScroll(int32_t event, int param);
  // The user selected another row.
  virtual void TakeNewSelection();

  // Fills the row to be added from the view's current row. The base
  // version copies the list's field pairs; a browse that has columns of its
  // own fills them after calling it.
  virtual void FillListRow();
  // Makes the selected row's records current (invariant 3).
  virtual void LoadSelectedRecord();
  // Selects the row at view `position` at the next refill, kept on the
  // selected row's place (the record an update procedure added or moved).
  void SelectAfterRefill(std::string position) { pending_selection_ = std::move(position); }
  // Reads the selected row's records afresh. When the row's record is gone,
  // the list is refilled (the selection falls to a neighbour) and the
  // answer is false: nothing may act on it.
  bool RefreshSelectedRecord();

  // ---- Orders.

  // Makes sort order `n` current and refills from its start; nothing
  // happens when it is current already. False when there is no such order.
  bool SelectOrder(int n);
  // Replaces the current order's text with an outside one (the first time,
  // the browse's own order is saved: SAVEDSORT), or restores the browse's
  // own order when `text` is blank; then refills keeping the selected
  // record.
  void SetSortText(std::string_view text);
  // Called after the order in force changed (hook; the base does nothing).
  virtual void SortChanged() {}

  // ---- Keeping up to date.

  // Refills when something changed since the last fill (see above), or
  // always with `force`.
  virtual void ResetBrowse(bool force);
  // True when a refill is owed (a load pending on a list that can now be
  // seen, or NEEDREFRESH).
  bool RefillOwed();
  // The primary file's change count; nullopt when its driver cannot tell.
  std::optional<int64_t> ChangeCount() const;
  // Whether the window the list is in is iconized (no refill then).
  void SetIconized(bool iconized) { iconized_ = iconized; }
  bool Iconized() const { return iconized_; }

  // The thumb position the browse shows: 0 at the start of the order, 100
  // at its end, 50 in between.
  int ThumbPercent() const;
  // True when the first (last) row is the first (last) row of the order.
  bool AtStart() const { return at_start_; }
  bool AtEnd() const { return at_end_; }

  // ---- Actions (browse_actions.cc).

  // Runs the update procedure for `request` (insert 1, change 2, delete 3,
  // view 6) through the window's RunProcedure(ASKPROCEDURE, request), then
  // refills so that the record worked on is shown. Change, delete and view
  // act only on a selected row, and only after reading its record afresh:
  // a row whose record is gone is not acted on (the list is refilled and
  // the answer is SeverityInform). Returns the procedure's response as
  // SeverityNone (completed) or SeverityInform (cancelled, or not run).
  virtual Severity Ask(int request);
  // The popup's items for the actions set, in order (built afresh).
  void BuildPopup();
  const BrowsePopup& Popup() const { return popup_; }
  // The list control's number; 0 for a browse without a window.
  int32_t ListControl() const { return list_control_; }
  // Enables the buttons that need a selected row when the list has rows,
  // disables them when it is empty.
  void UpdateButtons();

  // ---- WindowComponent.
  void Reset(bool force) override { ResetBrowse(force); }
  bool NeedsReset() override { return RefillOwed(); }
  void RegisterKeys() override;
  Severity HandleEvent() override;
  // Shows the list's rows and selection, the buttons' state and the
  // window's controls bound to the selected record.
  void RefreshDisplay() override;

  // ---- Fields, in declaration order (those this browse uses).
  uint8_t ACTIVEINVISIBLE = 0;
  uint8_t ALLOWUNFILLED = 0;
  int32_t ASKPROCEDURE = 0;
  int32_t CHANGECONTROL = 0;
  int32_t DELETECONTROL = 0;
  int32_t INSERTCONTROL = 0;
  int32_t VIEWCONTROL = 0;
  int32_t SELECTCONTROL = 0;
  int32_t PRINTCONTROL = 0;
  int32_t QUERYCONTROL = 0;
  int32_t TOOLCONTROL = 0;
  int32_t CURRENTCHOICE = 0;
  int32_t CURRENTEVENT = 0;
  uint8_t FILELOADED = 0;
  uint8_t USEMRP = 1;
  uint8_t HASTHUMB = 0;
  BrowseListControl* ILC = nullptr;
  int32_t ITEMSTOFILL = 0;
  int32_t LASTCHOICE = 0;
  int32_t PREVCHOICE = 0;
  int32_t LASTITEMS = 0;
  BrowseListQueue* LISTQUEUE = nullptr;
  uint8_t LOADPENDING = 0;
  uint8_t LOADED = 0;
  uint8_t NEEDREFRESH = 0;
  uint8_t USEPOPUP = 1;
  // The query by example of this browse (not owned; null: none). With it
  // the popup offers "&Query" (the dialog), the saved queries and "C&lear",
  // and Ctrl+Q anywhere in the window opens the dialog (browse_query.h).
  QueryManager* QUERY = nullptr;
  uint8_t QUICKSCAN = 0;
  uint8_t RETAINROW = 0;
  uint8_t SAVEDSORT = 0;
  std::string SAVEDSORTSTRING;  // at most 511 bytes
  BrowseLocator* SAVEDLOCATOR = nullptr;
  BrowseThumb* SAVEDTHUMB = nullptr;
  uint8_t SELECTING = 0;
  BrowseSortOrder* SORT = nullptr;
  uint8_t STARTATCURRENT = 0;
  WindowManager* WINDOW = nullptr;

 protected:
  // The action of a key alerted on the list, of a double click, of a
  // popup item: as if its button had been pressed (nothing when the button
  // is disabled or not set).
  Severity TakeAction(int request);
  // Runs the query dialog and applies the query on OK (QUERY set).
  Severity RunQuery();
  // A locator key or EVENT:Locate; the base hands typed keys to the
  // current order's locator when it has one.
  virtual void Locate(int32_t keycode);
  // Rows the list shows now (at least 1).
  int32_t ListItems();
  // Positions of every row, first to last.
  std::vector<std::string> RowPositions();
  // The row whose view position is `position`; 0 when none.
  int32_t FindRow(std::string_view position);
  // Selects `row` (clamped to the rows there are) on the list and in
  // CURRENTCHOICE, and makes its record current.
  void SelectRow(int32_t row);
  // Empties the list and clears the primary record buffer.
  void ClearList();
  // Notes what the list was filled from (texts, change count).
  void NoteFilled();
  // Shows the thumb where the browse stands.
  void ShowThumb();

 private:
  // Fills from the view's present position: forward `forward` rows, then
  // back (topping up) unless the fill starts at the start of the order.
  // `keep` rows must stay above the first row read.
  void FillAround(bool from_start, int32_t keep);

  // The list control of a window browse.
  class WindowList;
  std::unique_ptr<WindowList> window_list_;
  int32_t list_control_ = 0;
  BrowsePopup popup_;
  std::optional<std::string> pending_selection_;
  bool iconized_ = false;
  bool at_start_ = false;
  bool at_end_ = false;
  // Position of the row whose records are in the buffers; "" when unknown.
  std::string buffer_row_;
  // What the last fill was made from.
  std::string filled_order_;
  std::string filled_filter_;
  std::optional<int64_t> filled_count_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_BROWSE_MANAGER_H_
