// The update form; see update_functions.h.

#include "app/update_functions.h"

#include <string>
#include <string_view>

#include "addons/link_wright.h"
#include "app/app_globals.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "data/file_driver.h"
#include "framework/window_manager.h"
#include "framework/window_resizer.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_memo.h"
#include "ui/event.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/window.h"

namespace qzr {
namespace {

constexpr char kProcedureName[] = "update_functions";

// A text field of the form and how many bytes it holds.
struct TextField {
  int control;
  const char* what;
  size_t capacity;
};

constexpr TextField kTextFields[] = {
    {kUfName, "title", kFunNameSize - 1},
    {kUfDescription, "description", kFunDescriptionSize - 1},
    {kUfForumLink, "forum link", kFunForumLinkSize - 1},
    {kUfExampleCode, "code", kFunExampleCodeSize},
};

// The values of the last completed form, per thread.
HistoryCopy& History() {
  static thread_local HistoryCopy copy;
  return copy;
}

ControlDef Control(ControlKind kind, std::string name, std::string text, Rect at, int parent,
                   std::string picture = {}, uint32_t flags = 0) {
  ControlDef c;
  c.kind = kind;
  c.name = std::move(name);
  c.text = std::move(text);
  c.at = at;
  c.parent = parent;
  c.picture = std::move(picture);
  c.flags = flags;
  return c;
}

WindowDef MakeWindow() {
  WindowDef def;
  def.resource = "qzrfunctions$qzrfunctions002";
  def.name = "P1$QUICKWINDOW";
  def.caption = "Update Information";
  def.font = "Arial";
  def.font_size = 8;
  def.at = Rect{0, 0, 400, 300};
  def.resizable = true;
  def.modal = true;
  auto& c = def.controls;
  c.push_back(Control(ControlKind::kSheet, "?CURRENTTAB", "", {4, 4, 392, 268}, 0));
  c.push_back(Control(ControlKind::kTab, "?TAB:1", "General", {4, 4, 392, 268}, kUfCurrentTab));
  c.push_back(
      Control(ControlKind::kPrompt, "?FUN:NAME:PROMPT", "Title", {12, 24, 50, 10}, kUfTab1));
  c.push_back(Control(ControlKind::kEntry, "?FUN:NAME", "", {66, 22, 320, 12}, kUfTab1, "@s99"));
  c.push_back(Control(ControlKind::kString, "?STRING1", "Description", {12, 40, 50, 10}, kUfTab1));
  c.push_back(Control(ControlKind::kText, "?FUN:DESCRIPTION", "", {66, 38, 320, 40}, kUfTab1, {},
                      kControlVScroll));
  c.push_back(Control(ControlKind::kString, "?STRING2", "Forum Link", {12, 84, 50, 10}, kUfTab1));
  c.push_back(
      Control(ControlKind::kEntry, "?FUN:FORUMLINK", "", {66, 82, 266, 12}, kUfTab1, "@s254"));
  c.push_back(Control(ControlKind::kButton, "?BUTTON3", "Goto Web", {336, 81, 50, 14}, kUfTab1));
  c.push_back(Control(ControlKind::kString, "?STRING3", "Code", {12, 102, 50, 10}, kUfTab1));
  ControlDef code = Control(ControlKind::kText, "?FUN:EXAMPLECODE", "", {66, 100, 320, 146},
                            kUfTab1, {}, kControlVScroll | kControlHScroll);
  code.font = "Courier New";  // the desktop shows a fixed-font text as the code editor
  c.push_back(code);
  c.push_back(Control(ControlKind::kCheck, "?FUN:FULLCODE", "Working Code (Complete Example)",
                      {66, 252, 200, 12}, kUfTab1));
  ControlDef ok =
      Control(ControlKind::kButton, "?OK", "&Save", {282, 278, 54, 16}, 0, {}, kControlDefault);
  ok.tip = "Save Data to Database and Close Window";
  ok.cursor = "hand.cur";
  c.push_back(ok);
  ControlDef cancel = Control(ControlKind::kButton, "?CANCEL", "&Cancel", {340, 278, 54, 16}, 0);
  cancel.tip = "Cancel operation without Saving";
  cancel.cursor = "hand.cur";
  c.push_back(cancel);
  return def;
}

class UpdateFunctionsForm : public WindowManager {
 public:
  UpdateFunctionsForm() : window_(UpdateFunctionsWindow()) {}

