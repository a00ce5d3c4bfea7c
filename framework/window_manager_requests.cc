// The window manager's requests: preparing an insert, change, delete or
// view on the primary file, completing it (the saves with their retries),
// and the questions asked when a form is closed without completing.
//
// The record as it was before editing is kept as a saved buffer of the
// primary file manager (SAVED, memos included); "the record changed" always
// means CompareToSaved(SAVED), after the focused control's pending text has
// been taken into its variable.

#include <string>

#include "framework/file_manager_internal.h"
#include "framework/file_registry.h"
#include "framework/window_manager.h"
#include "ui/message.h"

namespace qzr {

namespace {

// The use a form makes of its primary file while it edits a record.
constexpr int kUseForm = 3;

// The position of the file's current record, "" when the driver cannot say.
std::string CurrentPosition(FileDescriptor* file) {
  if (file == nullptr || !file->IsOpen()) return {};
  RuntimeErrorKeeper keep;
  FileArgs a;
  if (CallFileOp(FileOp::POSITIONfile, *file, a) != 0) return {};
  std::string pos = internal::PositionText(a);
  if (pos.size() > kInsertedPositionSize) pos.resize(kInsertedPositionSize);
  return pos;
}

// Makes the record at `position` current, read into the buffer.
bool RegetPosition(FileDescriptor* file, const std::string& position) {
  if (file == nullptr || !file->IsOpen() || position.empty()) return false;
  RuntimeErrorKeeper keep;
  FileArgs a;
  internal::SetRegetPosition(position, &a);
  return CallFileOp(FileOp::REGETfile, *file, a) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Questions.

int WindowManager::AskYesNoCancel(int32_t id) {
  ErrorManager* e = Errors();
  if (e == nullptr) return kButtonCancel;
  return e->Ask(id, kButtonYes | kButtonNo | kButtonCancel, kButtonCancel);
}

Severity WindowManager::AskYesNo(int32_t id) {
  ErrorManager* e = Errors();
  if (e == nullptr) return SeverityDeclined;
  return e->Throw(id) == SeverityNone ? SeverityNone : SeverityDeclined;
}

// ---------------------------------------------------------------------------
// Preparing the request.

Severity WindowManager::PrimeRecord() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr) return SeverityNone;
  if (fm->EnsureUsable(kUseForm) != SeverityNone) return SeverityHalt;
  // The browse's selected record is still in the buffer: none of it may
  // reach the new entry.
  internal::ClearRecord(fm->FILE);
  fm->AUTOINCDONE = 0;
  fm->PrimeFields();
  return SeverityNone;
}

Severity WindowManager::PrepareRequest() {
  FileManager* fm = PrimaryFile();
  if (fm != nullptr) fm->EnsureUsable(kUseForm);
  if (PRIMARY != nullptr) PRIMARY->SaveLinkingValues();
  for (UpdateFileEntry& f : FILES) {
    if (f.SAVED != 0) f.MANAGER->RestoreRecordBuffer(f.SAVED, false);
    f.SAVED = f.MANAGER->SaveRecordBuffer();
  }
  Severity result = SeverityNone;
  if (REQUEST == kInsertRecord && INSERTACTION != 0) {
    RESPONSE = kRequestCompleted;
    if (PrimeRecord() != SeverityNone) {
      RESPONSE = kRequestCancelled;
      result = SeverityHalt;
    } else {
      SetNewRecordDefaults();
      if (RESPONSE == kRequestCancelled) {
        result = SeverityHalt;  // the defaults refused the insert
      } else {
        RESPONSE = kRequestCancelled;  // until a save succeeds
      }
    }
  } else if (REQUEST == kDeleteRecord && (DELETEACTION == 2 || DELETEACTION == 4)) {
    Severity s = PRIMARY != nullptr ? PRIMARY->Delete(DELETEACTION == 2) : SeverityInform;
    RESPONSE = s == SeverityNone ? kRequestCompleted : kRequestCancelled;
    result = SeverityHalt;
  }
  if (fm != nullptr) {
    if (SAVED != 0) fm->RestoreRecordBuffer(SAVED, false);
    SAVED = fm->SaveRecordBuffer();
  }
  return result;
}

void WindowManager::RefreshSaved() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr) return;
  if (SAVED != 0) fm->RestoreRecordBuffer(SAVED, false);
  SAVED = fm->SaveRecordBuffer();
}

bool WindowManager::RecordChanged() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr || SAVED == 0) return false;
  // Text typed into the focused control counts even before it is accepted.
  if (MYWINDOW != nullptr && MYWINDOW->IsOpen()) {
    const int focus = MYWINDOW->Focus();
    if (focus != 0) MYWINDOW->Update(focus);
  }
  return fm->CompareToSaved(SAVED);
}

// ---------------------------------------------------------------------------
// Completing.

