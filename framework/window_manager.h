// WindowManager: the spine of every procedure that shows a window. It opens
// the window, runs its accept loop, dispatches each event to a fixed set of
// handlers and to the registered components, and, for a form, carries out
// the request it was called with (insert, change, delete or view of the
// primary file's current record) with its confirmations, retries and the
// response handed back to the caller.
//
// A procedure derives from it, overrides a few operations, and calls Run:
//
//   class UpdateForm : public WindowManager {
//     Severity Init() override {
//       REQUEST = pending_request;
//       if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
//       ERRORS = errors; PRIMARY = relate; OKCONTROL = kOk; ...
//       if (PrepareRequest() != SeverityNone) return SeverityInform;
//       return Open(&window_);
//     }
//   };
//   int response = form.Run();   // Init, Ask, Kill; 1 completed, 2 cancelled
//
// Each handler returns a Severity: SeverityNone goes on with the default
// processing, SeverityInform means the event is dealt with (the window's
// default processing is skipped), SeverityHalt leaves the loop.
//
// The request's life cycle:
//   Init (ORIGINALREQUEST := REQUEST) -> PrepareRequest (an insert starts
//   from a blank record; a delete is done here and the form does not run;
//   SAVED := the record as it was before editing) -> Open -> Ask:
//     OK accepted -> the accept-all pass -> EVENT:Completed -> SaveInsert /
//     SaveChange / SaveDelete -> EndWithResponse(1) -> EVENT:CloseWindow
//     close box / cancel button -> EVENT:CloseWindow -> HandleCloseEvent
//     (the close questions) -> the window closes
//   -> Kill (DEAD). RESPONSE is 2 from the priming of an insert on, so a
//   form closed in any way reports cancelled unless a save succeeded.
//
// A new record is numbered (FUN:ID) by the file manager when it is saved,
// not when the form opens: a form that is cancelled or killed leaves no
// record behind.
//
// Threads: a manager, its window and its components belong to the thread
// that runs it.

#ifndef QZR_FRAMEWORK_WINDOW_MANAGER_H_
#define QZR_FRAMEWORK_WINDOW_MANAGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data/file_descriptor.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "framework/severity.h"
#include "framework/window_component.h"
#include "ui/event.h"
#include "ui/window.h"

namespace qzr {

// Request codes (REQUEST, ORIGINALREQUEST, BEFORESAVEREQUEST, the callers'
// pending request).
inline constexpr uint8_t kInsertRecord = 1;
inline constexpr uint8_t kChangeRecord = 2;
inline constexpr uint8_t kDeleteRecord = 3;
inline constexpr uint8_t kSelectRecord = 4;
inline constexpr uint8_t kViewRecord = 6;
inline constexpr uint8_t kSaveRecord = 7;  // internal: a save-and-stay is running

// Response codes.
inline constexpr uint8_t kRequestCompleted = 1;
inline constexpr uint8_t kRequestCancelled = 2;

// Framework error numbers the window manager asks.
inline constexpr int32_t kErrRecordAdded = 3;
inline constexpr int32_t kErrChangesLost = 10;
inline constexpr int32_t kErrRecordUpdateRetry = 37;
inline constexpr int32_t kErrSaveRecord = 38;

// The event posted to the window's own thread on EVENT:Sized, for the
// resizer.
inline constexpr int32_t kResizeEvent = 0x3FF;

// The size of LASTINSERTEDPOSITION.
inline constexpr size_t kInsertedPositionSize = 1024;

// INITED bits.
inline constexpr uint8_t kInitedActivated = 1;  // the first activation has run
inline constexpr uint8_t kInitedSized = 2;      // the first EVENT:Sized has been seen

// A CL entry.
struct ComponentEntry {
  int32_t TYPE = kComponentPlain;
  WindowComponent* WC = nullptr;
};

// A BUTTONS entry: accepting CONTROL ends the window with response ACTION.
struct ButtonEntry {
  int32_t CONTROL = 0;
  uint8_t ACTION = 0;
};

// A FILES entry: another file the form updates, with its record buffer as
// the form found it.
struct UpdateFileEntry {
  FileManager* MANAGER = nullptr;
  uint16_t SAVED = 0;
};

// The history copy of a record: the values of the last completed form, the
// memos with them, so that any history field (memos included) can be
// recalled. Empty until a form has completed; the procedure keeps it
// between calls (one per thread).
struct HistoryCopy {
  std::vector<uint8_t> RECORD;
  std::vector<std::string> MEMOS;
};

// A HISTORY entry: the control whose field FIELDNO (1-based; memos numbered
// after the record's fields) of FRECORD can be recalled from SRECORD.
struct HistoryFieldEntry {
  FileDescriptor* FRECORD = nullptr;
  HistoryCopy* SRECORD = nullptr;
  int32_t CONTROL = 0;
  int32_t FIELDNO = 0;
};

class WindowManager {
 public:
  WindowManager();
  // Does not run Kill: by the time it runs, the derived procedure's window
  // and components (usually its members) are gone. A manager is killed by
  // Run, or by whoever called Init; the destructor only closes the binding
  // level Init opened when nobody did.
  virtual ~WindowManager();

  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // ---- The virtual operations, in slot order -----------------------------