  Severity Init() override;
  void Ask() override;
  Severity Kill() override;
  int Run() override;
  Severity HandleAccepted() override;
  Severity HandleEvent() override;
  Severity HandleWindowEvent() override;

 private:
  // Binds the controls to FUNC's record buffer and memo.
  void BindControls();
  // Re-reads the entry to change, watched, so that a save after another
  // process changed it reports that (and shows their version) instead of
  // writing over their change.
  void WatchEntry();
  // False (after saying which) when a field's text is longer than it holds.
  bool TextsFit();

  Window window_;
  LinkWright links_;
  WindowResizer resizer_;
  std::string action_message_;
  bool name_pushed_ = false;
};

Severity UpdateFunctionsForm::Init() {
  AppErrors->PushProcedureName(kProcedureName);
  name_pushed_ = true;
  REQUEST = PendingRequest;
  if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
  FIRSTFIELD = kUfName;
  VCRREQUEST = &NavRequest;
  ERRORS = AppErrors;
  PendingRequest = 0;
  LastResponse = 0;

  HISTORYKEY = kKeyCtrlH;
  RegisterHistoryRecord(&FUNC(), &History());
  RegisterHistoryField(kUfName, kFunName + 1);
  RegisterHistoryField(kUfDescription, kFunDescription + 1);
  RegisterHistoryField(kUfForumLink, kFunForumLink + 1);
  RegisterHistoryField(kUfExampleCode, 7);
  RegisterHistoryField(kUfFullCode, kFunFullCode + 1);

  RegisterUpdateFile(FuncAccess);
  AddButton(kUfCancel, kRequestCancelled);
  if (Severity s = FuncRelate->Open(); s != SeverityNone) return s;
  FILESOPENED = 1;
  PRIMARY = FuncRelate;

  if (REQUEST == kViewRecord && !BATCHPROCESSING) {
    INSERTACTION = 1;
    DELETEACTION = 1;
    CHANGEACTION = 1;
    CANCELACTION = 0;
    OKCONTROL = 0;
  } else {
    CHANGEACTION = 2;
    CANCELACTION = 2;
    OKCONTROL = kUfOk;
    if (REQUEST == kChangeRecord) WatchEntry();
    if (PrepareRequest() != SeverityNone) return SeverityInform;
  }
  if (Severity s = Open(&window_); s != SeverityNone) return s;
  BindControls();

  links_.Init(&window_);
  links_.HANDCURSORTOUSE = "hand2.cur";
  links_.ENCODEEMAILS = 1;
  LinkItem goto_web;
  goto_web.CONTROL = kUfGotoWeb;
  goto_web.SOURCE = kUfForumLink;
  goto_web.STANDARDAPPEARANCE = 1;  // a button: only the cursor changes
  links_.AddItem(goto_web);

  if (REQUEST == kViewRecord) {
    // Nothing typed into a view could be kept: every field refuses input.
    for (int control : {kUfName, kUfDescription, kUfForumLink, kUfExampleCode, kUfFullCode}) {
      window_.SetReadOnly(control, true);
    }
    SetControlEnabled(kUfGotoWeb, true);
  }

  resizer_.Init(&window_, kAppStrategySpread, true, false);
  SetResizer(&resizer_);
  AddItem(&resizer_);
  RegisterKeys();
  return SeverityNone;
}

void UpdateFunctionsForm::WatchEntry() {
  // The entry as the file holds it now. When it cannot be read (another
  // process deleted it meanwhile) the buffer stays as the caller left it,
  // and the save says what went wrong.
  FileDescriptor& file = FUNC();
  const std::vector<uint8_t> buffer = file.record;
  const std::vector<std::string> memos = file.memo_values;
  if (DoFileOp(FileOp::WATCH, file) != 0 || FuncAccess->Fetch(kFunPId) != SeverityNone) {
    file.record = buffer;
    file.memo_values = memos;
  }
}

void UpdateFunctionsForm::BindControls() {
  FileDescriptor& file = FUNC();
  window_.Use(kUfName, UfoCString(file.FieldData(kFunName), kFunNameSize));
  window_.Use(kUfDescription, UfoCString(file.FieldData(kFunDescription), kFunDescriptionSize));
  window_.Use(kUfForumLink, UfoCString(file.FieldData(kFunForumLink), kFunForumLinkSize));
  window_.Use(kUfFullCode, UfoByte(file.FieldData(kFunFullCode)));
  if (file.memo_values.size() <= static_cast<size_t>(kFunExampleCode)) {
    file.memo_values.resize(kFunExampleCode + 1);
  }
  window_.Use(kUfExampleCode, UfoMemo(&file.memo_values[kFunExampleCode], kFunExampleCodeSize));
  window_.Display();
}

void UpdateFunctionsForm::Ask() {
  switch (REQUEST) {
    case kViewRecord:
      action_message_ = kCaptionView;
      break;
    case kInsertRecord:
      action_message_ = kCaptionInsert;
      break;
    case kChangeRecord:
      action_message_ = kCaptionChange;
      break;
    default:
      break;
  }
  if (!action_message_.empty()) window_.SetCaption(action_message_);
  WindowManager::Ask();
}

int UpdateFunctionsForm::Run() {
  int response = WindowManager::Run();
  return REQUEST == kViewRecord ? kRequestCancelled : response;
}

Severity UpdateFunctionsForm::Kill() {
  Severity s = WindowManager::Kill();
  if (s == SeverityNone && FILESOPENED) FuncRelate->Close();
  FILESOPENED = 0;
  links_.Kill();
  if (name_pushed_) AppErrors->PopProcedureName();
  name_pushed_ = false;
  return s;
}

bool UpdateFunctionsForm::TextsFit() {
  for (const TextField& f : kTextFields) {
    const size_t bytes = window_.Text(f.control).size();
    if (bytes <= f.capacity) continue;
    MessageBox("The " + std::string(f.what) + " is " + std::to_string(bytes) +
                   " bytes long; it holds at most " + std::to_string(f.capacity) +
                   " bytes.|Shorten it before saving: nothing has been cut.",
               kTooLongCaption, kIconExclamation, kButtonOk);
    window_.Select(f.control);
    return false;
  }
  return true;
}

Severity UpdateFunctionsForm::HandleAccepted() {
  const int32_t control = ThisEvent().control;
  if (control == kUfOk && REQUEST != kViewRecord && !TextsFit()) return SeverityInform;
  Severity s = WindowManager::HandleAccepted();
  if (control == kUfOk && REQUEST == kViewRecord && !BATCHPROCESSING) {
    PostToWindow(EVENT::CloseWindow);
  }
  return s;
}

Severity UpdateFunctionsForm::HandleEvent() {
  links_.TakeEvent();  // its answer is not used
  return WindowManager::HandleEvent();
}

Severity UpdateFunctionsForm::HandleWindowEvent() {
  Severity s = WindowManager::HandleWindowEvent();
  if (ThisEvent().code == EVENT::OpenWindow) links_.PrepareControls();
  return s;
}

}  // namespace

const WindowDef& UpdateFunctionsWindow() {
  static const WindowDef def = MakeWindow();
  return def;
}

void update_functions() {
  UpdateFunctionsForm form;
  LastResponse = static_cast<uint8_t>(form.Run());
}

}  // namespace qzr
