// The window manager: life cycle, the event loop and the dispatch of events
// to the handlers and the components. The requests (insert, change, delete,
// view) and the close questions are in window_manager_requests.cc.

#include "framework/window_manager.h"

#include <algorithm>

#include "framework/file_manager_internal.h"
#include "runtime/evaluator/evaluator.h"
#include "ui/keycodes.h"
#include "ui/message.h"

namespace qzr {

namespace {

// Key codes a procedure must not inherit from the window that called it: a
// right click (and its release) that opened the caller's popup menu.
constexpr int32_t kInheritedRightClick = kMouseRight;
constexpr int32_t kInheritedRightClickUp = kMouseRightUp;

}  // namespace

WindowManager::WindowManager() = default;

WindowManager::~WindowManager() {
  if (pushed_bind_) {
    RuntimeErrorKeeper keep;
    POPBIND();
  }
}

// ---------------------------------------------------------------------------
// Life cycle.

Severity WindowManager::Init() {
  ORIGINALREQUEST = REQUEST;
  CL.clear();
  BUTTONS.clear();
  made_ = true;
  DEAD = 0;
  {
    // A thread without an evaluator has no names to hide; the manager then
    // has no level to pop either.
    RuntimeErrorKeeper keep;
    pushed_bind_ = HasEvaluator() && PUSHBIND();
  }
  const int32_t key = KeyCode();
  if (key == kInheritedRightClick || key == kInheritedRightClickUp) SetKeyCode(0);
  INSERTACTION = 2;
  DELETEACTION = 2;
  CHANGEACTION = 2;
  CANCELACTION = 3;
  AUTOTOOLBAR = 1;
  AUTOREFRESH = 1;
  OWNERWINDOW = nullptr;
  return SeverityNone;
}

Severity WindowManager::Kill() {
  if (DEAD || !made_) return SeverityInform;
  // Components leave the list before they are killed, so a component that
  // removes itself (or another) from its Kill finds a consistent list.
  std::vector<ComponentEntry> components;
  components.swap(CL);
  for (ComponentEntry& c : components) {
    if (c.WC != nullptr) c.WC->Kill();
  }
  BUTTONS.clear();
  HISTORY.clear();
  pending_history_record_ = nullptr;
  pending_history_copy_ = nullptr;
  for (UpdateFileEntry& f : FILES) {
    if (f.MANAGER != nullptr && f.SAVED != 0) f.MANAGER->RestoreRecordBuffer(f.SAVED, false);
  }
  FILES.clear();
  if (FileManager* fm = PrimaryFile(); fm != nullptr && SAVED != 0)
    fm->RestoreRecordBuffer(SAVED, false);
  SAVED = 0;
  if (TOOLBAR != nullptr) TOOLBAR->Kill();
  if (RESIZE != nullptr) RESIZE->Kill();
  DEAD = 1;
  if (pushed_bind_) {
    RuntimeErrorKeeper keep;
    POPBIND();
    pushed_bind_ = false;
  }
  if (MYWINDOW != nullptr && OPENED) MYWINDOW->Close();
  OPENED = 0;
  return SeverityNone;
}

void WindowManager::PrepareWindow() {
  // No translator is ever set in this program; the hook stays empty.
  Reset(false);
  INITED |= kInitedActivated;
}

Severity WindowManager::Open(Window* window, Window* owner) {
  MYWINDOW = window;
  if (owner != nullptr) OWNERWINDOW = owner;
  if (window == nullptr) return SeverityHalt;
  if (!window->Open(OWNERWINDOW)) {
    std::string why = window->OpenError();
    if (why.empty()) why = "The window " + window->Def().name + " could not be opened.";
    if (ErrorManager* e = Errors(); e != nullptr) {
      e->Message(why, "Window Error", kIconHand, kButtonOk, kButtonOk, e->MSGSTYLE);
    } else {
      MessageBox(why, "Window Error", kIconHand, kButtonOk, kButtonOk);
    }
    return SeverityHalt;
  }
  OPENED = 1;
  return SeverityNone;
}

int WindowManager::Run() {
  if (Init() == SeverityNone) Ask();
  Kill();
  return RESPONSE != 0 ? RESPONSE : kRequestCancelled;
}

int WindowManager::RunProcedure(int32_t /*number*/, int32_t /*request*/) {
  return kRequestCancelled;
}

// ---------------------------------------------------------------------------
// Set-up.

void WindowManager::AddItem(WindowComponent* component, int32_t type) {
  if (component == nullptr) return;
  CL.push_back(ComponentEntry{type, component});
}

void WindowManager::RemoveItem(WindowComponent* component) {
  std::erase_if(CL, [component](const ComponentEntry& e) { return e.WC == component; });
}

void WindowManager::AddButton(int32_t control, int response) {
  BUTTONS.push_back(ButtonEntry{control, static_cast<uint8_t>(response)});
}

void WindowManager::RegisterUpdateFile(FileManager* file) {
  if (file == nullptr) return;
  FILES.push_back(UpdateFileEntry{file, 0});
}

void WindowManager::RegisterHistoryRecord(FileDescriptor* record, HistoryCopy* copy) {
  pending_history_record_ = record;
  pending_history_copy_ = copy;
}

void WindowManager::RegisterHistoryField(int32_t control, int32_t field_number) {
  if (pending_history_record_ == nullptr || pending_history_copy_ == nullptr) return;
  HISTORY.push_back(
      HistoryFieldEntry{pending_history_record_, pending_history_copy_, control, field_number});
}

void WindowManager::SetToolbar(WindowToolbar* toolbar) {
  TOOLBAR = toolbar;
  if (toolbar != nullptr) toolbar->Init(this);
}

void WindowManager::SetResizer(WindowComponent* resizer) {
  RESIZE = resizer;
}

void WindowManager::RegisterKeys() {
  for (ComponentEntry& c : CL) c.WC->RegisterKeys();
  if (HISTORYKEY == 0 || MYWINDOW == nullptr) return;
  for (const HistoryFieldEntry& h : HISTORY) MYWINDOW->Alert(HISTORYKEY, h.CONTROL);
}

// ---------------------------------------------------------------------------
// The loop and the dispatch.

void WindowManager::Ask() {
  if (DEAD || !made_) return;
  LASTINSERTEDPOSITION.clear();
  if (MYWINDOW == nullptr || !MYWINDOW->IsOpen()) return;
  Event e;
  while (MYWINDOW->Accept(&e)) {
    event_ = e;
    Severity s = HandleEvent();
    if (s == SeverityHalt) break;
    if (s != SeverityInform && MYWINDOW->IsOpen()) MYWINDOW->Default(e);
  }
  event_ = Event();
}

Severity WindowManager::HandleEvent() {
  const Event e = event_;
  Severity s = SeverityNone;
  if (e.is_window_event()) {
    s = HandleWindowEvent();
    if (s != SeverityNone) return s;
  }
  switch (e.code) {
    case EVENT::Sized:
      PostToWindow(kResizeEvent);
      break;
    case EVENT::Accepted:
      s = HandleAccepted();
      break;
    case EVENT::Rejected:
      s = HandleRejected();
      break;
    case EVENT::Selected:
      s = HandleSelected();
      break;
    case EVENT::NewSelection:
      s = HandleNewSelection();
      break;
    case EVENT::AlertKey: {
      const int32_t key = e.keycode != 0 ? e.keycode : KeyCode();
      if (HISTORYKEY != 0 && key == HISTORYKEY && MYWINDOW != nullptr)
        RecallField(MYWINDOW->Focus());
      break;
    }
    default:
      break;
  }
  if (s != SeverityNone) return s;
  if (!e.is_window_event()) {
    s = HandleFieldEvent();
    if (s != SeverityNone) return s;
  }
  // By index: a component may add or remove components while it handles
  // the event.
  for (size_t i = 0; i < CL.size(); ++i) {
    s = CL[i].WC->HandleEvent();
    if (s != SeverityNone) return s;
  }
  if (AUTOREFRESH) {
    for (size_t i = 0; i < CL.size(); ++i) {
      if (CL[i].WC->NeedsReset()) {
        Reset(false);
        break;
      }
    }
  }
  return SeverityNone;
}

Severity WindowManager::HandleWindowEvent() {
  switch (event_.code) {
    case EVENT::OpenWindow:
      if ((INITED & kInitedActivated) == 0) PrepareWindow();
      if (FIRSTFIELD != 0) SelectFirstField();
      return SeverityNone;
    case EVENT::Notify: {
      int32_t code = 0;
      int32_t thread = 0;
      int32_t param = 0;
      if (MYWINDOW != nullptr && MYWINDOW->Notification(&code, &thread, &param))
        return HandleNotify(code, thread, param);
      return SeverityNone;
    }
    case EVENT::LoseFocus:
      if (RESETONGAINFOCUS) FORCEDRESET = 1;
      return SeverityNone;
    case EVENT::GainFocus:
      if (INITED & kInitedActivated) {
        Reset(false);
      } else {
        PrepareWindow();
      }
      return SeverityNone;
    case EVENT::Sized:
      // The size event that follows the opening is not a change of size.
      if (INITED & kInitedSized) {
        Reset(false);
      } else {
        INITED |= kInitedSized;
      }
      return SeverityNone;
    case EVENT::Completed:
      return HandleCompleted();
    case EVENT::CloseWindow:
    case EVENT::CloseDown:
      return HandleCloseEvent();
    default:
      return SeverityNone;
  }
}

Severity WindowManager::HandleAccepted() {
  const int32_t control = event_.control;
  if (TOOLBAR != nullptr) {
    TOOLBAR->TakeEvent(VCRREQUEST, this);
    if (control == kToolbarHistoryButton && MYWINDOW != nullptr) RecallField(MYWINDOW->Focus());
  }
  for (const ButtonEntry& b : BUTTONS) {
    if (b.CONTROL == control) {
      EndWithResponse(b.ACTION);
      return SeverityInform;
    }
  }
  if (OKCONTROL != 0 && control == OKCONTROL) {
    Complete();
  } else if (SAVECONTROL != 0 && control == SAVECONTROL) {
    if (REQUEST == kViewRecord) return SeverityInform;
    BEFORESAVEREQUEST = REQUEST;
    REQUEST = kSaveRecord;
    Complete();
  }
  if (DISABLECANCELBUTTON) EnableCancelButtons(false);
  return SeverityNone;
}

Severity WindowManager::HandleNewSelection() {
  if (MYWINDOW != nullptr && MYWINDOW->HasControl(event_.control) &&
      MYWINDOW->Kind(event_.control) == ControlKind::kSheet) {
    Reset(false);
    if (AUTOTOOLBAR && TOOLBAR != nullptr) TOOLBAR->DisplayButtons();
  }
  return SeverityNone;
}

Severity WindowManager::HandleRejected() {
  MessageBeep(kBeepStandard);
  if (MYWINDOW != nullptr && event_.control != 0) {
    MYWINDOW->Display(event_.control);
    MYWINDOW->Select(event_.control);
  }
  return SeverityNone;
}

void WindowManager::Reset(bool force) {
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen() && MYWINDOW->InAcceptAll()) return;
  bool forced = force || FORCEDRESET != 0;
  FORCEDRESET = 0;
  FileManager* fm = PrimaryFile();
  for (size_t i = 0; i < CL.size(); ++i) {
    WindowComponent* c = CL[i].WC;
    if (CL[i].TYPE == kComponentBufferAware && fm != nullptr) {
      if (c->WantsBufferRestore()) {
        if (SAVED != 0) fm->RestoreRecordBuffer(SAVED, true);
        SAVED = fm->SaveRecordBuffer();  // the copy stays, as the record before editing
        c->AfterBufferRestore();
        forced = true;
      }
      c->Reset(forced);
      if (c->WantsBufferSave()) {
        if (SAVED != 0) fm->RestoreRecordBuffer(SAVED, false);
        SAVED = fm->SaveRecordBuffer();
        c->AfterBufferSave();
      }
    } else {
      c->Reset(forced);
    }
  }
  for (size_t i = 0; i < CL.size(); ++i) CL[i].WC->RefreshDisplay();
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen()) MYWINDOW->Display();
}