void WindowManager::Complete() {
  if (MYWINDOW == nullptr || !MYWINDOW->IsOpen()) return;
  const uint8_t r = ORIGINALREQUEST;
  if (r == kViewRecord && !BATCHPROCESSING) {
    // Nothing is saved from a view: there is nothing to validate.
    PostToWindow(EVENT::Completed);
  } else if (r == kInsertRecord || r == kChangeRecord || r == kViewRecord || BATCHPROCESSING) {
    MYWINDOW->SelectAll();
  } else {
    PostToWindow(EVENT::Completed);
  }
}

Severity WindowManager::HandleCompleted() {
  SaveHistory();
  switch (REQUEST) {
    case kInsertRecord:
      return SaveInsert();
    case kChangeRecord:
      return SaveChange();
    case kDeleteRecord:
      return SaveDelete();
    case kSaveRecord:
      if (ORIGINALREQUEST == kInsertRecord) return SaveInsertAndStay();
      if (ORIGINALREQUEST == kChangeRecord) return SaveChangeAndStay();
      return SeverityNone;
    case kViewRecord:
      if (!BATCHPROCESSING) {
        PostToWindow(EVENT::CloseWindow);  // a view just ends
        return SeverityNone;
      }
      if (FORMVCR != nullptr) FORMVCR->MoveOn(this);
      RefreshSaved();
      Redisplay();
      SelectFirstField();
      return SeverityInform;
    default:
      return SeverityNone;
  }
}

Severity WindowManager::PrimeNextRecord() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr) return SeverityInform;
  LASTINSERTEDPOSITION = CurrentPosition(fm->FILE);
  for (UpdateFileEntry& f : FILES) {
    if (f.SAVED != 0) f.MANAGER->RestoreRecordBuffer(f.SAVED, false);
    f.SAVED = f.MANAGER->SaveRecordBuffer();
  }
  if (SAVED != 0) fm->RestoreRecordBuffer(SAVED, true);
  SAVED = 0;
  if (PrimeRecord() != SeverityNone) {
    PostToWindow(EVENT::CloseWindow);
  } else {
    SetNewRecordDefaults();
    RESPONSE = kRequestCancelled;
  }
  SAVED = fm->SaveRecordBuffer();
  Redisplay();
  SelectFirstField();
  return SeverityInform;
}

Severity WindowManager::SaveInsert() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr) return SeverityNone;
  Severity s;
  {
    WaitCursor busy;
    s = fm->Insert(true);
  }
  if (s != SeverityNone) {
    SelectFirstField();
    return SeverityInform;
  }
  RECORDSAVED = 1;
  if (!BATCHPROCESSING) {
    if (INSERTACTION == 2) {
      EndWithResponse(kRequestCompleted);
      return SeverityNone;
    }
    if (INSERTACTION == 4 && AskYesNo(kErrRecordAdded) != SeverityNone) {
      EndWithResponse(kRequestCompleted);
      return SeverityNone;
    }
  }
  if (INSERTACTION == 3 || INSERTACTION == 4 || BATCHPROCESSING) return PrimeNextRecord();
  return SeverityNone;
}

Severity WindowManager::SaveChange() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr || PRIMARY == nullptr) return SeverityNone;
  bool changed = false;
  for (;;) {
    RESPONSE = kRequestCancelled;
    Severity s = SeverityNone;
    {
      WaitCursor busy;
      changed = fm->CompareToSaved(SAVED);
      if (changed) s = PRIMARY->Update(HISTORYKEY != 0);
    }
    if (s == SeverityNone) break;
    if (s == SeverityQuestion) {
      const int answer = AskYesNoCancel(kErrRecordUpdateRetry);
      if (answer == kButtonYes) continue;
      if (answer == kButtonNo) {
        if (ORIGINALREQUEST != kInsertRecord) PostToWindow(EVENT::CloseWindow);
      } else {
        Redisplay();
        SelectFirstField();
      }
    } else {
      // Shown already (a record changed by another station is now in the
      // buffer as that station left it).
      Redisplay();
      SelectFirstField();
    }
    return SeverityInform;
  }
  if (changed) {
    RESPONSE = kRequestCompleted;
    RECORDSAVED = 1;
  } else if (TOOLBAR != nullptr && (VCRREQUEST == nullptr || *VCRREQUEST == 0)) {
    RESPONSE = kRequestCompleted;
  }
  if (ORIGINALREQUEST == kChangeRecord) {
    if (!BATCHPROCESSING) {
      if (CHANGEACTION == 2) PostToWindow(EVENT::CloseWindow);
    } else {
      if (FORMVCR != nullptr) FORMVCR->MoveOn(this);
      RefreshSaved();
      Redisplay();
      SelectFirstField();
      return SeverityInform;
    }
  }
  if (ORIGINALREQUEST == kInsertRecord && RESPONSE == kRequestCompleted) {
    // A new record saved with save-and-stay is now completed.
    EnableCancelButtons(true);
    REQUEST = kInsertRecord;
    if (INSERTACTION == 3) return PrimeNextRecord();
    if (!BATCHPROCESSING && CHANGEACTION == 2) PostToWindow(EVENT::CloseWindow);
  }
  return SeverityNone;
}

