// BrowseManager as a component of its window: the list's events, the keys,
// buttons and popup items that run the update procedure, and the display
// (see browse_manager.h).

#include <algorithm>

#include "framework/browse_manager.h"
#include "framework/browse_query.h"
#include "framework/query_manager.h"
#include "framework/window_manager.h"
#include "ui/event.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/window.h"

namespace qzr {

// The list control of the browse's window, reached through its window
// manager (the window opens after the browse is made).
class BrowseManager::WindowList : public BrowseListControl {
 public:
  WindowList(WindowManager* window, int32_t list) : window_(window), list_(list) {}

  int32_t Choice() override {
    Window* w = Open();
    return w != nullptr ? w->Choice(list_) : 0;
  }
  void SetChoice(int32_t row) override {
    if (Window* w = Open()) w->SetChoice(list_, row);
  }
  int32_t Items() override {
    Window* w = Open();
    return w != nullptr ? w->Items(list_) : 0;
  }
  bool Visible() override {
    Window* w = Open();
    return w != nullptr && w->Visible(list_) && w->State() != WindowState::kIconized;
  }

 private:
  Window* Open() const {
    Window* w = window_->MYWINDOW;
    return w != nullptr && w->IsOpen() ? w : nullptr;
  }
  WindowManager* window_;
  int32_t list_;
};

BrowseManager::BrowseManager() = default;
BrowseManager::~BrowseManager() {
  if (INITED && !KILLED) BrowseManager::Kill();
}

void BrowseManager::Init(int32_t list, ViewEngine* view, BrowseListQueue* rows,
                         RelationManager* primary, WindowManager* window, const View* declaration) {
  window_list_ = std::make_unique<WindowList>(window, list);
  Init(window_list_.get(), view, rows, primary, declaration);
  WINDOW = window;
  list_control_ = list;
  SELECTING = window != nullptr && window->REQUEST == kSelectRecord ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Keys, popup and events

void BrowseManager::RegisterKeys() {
  Window* w = WINDOW != nullptr ? WINDOW->MYWINDOW : nullptr;
  if (w == nullptr || list_control_ == 0) return;
  // On the list only: the same keys keep their meaning in an entry.
  if (INSERTCONTROL != 0) w->Alert(kKeyInsert, list_control_);
  if (CHANGECONTROL != 0) w->Alert(kKeyCtrlEnter, list_control_);
  if (DELETECONTROL != 0) w->Alert(kKeyDelete, list_control_);
  if (VIEWCONTROL != 0) w->Alert(kKeyShiftEnter, list_control_);
  // The query dialog, from anywhere in the window.
  if (QUERY != nullptr) w->Alert(kQueryDialogKey, 0);
}

void BrowseManager::BuildPopup() {
  popup_.Clear();
  if (INSERTCONTROL != 0) popup_.AddMimic("!&Insert&Insert", "&Insert", "&Insert", INSERTCONTROL);
  if (CHANGECONTROL != 0) popup_.AddMimic("!&Change&Change", "&Change", "&Change", CHANGECONTROL);
  if (DELETECONTROL != 0) popup_.AddMimic("!&Delete&Delete", "&Delete", "&Delete", DELETECONTROL);
  if (VIEWCONTROL != 0) popup_.AddMimic("!&View", "&View", "&View", VIEWCONTROL);
  if (PRINTCONTROL != 0) popup_.AddMimic("!&Print", "&Print", "&Print", PRINTCONTROL);
  if (QUERYCONTROL != 0 || QUERY != nullptr) {
    popup_.AddSeparator("Separator2");
    popup_.AddMimic("!&Query", "&Query", "&Query", QUERYCONTROL);
    if (QUERY != nullptr) AddQueryItems(&popup_, *QUERY);
  }
  if (SELECTCONTROL != 0 && SELECTING) {
    popup_.AddMimic("!&Select&Select", "&Select", "&Select", SELECTCONTROL);
  }
  if (TOOLCONTROL != 0) {
    popup_.AddSeparator("ToolSeparator2");
    popup_.AddMimic("!&Toolbox", "&Toolbox", "&Toolbox", TOOLCONTROL);
  }
}

Severity BrowseManager::TakeAction(int request) {
  int32_t control = 0;
  switch (request) {
    case kInsertRecord:
      control = INSERTCONTROL;
      break;
    case kChangeRecord:
      control = CHANGECONTROL;
      break;
    case kDeleteRecord:
      control = DELETECONTROL;
      break;
    case kViewRecord:
      control = VIEWCONTROL;
      break;
    case kSelectRecord:
      control = SELECTCONTROL;
      break;
    default:
      return SeverityNone;
  }
  Window* w = WINDOW != nullptr ? WINDOW->MYWINDOW : nullptr;
  if (control == 0 || w == nullptr || w->Disabled(control) || w->Hidden(control)) {
    return SeverityNone;
  }
  if (request == kSelectRecord) {
    if (!SELECTING || LISTQUEUE->Records() == 0) return SeverityNone;
    WINDOW->EndWithResponse(kRequestCompleted);
    return SeverityInform;
  }
  WINDOW->Update();
  Ask(request);
  return SeverityInform;
}

void BrowseManager::Locate(int32_t keycode) {
  BrowseSortOrder* order = CurrentBrowseOrder();
  if (order == nullptr || order->LOCATOR == nullptr) return;
  if (order->LOCATOR->TakeKey(this, keycode)) ResetFromView();
}

Severity BrowseManager::HandleEvent() {
  if (WINDOW == nullptr || !INITED) return SeverityNone;
  const Event e = WINDOW->ThisEvent();
  if (e.is_window_event()) {
    switch (e.code) {
      case EVENT::Iconized:
        SetIconized(true);
        break;
      case EVENT::Restored:
      case EVENT::Maximized:
        SetIconized(false);
        break;
      default:
        break;
    }
    return SeverityNone;
  }
  if (e.code == EVENT::AlertKey && QUERY != nullptr &&
      (e.keycode != 0 ? e.keycode : KeyCode()) == kQueryDialogKey) {
    return RunQuery();
  }
  if (e.control == list_control_ && list_control_ != 0) {
    switch (e.code) {
      case EVENT::ScrollUp:
      case EVENT::ScrollDown:
      case EVENT::PageUp:
      case EVENT::PageDown:
      case EVENT::ScrollTop:
      case EVENT::ScrollBottom:
      case EVENT::ScrollDrag:
        HandleScroll(e.code, e.param);
        RefreshDisplay();
        return SeverityNone;
      case EVENT::NewSelection: {
        TakeNewSelection();
        RefreshDisplay();
        const int32_t key = e.keycode;
        if (key == kMouseRight && USEPOPUP) {
          BuildPopup();
          const BrowsePopupItem* item = popup_.Ask(WINDOW->MYWINDOW);
          if (item == nullptr) return SeverityNone;
          // The query's own items first: they have no button, and a
          // control of 0 must not be taken for an action that is not set.
          if (QUERY != nullptr) {
            if (item->NAME == "!&Query") return RunQuery();
            if (TakeQueryItem(this, QUERY, *item)) {
              RefreshDisplay();
              return SeverityInform;
            }
          }
          // As if its button had been pressed.
          if (item->CONTROL == INSERTCONTROL) return TakeAction(kInsertRecord);
          if (item->CONTROL == CHANGECONTROL) return TakeAction(kChangeRecord);
          if (item->CONTROL == DELETECONTROL) return TakeAction(kDeleteRecord);
          if (item->CONTROL == VIEWCONTROL) return TakeAction(kViewRecord);
          if (item->CONTROL == SELECTCONTROL) return TakeAction(kSelectRecord);
          if (item->CONTROL != 0 && WINDOW->MYWINDOW != nullptr) {
            WINDOW->MYWINDOW->Post(EVENT::Accepted, item->CONTROL);
          }
          return SeverityNone;
        }
        if (key == kMouseLeft2) {
          if (SELECTING && SELECTCONTROL != 0) return TakeAction(kSelectRecord);
          if (CHANGECONTROL != 0) return TakeAction(kChangeRecord);
          if (VIEWCONTROL != 0) return TakeAction(kViewRecord);
        }
        return SeverityNone;
      }
      case EVENT::AlertKey:
        switch (e.keycode != 0 ? e.keycode : KeyCode()) {
          case kKeyInsert:
            return TakeAction(kInsertRecord);
          case kKeyCtrlEnter:
            return TakeAction(kChangeRecord);
          case kKeyDelete:
            return TakeAction(kDeleteRecord);
          case kKeyShiftEnter:
            return TakeAction(kViewRecord);
          default:
            Locate(e.keycode);
            RefreshDisplay();
            return SeverityNone;
        }
      case EVENT::Locate:
        Locate(0);
        RefreshDisplay();
        return SeverityNone;
      default:
        return SeverityNone;
    }
  }
  if (e.code == EVENT::Accepted && e.control != 0) {
    if (e.control == INSERTCONTROL) return TakeAction(kInsertRecord);
    if (e.control == CHANGECONTROL) return TakeAction(kChangeRecord);
    if (e.control == DELETECONTROL) return TakeAction(kDeleteRecord);
    if (e.control == VIEWCONTROL) return TakeAction(kViewRecord);
    if (e.control == SELECTCONTROL) return TakeAction(kSelectRecord);
    if (e.control == QUERYCONTROL && QUERY != nullptr) return RunQuery();
  }
  return SeverityNone;
}

Severity BrowseManager::RunQuery() {
  if (QUERY == nullptr) return SeverityNone;
  if (WINDOW != nullptr) WINDOW->Update();
  AskQuery(this, QUERY);
  RefreshDisplay();
  return SeverityInform;
}

// ---------------------------------------------------------------------------
// The update procedure

Severity BrowseManager::Ask(int request) {
  if (WINDOW == nullptr || !INITED) return SeverityInform;
  const bool on_row = request != kInsertRecord;
  if (on_row) {
    // Only a selected row, and only as the file holds it now.
    if (LISTQUEUE->Records() == 0 || CURRENTCHOICE < 1) return SeverityInform;
    if (!RefreshSelectedRecord()) {
      RefreshDisplay();
      return SeverityInform;
    }
  }
  const int response = WINDOW->RunProcedure(ASKPROCEDURE, request);
  // The procedure may have left anything in the buffers.
  buffer_row_.clear();
  if (response == kRequestCompleted && (request == kInsertRecord || request == kChangeRecord)) {
    // Show the record worked on, on the selected row's place.
    if (VIEW != nullptr) {
      const std::string position = VIEW->CurrentRecordPosition();
      if (!position.empty()) SelectAfterRefill(position);
    }
    RefillList(kRefillKeepSelected);
  } else if (response == kRequestCompleted) {
    RefillList(kRefillFromTop);
  } else {
    NEEDREFRESH = 0;
    ResetBrowse(false);
    LoadSelectedRecord();
  }
  RefreshDisplay();
  return response == kRequestCompleted ? SeverityNone : SeverityInform;
}

// ---------------------------------------------------------------------------
// Display

void BrowseManager::UpdateButtons() {
  if (WINDOW == nullptr) return;
  const bool rows = LISTQUEUE != nullptr && LISTQUEUE->Records() > 0;
  WINDOW->SetControlEnabled(CHANGECONTROL, rows);
  WINDOW->SetControlEnabled(DELETECONTROL, rows);
  WINDOW->SetControlEnabled(VIEWCONTROL, rows);
  if (SELECTING) WINDOW->SetControlEnabled(SELECTCONTROL, rows);
}

void BrowseManager::RefreshDisplay() {
  if (WINDOW == nullptr || WINDOW->MYWINDOW == nullptr || !WINDOW->MYWINDOW->IsOpen()) return;
  Window* w = WINDOW->MYWINDOW;
  UpdateButtons();
  // The rows, then the controls bound to the selected record.
  w->Display();
  if (list_control_ != 0) w->SetChoice(list_control_, CURRENTCHOICE);
}

}  // namespace qzr
