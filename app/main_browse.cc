// Main, the functions browse (see main_browse.h).

#include "app/main_browse.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/main_window_def.h"
#include "app/update_functions.h"
#include "runtime/core/text.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/ufo.h"
#include "runtime/values/ufo_memo.h"
#include "ui/message.h"

namespace qzr {
namespace {

UpdateProcedure g_update_procedure = nullptr;

// `text` without an incomplete UTF-8 sequence at its end (a fixed-size
// variable that kept the first bytes of a character and not the rest).
std::string_view WholeCharacters(std::string_view text) {
  size_t start = text.size();
  // The last lead byte among the final four.
  for (size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const auto c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) != 0x80) {
      start = text.size() - back;
      break;
    }
  }
  if (start == text.size()) return text;
  const auto lead = static_cast<unsigned char>(text[start]);
  const size_t need = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
  return text.size() - start < need ? text.substr(0, start) : text;
}

// "1,2,3": whole numbers separated by commas (blanks around them allowed);
// false for anything else, or for more than 64 of them.
bool ParseNumbers(std::string_view text, std::vector<int>* numbers) {
  numbers->clear();
  const char* p = text.data();
  const char* end = text.data() + text.size();
  while (true) {
    while (p < end && *p == ' ') ++p;
    int value = 0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || next == p || numbers->size() >= 64) return false;
    numbers->push_back(value);
    p = next;
    while (p < end && *p == ' ') ++p;
    if (p == end) return true;
    if (*p != ',') return false;
    ++p;
  }
}

// "x,y,width,height" -> rect; false for anything else.
bool ParseRect(std::string_view text, Rect* rect) {
  std::vector<int> v;
  if (!ParseNumbers(text, &v) || v.size() != 4) return false;
  *rect = {v[0], v[1], v[2], v[3]};
  return true;
}

}  // namespace

void SetMainUpdateProcedure(UpdateProcedure procedure) {
  g_update_procedure = procedure;
}

// ---------------------------------------------------------------------------
// The list queue

MainListQueue::MainListQueue() {
  Field("FUN:FULLCODE", &MainListRow::FULLCODE);
  Field("FUN:FULLCODE_ICON", &MainListRow::FULLCODE_ICON);
  Field("FUN:NAME", &MainListRow::NAME, TypeCode::CSTRING);
  Field("FUN:DESCRIPTION", &MainListRow::DESCRIPTION, TypeCode::CSTRING);
  Field("FUN:EXAMPLECODE", &MainListRow::EXAMPLECODE);
  Field("FUN:FORUMLINK", &MainListRow::FORUMLINK, TypeCode::CSTRING);
  Field("FUN:ID", &MainListRow::ID);
  Field("MARK", &MainListRow::MARK);
  Field("VIEWPOSITION", &MainListRow::VIEWPOSITION);
}

// ---------------------------------------------------------------------------
// The browse

RecordStatus MainBrowse::ValidateRecord() {
  const RecordStatus status = BrowseManager::ValidateRecord();
  if (status != RecordStatus::kOk) return status;
  const FileDescriptor* func = PrimaryDescriptor();
  if (func == nullptr) return status;
  return QuickFindPasses(*func, find_) ? RecordStatus::kOk : RecordStatus::kFiltered;
}

Severity MainBrowse::Fetch(int direction) {
  // One look at the program-wide settings per fetch, not per record; a find
  // that does not look into the code leaves the code of the rows it drops
  // unread.
  find_ = GlobalQuickFind();
  SetRecordFilterReadsMemos(QuickFindReadsCode(find_));
  return BrowseManager::Fetch(direction);
}

void MainBrowse::FillListRow() {
  BrowseManager::FillListRow();
  MainListRow& row = main_->ListQueue().record;
  row.FULLCODE_ICON = row.FULLCODE == 1 ? 1 : 2;
}

void MainBrowse::RefillList(int mode) {
  BrowseManager::RefillList(mode);
  if (LOADPENDING || LISTQUEUE->Records() != 0 || !main_->FindActive()) return;
  MessageBox(kNoMatchesText, kNoMatchesCaption, kIconExclamation, kButtonOk, kButtonOk);
  // Switching the find off lists every entry again.
  main_->ToggleFind();
}