Severity WindowManager::SaveDelete() {
  for (;;) {
    RESPONSE = kRequestCancelled;
    Severity s;
    {
      WaitCursor busy;
      s = PRIMARY != nullptr ? PRIMARY->Delete(DELETEACTION == 2) : SeverityInform;
    }
    if (s == SeverityNone || s == SeverityDeclined) {
      if (!BATCHPROCESSING) {
        // A declined delete deleted nothing: the caller is told so.
        EndWithResponse(s == SeverityNone ? kRequestCompleted : kRequestCancelled);
        return SeverityNone;
      }
      if (FORMVCR != nullptr) FORMVCR->MoveOn(this);
      RefreshSaved();
      Redisplay();
      SelectFirstField();
      return SeverityInform;
    }
    const int answer = AskYesNoCancel(kErrRetryDelete);
    if (answer == kButtonYes) continue;
    if (answer == kButtonNo) {
      if (!BATCHPROCESSING) PostToWindow(EVENT::CloseWindow);
      return SeverityInform;
    }
    Redisplay();
    SelectFirstField();
    return SeverityInform;
  }
}

Severity WindowManager::SaveChangeAndStay() {
  FileManager* fm = PrimaryFile();
  RESPONSE = kRequestCancelled;
  if (fm != nullptr && PRIMARY != nullptr) {
    for (;;) {
      Severity s = SeverityNone;
      {
        WaitCursor busy;
        if (fm->CompareToSaved(SAVED)) s = PRIMARY->Update(HISTORYKEY != 0);
      }
      if (s == SeverityNone) {
        RECORDSAVED = 1;
        RefreshSaved();
        EnableCancelButtons(true);
        break;
      }
      if (s == SeverityQuestion) {
        const int answer = AskYesNoCancel(kErrRecordUpdateRetry);
        if (answer == kButtonYes) continue;
        if (answer == kButtonNo) break;
      }
      Redisplay();
      SelectFirstField();
      break;
    }
  }
  REQUEST = kChangeRecord;
  return SeverityInform;
}

Severity WindowManager::SaveInsertAndStay() {
  FileManager* fm = PrimaryFile();
  if (fm == nullptr) return SeverityInform;
  if (BEFORESAVEREQUEST == kInsertRecord) {
    Severity s;
    {
      WaitCursor busy;
      s = fm->Insert(true);
    }
    if (s != SeverityNone) {
      REQUEST = kInsertRecord;
      return SeverityInform;
    }
    RECORDSAVED = 1;
    REQUEST = kChangeRecord;  // from now on the form edits the record it added
    SelectFirstField();
    RefreshSaved();
    EnableCancelButtons(true);
    return SeverityInform;
  }
  REQUEST = kChangeRecord;
  if (fm->CompareToSaved(SAVED)) return SaveChangeAndStay();
  return SeverityInform;
}

// ---------------------------------------------------------------------------
// Closing.

Severity WindowManager::HandleCloseEvent() {
  if (RESPONSE != kRequestCompleted && PRIMARY != nullptr && CANCELACTION != 0 &&
      (REQUEST == kInsertRecord || REQUEST == kChangeRecord) && RecordChanged()) {
    // Saving instead of closing needs the OK control; a form without one
    // can only ask whether the changes may be lost.
    const bool save = (CANCELACTION & 1) != 0 && OKCONTROL != 0;
    const bool ask = (CANCELACTION & 2) != 0;
    if (save && ask) {
      const int answer = AskYesNoCancel(kErrSaveRecord);
      if (answer == kButtonYes) {
        PostToWindow(EVENT::Accepted, OKCONTROL);
        return SeverityInform;
      }
      if (answer != kButtonNo) {
        SelectFirstField();
        return SeverityInform;
      }
    } else if (save) {
      PostToWindow(EVENT::Accepted, OKCONTROL);
      return SeverityInform;
    } else if (AskYesNo(kErrChangesLost) != SeverityNone) {
      SelectFirstField();
      return SeverityInform;
    }
  }
  if (ORIGINALREQUEST == kInsertRecord && RESPONSE == kRequestCancelled && PRIMARY != nullptr) {
    if (PRIMARY->CancelAutoNumber() != SeverityNone) {
      SelectFirstField();
      return SeverityInform;
    }
  }
  if (!LASTINSERTEDPOSITION.empty()) {
    RESPONSE = kRequestCompleted;
    if (FileManager* fm = PrimaryFile(); fm != nullptr)
      RegetPosition(fm->FILE, LASTINSERTEDPOSITION);
  }
  return SeverityNone;
}

}  // namespace qzr
