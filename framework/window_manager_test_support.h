// Test support for the window manager's tests: the catalogue's file over
// the real storage driver (through a counting driver, so a test can say how
// many driver calls something made), and a small update form built the way
// the program builds its own.
//
// Threads: the tests run one form at a time on the test's thread.

#ifndef QZR_FRAMEWORK_WINDOW_MANAGER_TEST_SUPPORT_H_
#define QZR_FRAMEWORK_WINDOW_MANAGER_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/file_manager_internal.h"
#include "framework/file_registry.h"
#include "framework/func_test_declaration.h"
#include "framework/relation_manager.h"
#include "framework/window_manager.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_memo.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr::testing {

// The storage driver, with every call counted.
inline constexpr char kCallCountingDriverName[] = "COUNTPLX";

class CallCountingDriver : public FileDriver {
 public:
  CallCountingDriver() {
    inner_ = FindDriver(kPalisadeDriverName);
    info_ = inner_->Info();
    info_.name = kCallCountingDriverName;
  }
  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    ++calls;
    if (op == FileOp::PUT) ++puts;
    if (op == FileOp::ADD) ++adds;
    return inner_->Call(op, file, args);
  }
  const DriverInfo& Info() const override { return info_; }

  static CallCountingDriver& Instance() {
    static CallCountingDriver* driver = [] {
      RegisterPalisadeDriver();
      auto d = std::make_unique<CallCountingDriver>();
      CallCountingDriver* raw = d.get();
      RegisterDriver(std::move(d));
      return raw;
    }();
    return *driver;
  }

  std::atomic<int64_t> calls{0};
  std::atomic<int64_t> puts{0};
  std::atomic<int64_t> adds{0};

 private:
  FileDriver* inner_ = nullptr;
  DriverInfo info_;
};

// The catalogue's file at `path`.
inline FileDescriptor FuncAt(const std::string& path) {
  return FuncTestDeclaration(path, kCallCountingDriverName).Build();
}

inline int32_t GetId(FileDescriptor& f) {
  UfoSlot s;
  return s.Make(TypeCode::LONG, f.FieldData(f.FieldIndex("ID")))->GetLong();
}
inline void SetId(FileDescriptor& f, int32_t v) {
  UfoSlot s;
  s.Make(TypeCode::LONG, f.FieldData(f.FieldIndex("ID")))->SetLong(v);
}
inline std::string GetText(FileDescriptor& f, const char* label) {
  int i = f.FieldIndex(label);
  UfoSlot s;
  char buf[1100];
  size_t n = s.Make(TypeCode::CSTRING, f.FieldData(i), f.fields[static_cast<size_t>(i)].size)
                 ->GetText(buf, sizeof buf);
  return std::string(buf, std::min(n, sizeof buf));
}
inline void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  int i = f.FieldIndex(label);
  UfoSlot s;
  s.Make(TypeCode::CSTRING, f.FieldData(i), f.fields[static_cast<size_t>(i)].size)->SetText(v);
}

// Controls of the test form.
inline constexpr int kNamePrompt = 1;
inline constexpr int kName = 2;
inline constexpr int kDescription = 3;
inline constexpr int kCode = 4;
inline constexpr int kFullCode = 5;
inline constexpr int kOk = 6;
inline constexpr int kCancel = 7;
inline constexpr int kNested = 8;

inline WindowDef FormDef() {
  WindowDef def;
  def.resource = "test$form";
  def.name = "P1$QUICKWINDOW";
  def.caption = "Update Information";
  def.font = "Arial";
  def.at = Rect{0, 0, 300, 200};
  def.resizable = true;
  auto add = [&def](int number, ControlKind kind, std::string name, std::string text,
                    std::string picture = {}) {
    ControlDef c;
    c.number = number;
    c.kind = kind;
    c.name = std::move(name);
    c.text = std::move(text);
    c.picture = std::move(picture);
    c.at = Rect{4, 4 + 16 * (number - 1), 200, 12};
    def.controls.push_back(c);
  };
  add(kNamePrompt, ControlKind::kPrompt, "?FUN:NAME:PROMPT", "Title");
  add(kName, ControlKind::kEntry, "?FUN:NAME", "", "@s99");
  add(kDescription, ControlKind::kText, "?FUN:DESCRIPTION", "");
  add(kCode, ControlKind::kText, "?FUN:EXAMPLECODE", "");
  add(kFullCode, ControlKind::kCheck, "?FUN:FULLCODE", "Working Code (Complete Example)");
  add(kOk, ControlKind::kButton, "?OK", "&Save");
  add(kCancel, ControlKind::kButton, "?CANCEL", "&Cancel");
  add(kNested, ControlKind::kButton, "?NESTED", "&More");
  return def;
}

// An update form over the file, set up as the program's form is: the title,
// description, code and check box bound to the record (the code is the
// memo), Ctrl+H recalls the title and the code, Cancel ends cancelled.
class TestForm : public WindowManager {
 public:
  TestForm(uint8_t request, RelationManager* relate, ErrorManager* errors, HistoryCopy* history)
      : def_(FormDef()), window_(def_), relate_(relate), errors_(errors), history_(history) {
    REQUEST = request;
  }