  // The event loop: each event goes to HandleEvent; SeverityHalt leaves the
  // loop, SeverityInform skips the window's default processing. A dead
  // manager, or one without an open window, returns at once.
  virtual void Ask();
  // Defaults: ORIGINALREQUEST := REQUEST; the lists; a binding level for
  // expression names; INSERTACTION, DELETEACTION, CHANGEACTION 2,
  // CANCELACTION 3, AUTOTOOLBAR and AUTOREFRESH 1. A derived Init calls it
  // first and returns at once when it fails.
  virtual Severity Init();
  // Tear-down: the components are removed and killed, saved buffers
  // released without restoring them, the toolbar and the resizer killed,
  // the binding level popped, the window closed; DEAD := 1. A second Kill,
  // or a Kill without Init, returns SeverityInform and does nothing.
  virtual Severity Kill();
  // The first activation: Reset(false), INITED bit 0.
  virtual void PrepareWindow();
  // MYWINDOW := `window`, OWNERWINDOW := `owner` when given, and opens the
  // window (owned by OWNERWINDOW). SeverityNone, or SeverityHalt when the
  // window cannot open (the reason is shown: it names the window and the
  // control at fault).
  virtual Severity Open(Window* window, Window* owner = nullptr);
  // Hook: fills the defaults of a new record (insert). May set RESPONSE to
  // 2 to refuse the insert.
  virtual void SetNewRecordDefaults() {}
  // Prepares REQUEST on the primary file (insert: a blank record; delete:
  // done at once) and takes SAVED. Returns SeverityHalt when the form must
  // not run (the delete was the whole request, or the insert was refused).
  virtual Severity PrepareRequest();
  // Resets the components and redisplays the window; nothing during the
  // accept-all pass.
  virtual void Reset(bool force = false);
  // Copies the history value of the field shown in `control` into the live
  // record and redisplays the control.
  virtual void RecallField(int32_t control);
  // Init; Ask when Init returned SeverityNone; Kill. Returns RESPONSE, or
  // 2 when none was set.
  virtual int Run();
  // Hook for calling an update procedure; the base returns 2.
  virtual int RunProcedure(int32_t number, int32_t request);
  // The components' RegisterKeys; HISTORYKEY alerted on every history
  // field's control.
  virtual void RegisterKeys();
  // RESPONSE := `response` and EVENT:CloseWindow posted.
  virtual void EndWithResponse(int response);
  virtual Severity HandleAccepted();
  virtual Severity HandleCompleted();
  virtual Severity HandleCloseEvent();
  // The dispatcher.
  virtual Severity HandleEvent();
  virtual Severity HandleFieldEvent() { return SeverityNone; }
  virtual Severity HandleNewSelection();
  virtual Severity HandleNotify(int32_t code, int32_t thread, int32_t parameter) {
    return SeverityNone;
  }
  virtual Severity HandleRejected();
  virtual Severity HandleSelected() { return SeverityNone; }
  virtual Severity HandleWindowEvent();
  // Each component's Update.
  virtual void Update();
  // Enables or disables a control; control 0 is ignored.
  virtual void SetControlEnabled(int32_t control, bool enabled);
  virtual Severity SaveInsert();
  virtual Severity SaveChange();
  virtual Severity SaveDelete();
  virtual Severity SaveChangeAndStay();
  virtual Severity SaveInsertAndStay();

  // ---- Set-up, between the base Init and Open ---------------------------