void MainSortHeader::ApplyOrder(std::string_view order) {
  if (FORCEFINDRECORD) {
    browse_->SetSortText(order);
  } else {
    browse_->SelectOrderText(order);
    browse_->RefillList(kRefillFromStart);
  }
  browse_->RefreshDisplay();
}

// ---------------------------------------------------------------------------
// The window

MainWindow::MainWindow()
    : window_(MainWindowDef()),
      queue_(std::make_unique<MainListQueue>()),
      browse_(this),
      sort_(&browse_) {}

MainWindow::~MainWindow() {
  MainWindow::Kill();
}

Severity MainWindow::Init() {
  AppErrors->PushProcedureName(kMainProcedureName);
  pushed_name_ = true;
  REQUEST = PendingRequest;
  if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
  FIRSTFIELD = kMainFindButton;
  VCRREQUEST = &NavRequest;
  ERRORS = AppErrors;
  PendingRequest = 0;
  LastResponse = 0;
  AddButton(kMainClose, REQUEST == kSelectRecord ? kRequestCancelled : kRequestCompleted);

  // Errors opening FUNC are the file manager's to report; the window opens
  // all the same (with an empty list).
  if (FuncRelate != nullptr) {
    FuncRelate->Open();
    files_opened_ = true;
    FILESOPENED = 1;
  }

  FileDescriptor& func = FUNC();
  BuildFunctionsView(&func, &view_);
  engine_ = std::make_unique<ViewEngine>(&view_);
  rows_ = std::make_unique<BrowseListRows>(queue_.get(), 9, std::vector<FileDescriptor*>{&func});
  rows_->AddField(&func, kFunFullCode, 1);
  rows_->AddField(&func, kFunName, 3);
  rows_->AddField(&func, kFunDescription, 4);
  rows_->AddMemo(&func, kFunExampleCode, 5);
  rows_->AddField(&func, kFunForumLink, 6);
  rows_->AddField(&func, kFunId, 7);
  browse_.Init(kMainList, engine_.get(), rows_.get(), FuncRelate, this, &view_);
  if (REQUEST != kViewRecord) {
    browse_.INSERTCONTROL = kMainInsert;
    browse_.CHANGECONTROL = kMainChange;
    browse_.DELETECONTROL = kMainDelete;
  }
  AddItem(&browse_);

  // Query by example over the entry's fields; saved queries under "Main".
  query_.Init(AppIni, kMainProcedureName, AppErrors);
  query_.AddQueryField("FUN:NAME", "Title", "@s99");
  query_.AddQueryField("FUN:DESCRIPTION", "Description", "@s255");
  query_.AddQueryField("FUN:FORUMLINK", "Forum Link", "@s254");
  query_.AddQueryField("FUN:USER", "Posted by", "@s29");
  query_.AddQueryField("FUN:ID", "Number", "@n-14");
  query_.AddQueryField("FUN:FULLCODE", "Complete", "@n3");
  browse_.QUERY = &query_;

  if (Severity s = Open(&window_); s != SeverityNone) return s;

  // The quick find starts off, ignoring case and searching the code.
  ignore_case_ = 1;
  include_memo_ = 1;
  find_text_.clear();
  std::memset(find_entry_, ' ', sizeof find_entry_);
  find_active_ = 0;
  ClearGlobalQuickFind();
  window_.SetText(kMainFindButton, kMainFindOff);

  // The browse: its one order (the file's own), icons, fields and procedure.
  browse_.AddSortOrder(-1);
  browse_.Open();
  window_.From(kMainList, queue_.get());
  window_.SetIcon(kMainList, 1, kMainIconComplete);
  window_.SetIcon(kMainList, 2, kMainIconOther);
  browse_.ASKPROCEDURE = 1;

  window_.Use(kMainFindEntry, UfoString(find_entry_, sizeof find_entry_));
  window_.Use(kMainIgnoreCase, UfoByte(&ignore_case_));
  window_.Use(kMainIncludeMemo, UfoByte(&include_memo_));
  window_.Use(kMainCode, UfoMemo(&func.memo_values[static_cast<size_t>(kFunExampleCode)],
                                 kFunExampleCodeSize));
  window_.Use(kMainUser, UfoCString(func.FieldData(kFunUser), kFunUserSize));
  window_.Use(kMainDescription, UfoCString(func.FieldData(kFunDescription), kFunDescriptionSize));
  window_.Use(kMainForumLink, UfoCString(func.FieldData(kFunForumLink), kFunForumLinkSize));

  RegisterKeys();

  // The list sorts by a clicked header, strings without regard to case;
  // the order comes back as the user left it.
  sort_.NOCASE = 1;
  sort_.USEPICTUREFORCASE = 1;
  sort_.Init(&window_, kMainList, queue_.get(), &browse_, kFunPId,
             AppIni != nullptr ? AppIni->FILENAME : std::string(), kMainProcedureName);

  resizer_.Init(&window_, kAppStrategySpread, true, false);
  SetUpResizer();
  RestoreWindowSettings();
  return SeverityNone;
}