  Severity Init() override {
    if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
    FIRSTFIELD = kName;
    ERRORS = errors_;
    HISTORYKEY = kKeyCtrlH;
    FileDescriptor* file = relate_->ME->FILE;
    if (history_ != nullptr) {
      RegisterHistoryRecord(file, history_);
      RegisterHistoryField(kName, 2);
      RegisterHistoryField(kFullCode, 4);
      RegisterHistoryField(kCode, 7);
    }
    RegisterUpdateFile(relate_->ME);
    AddButton(kCancel, kRequestCancelled);
    PRIMARY = relate_;
    if (REQUEST == kViewRecord) {
      INSERTACTION = 1;
      DELETEACTION = 1;
      CHANGEACTION = 1;
      CANCELACTION = 0;
      OKCONTROL = 0;
    } else {
      OKCONTROL = kOk;
      if (configure) configure(*this);
      if (PrepareRequest() != SeverityNone) return SeverityInform;
    }
    if (Severity s = Open(&window_); s != SeverityNone) return s;
    UfoSlot name, description, fullcode;
    window_.Use(kName,
                *name.Make(TypeCode::CSTRING, file->FieldData(file->FieldIndex("NAME")), 100));
    window_.Use(kDescription,
                *description.Make(TypeCode::CSTRING,
                                  file->FieldData(file->FieldIndex("DESCRIPTION")), 1024));
    window_.Use(kFullCode,
                *fullcode.Make(TypeCode::BYTE, file->FieldData(file->FieldIndex("FULLCODE"))));
    BindMemo(kCode, &file->memo_values[0]);
    if (REQUEST == kViewRecord) window_.SetReadOnly(kName, true);
    for (WindowComponent* c : components) AddItem(c);
    RegisterKeys();
    return SeverityNone;
  }

  Severity HandleAccepted() override {
    Severity s = WindowManager::HandleAccepted();
    if (ThisEvent().control == kOk && REQUEST == kViewRecord) PostToWindow(EVENT::CloseWindow);
    if (ThisEvent().control == kNested && nested) nested(*this);
    return s;
  }

  Window& window() { return window_; }

  // Binds the code control to the memo's contents.
  void BindMemo(int control, std::string* memo) { window_.Use(control, UfoMemo(memo, 64000)); }

  // Run before PrepareRequest (the request's actions).
  std::function<void(TestForm&)> configure;
  // Run when ?NESTED is accepted.
  std::function<void(TestForm&)> nested;
  std::vector<WindowComponent*> components;

 private:
  WindowDef def_;
  Window window_;
  RelationManager* relate_;
  ErrorManager* errors_;
  HistoryCopy* history_;
};

// A component that counts what the manager asks of it.
class CountingComponent : public WindowComponent {
 public:
  void Kill() override { ++kills; }
  void Reset(bool force) override {
    ++resets;
    if (force) ++forced_resets;
  }
  bool NeedsReset() override {
    ++needs_reset_asked;
    return want_reset;
  }
  void RegisterKeys() override { ++keys_registered; }
  Severity HandleEvent() override {
    events.push_back(CurrentEvent());
    return answer;
  }
  void Update() override { ++updates; }
  void RefreshDisplay() override { ++refreshes; }

  int kills = 0, resets = 0, forced_resets = 0, needs_reset_asked = 0, keys_registered = 0;
  int updates = 0, refreshes = 0;
  bool want_reset = false;
  Severity answer = SeverityNone;
  std::vector<int32_t> events;
};

// The fixture: a fresh catalogue file, its managers open, the scripted user
// installed, the error manager with a halt hook.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CallCountingDriver::Instance();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([this](int code) { halts_.push_back(code); });
    errors_.Init();
    FileRegistry::Instance().SetErrorManager(&errors_);
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
    file_ = FuncAt(dir_.File("FUNC.PLX"));
    fm_.Init(&file_, &errors_);
    fm_.FILENAMEVALUE = "func";
    fm_.CREATE = 1;
    fm_.LOCKRECOVER = 10;
    fm_.RegisterKey("P_ID", "FUN:P_ID", 1);
    rm_.Init(&fm_);
    ASSERT_EQ(rm_.Open(), SeverityNone);
  }
  void TearDown() override {
    rm_.Close();
    rm_.Kill();
    fm_.Kill();
    FileRegistry::Instance().SetErrorManager(nullptr);
    errors_.Kill();
    FileStatus().Clear();
  }

  // Adds a record with `name` and `code`; returns its number.
  int32_t AddRecord(const std::string& name, const std::string& code = {}) {
    internal::ClearRecord(&file_);
    SetText(file_, "NAME", name);
    file_.memo_values[0] = code;
    EXPECT_EQ(fm_.Insert(), SeverityNone);
    return GetId(file_);
  }
  // Reads record `id` into the buffer; false when there is none.
  bool Read(int32_t id) {
    SetId(file_, id);
    return fm_.Fetch(0) == SeverityNone;
  }
  // The names of all records in key order.
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    uint16_t saved = fm_.SaveRecordBuffer();
    FileArgs a;
    a.key = 0;
    DoFileOp(FileOp::SETkey, file_, a);
    while (fm_.ReadNext(false) == SeverityNone) out.push_back(GetText(file_, "NAME"));
    fm_.RestoreRecordBuffer(saved, true);
    return out;
  }
  std::vector<std::string> MessageTitles() {
    std::vector<std::string> out;
    for (const auto& m : ui_.Messages()) out.push_back(m.request.caption);
    return out;
  }

  palisade::test::TempDir dir_;
  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  ErrorManager errors_;
  std::vector<int> halts_;
  FileDescriptor file_;
  FileManager fm_;
  RelationManager rm_;
  HistoryCopy history_;
};

}  // namespace qzr::testing

#endif  // QZR_FRAMEWORK_WINDOW_MANAGER_TEST_SUPPORT_H_