  void AddItem(WindowComponent* component, int32_t type = kComponentPlain);
  void RemoveItem(WindowComponent* component);
  void AddButton(int32_t control, int response);
  void RegisterUpdateFile(FileManager* file);
  // Starts a history entry for `record` and its history copy;
  // RegisterHistoryField completes it with a control and a field number
  // (1-based, memos after the record's fields) and adds it.
  void RegisterHistoryRecord(FileDescriptor* record, HistoryCopy* copy);
  void RegisterHistoryField(int32_t control, int32_t field_number);
  void SetToolbar(WindowToolbar* toolbar);
  void SetResizer(WindowComponent* resizer);

  // ---- State -------------------------------------------------------------

  // The event being handled by this manager's loop (code 0 outside it).
  const Event& ThisEvent() const { return event_; }
  // True when the primary record differs from SAVED, counting the text
  // typed into the focused control that has not been accepted yet (it is
  // taken into its variable first). False without a primary file.
  bool RecordChanged();
  // Whether Init ran and Kill has not.
  bool Live() const { return made_ && !DEAD; }

  // Fields, in declaration order.
  uint8_t AUTOREFRESH = 0;
  uint8_t AUTOTOOLBAR = 0;
  std::vector<ButtonEntry> BUTTONS;
  std::vector<ComponentEntry> CL;
  uint8_t CANCELACTION = 0;  // bit 0: save instead; bit 1: ask first
  uint8_t CHANGEACTION = 0;  // 2: end after a change; 3: stay
  uint8_t DEAD = 0;
  uint8_t DELETEACTION = 0;  // 2: confirm first
  uint8_t BATCHPROCESSING = 0;
  ErrorManager* ERRORS = nullptr;
  std::vector<UpdateFileEntry> FILES;
  uint8_t FILESOPENED = 0;
  int32_t FIRSTFIELD = 0;
  uint8_t FORCEDRESET = 0;
  std::vector<HistoryFieldEntry> HISTORY;
  int32_t HISTORYKEY = 0;
  uint8_t INITED = 0;
  uint8_t INSERTACTION = 0;  // 2: end; 3: prime another and stay; 4: ask (error 3)
  std::string LASTINSERTEDPOSITION;
  int32_t OKCONTROL = 0;
  int32_t SAVECONTROL = 0;
  uint8_t DISABLECANCELBUTTON = 0;
  uint8_t OPENED = 0;
  uint8_t ORIGINALREQUEST = 0;
  uint8_t RECORDSAVED = 0;
  uint8_t BEFORESAVEREQUEST = 0;
  RelationManager* PRIMARY = nullptr;
  uint8_t REQUEST = 0;
  uint8_t RESETONGAINFOCUS = 0;
  WindowComponent* RESIZE = nullptr;
  uint8_t RESPONSE = 0;
  uint16_t SAVED = 0;
  FormNavigator* FORMVCR = nullptr;
  WindowToolbar* TOOLBAR = nullptr;
  int32_t* VCRREQUEST = nullptr;
  Window* MYWINDOW = nullptr;
  Window* OWNERWINDOW = nullptr;

 protected:
  // Starts the save of the form: the accept-all pass, or EVENT:Completed.
  void Complete();
  // Asks error `id` with Yes, No and Cancel, default Cancel; returns the
  // pressed button (Cancel when there is nobody to ask).
  int AskYesNoCancel(int32_t id);
  // Throws error `id` (a Yes/No question): SeverityNone for Yes,
  // SeverityDeclined for No (and when there is nobody to ask).
  Severity AskYesNo(int32_t id);
  // Posts `code` to this manager's window, addressed to `control`.
  void PostToWindow(int32_t code, int32_t control = 0);
  void SelectFirstField();
  void Redisplay();
  // Clears the primary record buffer and its memos and runs the file's
  // priming hook; the number is assigned when the record is saved.
  Severity PrimeRecord();
  // After an insert while the form stays: remember the added record,
  // refresh the saved buffers and prime the next record (SaveInsert step 3).
  Severity PrimeNextRecord();
  void EnableCancelButtons(bool enabled);
  // Releases SAVED and takes a fresh copy of the primary record.
  void RefreshSaved();
  // Copies each distinct history record into its history copy.
  void SaveHistory();
  FileManager* PrimaryFile() const;
  // The error manager questions go to: ERRORS, else the primary file's.
  ErrorManager* Errors() const;

 private:
  bool made_ = false;         // Init created the lists
  bool pushed_bind_ = false;  // Init opened a binding level
  FileDescriptor* pending_history_record_ = nullptr;
  HistoryCopy* pending_history_copy_ = nullptr;
  Event event_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_WINDOW_MANAGER_H_