void MainWindow::SetUpResizer() {
  // The list takes the extra width and half the extra height; the panel
  // below it the other half, split between the code and the description
  // column; the find controls stay at the top left, the buttons at the
  // bottom right.
  constexpr uint16_t kTopLeft = kResizeFixLeft | kResizeFixTop;
  constexpr uint16_t kLocked = kResizeLockWidth | kResizeLockHeight;
  constexpr uint16_t kFill = kResizeConstantRight | kResizeConstantBottom;
  constexpr uint16_t kBelowList = kResizeMoveCenterY;
  constexpr uint16_t kRightColumn = kResizeMoveCenterX | kResizeMoveCenterY;
  resizer_.SetStrategy(kMainSheet, kTopLeft, kFill);
  resizer_.SetStrategy(kMainTab, kTopLeft, kFill);
  for (int c :
       {kMainFindButton, kMainFindPrompt, kMainFindEntry, kMainIgnoreCase, kMainIncludeMemo}) {
    resizer_.SetStrategy(c, kTopLeft, kLocked);
  }
  resizer_.SetStrategy(kMainList, kTopLeft, kResizeConstantRight | kResizeHalfHeight);
  if (sort_.REGIONCONTROL != 0) {
    resizer_.SetStrategy(sort_.REGIONCONTROL, kTopLeft, kResizeConstantRight | kResizeLockHeight);
  }
  resizer_.SetStrategy(kMainCode, kResizeFixLeft | kBelowList,
                       kResizeHalfWidth | kResizeConstantBottom);
  resizer_.SetStrategy(kMainPostedByLabel, kRightColumn, kLocked);
  resizer_.SetStrategy(kMainUser, kRightColumn, kResizeConstantRight | kResizeLockHeight);
  resizer_.SetStrategy(kMainDescription, kRightColumn, kFill);
  resizer_.SetStrategy(kMainForumLink, kResizeMoveCenterX | kResizeFixBottom,
                       kResizeConstantRight | kResizeLockHeight);
  for (int c : {kMainInsert, kMainChange, kMainDelete, kMainClose}) {
    resizer_.SetStrategy(c, kResizeFixRight | kResizeFixBottom, kLocked);
  }
}

Severity MainWindow::Kill() {
  Severity s = SeverityInform;
  if (Live()) {
    resizer_.Kill();
    s = WindowManager::Kill();
    if (s == SeverityNone && files_opened_) {
      if (FuncRelate != nullptr) FuncRelate->Close();
      files_opened_ = false;
      sort_.Kill();
    }
    browse_.QUERY = nullptr;
    query_.Kill();
  }
  if (pushed_name_) {
    ClearGlobalQuickFind();
    AppErrors->PopProcedureName();
    pushed_name_ = false;
  }
  return s;
}

int MainWindow::RunProcedure(int32_t number, int32_t request) {
  if (REQUEST == kViewRecord) return kRequestCancelled;
  PendingRequest = static_cast<uint8_t>(request);
  UpdateProcedure procedure =
      g_update_procedure != nullptr ? g_update_procedure : &update_functions;
  procedure();
  return LastResponse;
}

void MainWindow::RegisterKeys() {
  WindowManager::RegisterKeys();
}

Severity MainWindow::HandleEvent() {
  const Event& e = ThisEvent();
  if (sort_.TakeEvent(e)) return SeverityInform;
  if (e.is_window_event()) {
    resizer_.TakeEvent(e.code);
    // The window's size and place and the column widths, while the window
    // still has them.
    if (e.code == EVENT::CloseWindow || e.code == EVENT::CloseDown) SaveWindowSettings();
  }
  return WindowManager::HandleEvent();
}