void WindowManager::Update() {
  for (ComponentEntry& c : CL) c.WC->Update();
}

void WindowManager::SetControlEnabled(int32_t control, bool enabled) {
  if (control == 0 || MYWINDOW == nullptr) return;
  MYWINDOW->SetDisabled(control, !enabled);
}

void WindowManager::EndWithResponse(int response) {
  RESPONSE = static_cast<uint8_t>(response);
  PostToWindow(EVENT::CloseWindow);
  if (response == kRequestCancelled && TOOLBAR != nullptr && VCRREQUEST != nullptr) *VCRREQUEST = 0;
}

// ---------------------------------------------------------------------------
// History.

void WindowManager::SaveHistory() {
  std::vector<const HistoryCopy*> done;
  for (const HistoryFieldEntry& h : HISTORY) {
    if (h.FRECORD == nullptr || h.SRECORD == nullptr) continue;
    if (std::find(done.begin(), done.end(), h.SRECORD) != done.end()) continue;
    done.push_back(h.SRECORD);
    h.SRECORD->RECORD = h.FRECORD->record;
    h.SRECORD->MEMOS = h.FRECORD->memo_values;
  }
}

void WindowManager::RecallField(int32_t control) {
  if (control == 0) return;
  auto it = std::find_if(HISTORY.begin(), HISTORY.end(),
                         [control](const HistoryFieldEntry& h) { return h.CONTROL == control; });
  if (it == HISTORY.end() || it->FRECORD == nullptr || it->SRECORD == nullptr) return;
  FileDescriptor& live = *it->FRECORD;
  const HistoryCopy& copy = *it->SRECORD;
  // A copy is only read when it holds a whole record of this file: before
  // the first completed form there is nothing to recall.
  if (copy.RECORD.size() != live.record.size()) return;
  const size_t fields = live.fields.size();
  if (it->FIELDNO < 1) return;
  const size_t number = static_cast<size_t>(it->FIELDNO);
  if (number <= fields) {
    const FieldDesc& f = live.fields[number - 1];
    const uint64_t end = f.offset + f.TotalSize();
    if (end > live.record.size()) return;
    std::copy(copy.RECORD.begin() + f.offset, copy.RECORD.begin() + static_cast<ptrdiff_t>(end),
              live.record.begin() + f.offset);
  } else {
    const size_t memo = number - fields - 1;
    if (memo >= live.memo_values.size() || memo >= copy.MEMOS.size()) return;
    live.memo_values[memo] = copy.MEMOS[memo];
  }
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen()) MYWINDOW->Display(control);
}

// ---------------------------------------------------------------------------
// Helpers.

void WindowManager::PostToWindow(int32_t code, int32_t control) {
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen()) MYWINDOW->Post(code, control);
}

void WindowManager::SelectFirstField() {
  if (FIRSTFIELD != 0 && MYWINDOW != nullptr && MYWINDOW->IsOpen()) MYWINDOW->Select(FIRSTFIELD);
}

void WindowManager::Redisplay() {
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen()) MYWINDOW->Display();
}

void WindowManager::EnableCancelButtons(bool enabled) {
  for (const ButtonEntry& b : BUTTONS) {
    if (b.ACTION == kRequestCancelled) SetControlEnabled(b.CONTROL, enabled);
  }
}

FileManager* WindowManager::PrimaryFile() const {
  return PRIMARY != nullptr ? PRIMARY->ME : nullptr;
}

ErrorManager* WindowManager::Errors() const {
  if (ERRORS != nullptr) return ERRORS;
  FileManager* fm = PrimaryFile();
  return fm != nullptr ? fm->ERRORS : nullptr;
}

}  // namespace qzr