Severity MainWindow::HandleAccepted() {
  const Severity s = WindowManager::HandleAccepted();
  switch (ThisEvent().control) {
    case kMainFindButton:
      Update();
      ToggleFind();
      break;
    case kMainFindEntry:
      TakeFindEntry();
      break;
    case kMainIgnoreCase:
    case kMainIncludeMemo:
      // The check boxes are the flags themselves: find again with them.
      if (find_active_) {
        TakeFindEntry();
      } else {
        PublishFind();
      }
      break;
    default:
      break;
  }
  return s;
}

// ---------------------------------------------------------------------------
// The quick find

void MainWindow::PublishFind() {
  QuickFindSettings s = MakeQuickFind(find_text_, ignore_case_ != 0, include_memo_ != 0);
  s.active = find_active_ != 0;
  SetGlobalQuickFind(s);
}

void MainWindow::TakeFindEntry() {
  const std::string entry(
      TrimRight(WholeCharacters(std::string_view(find_entry_, sizeof find_entry_)), kSpaces));
  find_text_ = ignore_case_ ? LocaleUpper(entry) : entry;
  PublishFind();
  if (find_active_ && !TrimRight(find_text_, kSpaces).empty()) {
    window_.Select(kMainList);
    browse_.RefillList(kRefillFromStart);
    browse_.RefreshDisplay();
  }
}

void MainWindow::ToggleFind() {
  if (find_active_) {
    find_active_ = 0;
    std::memset(find_entry_, ' ', sizeof find_entry_);
    find_text_.clear();
    window_.SetText(kMainFindButton, kMainFindOff);
  } else {
    find_active_ = 1;
    if (ignore_case_) {
      find_text_ = LocaleUpper(find_text_);
      const std::string_view shown = WholeCharacters(Utf8Cut(find_text_, kFindEntrySize));
      std::memset(find_entry_, ' ', sizeof find_entry_);
      std::memcpy(find_entry_, shown.data(), shown.size());
    }
    window_.SetText(kMainFindButton, kMainFindOn);
  }
  window_.Display(kMainFindEntry);
  PublishFind();
  if (find_active_ && TrimRight(find_text_, kSpaces).empty()) {
    window_.Select(kMainFindEntry);
    return;
  }
  window_.Select(kMainList);
  browse_.RefillList(kRefillFromStart);
  browse_.RefreshDisplay();
}

// ---------------------------------------------------------------------------
// The window's size and place

void MainWindow::RestoreWindowSettings() {
  if (AppIni == nullptr) return;
  // The column widths, when the entry names one for every column.
  std::vector<int> widths;
  if (ParseNumbers(AppIni->Fetch(kMainProcedureName, kMainColumnsEntry), &widths) &&
      widths.size() == window_.ColumnWidths(kMainList).size() &&
      std::all_of(widths.begin(), widths.end(), [](int w) { return w >= 1 && w <= 10000; })) {
    window_.SetColumnWidths(kMainList, widths);
  }
  Rect r;
  if (!ParseRect(AppIni->Fetch(kMainProcedureName, kMainWindowEntry), &r)) return;
  const WindowDef& def = MainWindowDef();
  // A size below the minimum, or a place far off any screen, is not used.
  constexpr int kFar = 100000;
  if (r.width < def.at.width || r.height < def.at.height || r.width > kFar || r.height > kFar ||
      r.x < -kFar || r.x > kFar || r.y < -kFar || r.y > kFar) {
    return;
  }
  window_.SetPosition(0, r);
  resizer_.Resize();
}

void MainWindow::SaveWindowSettings() {
  if (AppIni == nullptr) return;
  std::string widths;
  for (int w : window_.ColumnWidths(kMainList)) {
    if (!widths.empty()) widths += ',';
    widths += std::to_string(w);
  }
  AppIni->Update(kMainProcedureName, kMainColumnsEntry, widths);
  // An iconized or maximized window keeps the size it had before.
  if (window_.State() != WindowState::kNormal) return;
  const Rect r = window_.Position(0);
  // A settings file that cannot be written only means the next run opens
  // at the resource's size.
  AppIni->Update(kMainProcedureName, kMainWindowEntry,
                 std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) +
                     "," + std::to_string(r.height));
}

// ---------------------------------------------------------------------------

void Main() {
  auto window = std::make_unique<MainWindow>();
  LastResponse = static_cast<uint8_t>(window->Run());
}

}  // namespace qzr
