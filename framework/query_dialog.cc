#include "framework/query_dialog.h"

#include <algorithm>
#include <cstring>

#include "framework/query_manager.h"
#include "runtime/core/text.h"
#include "runtime/values/queue.h"
#include "ui/event.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/window.h"

namespace qzr {
namespace {

// Layout, in dialog units.
constexpr int kMargin = 4;
constexpr int kRowHeight = 14;
constexpr int kEntryHeight = 12;
constexpr int kTitleWidth = 70;
constexpr int kEntryWidth = 80;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kTabTop = 18;  // below the tab strip
constexpr uint32_t kNameSize = kMaxQueryName + 1;

bool IsEntryControl(int control, int fields) {
  if (control < kQbeFieldBase) return false;
  const int offset = (control - kQbeFieldBase) % 4;
  return offset != 0 && (control - kQbeFieldBase) / 4 < fields;
}

}  // namespace

WindowDef QueryDialogDef(const QueryManager& query) {
  const int fields = static_cast<int>(query.Fields().size());
  const int inner_width = kTitleWidth + 3 * (kEntryWidth + kMargin) + kMargin;
  const int rows_height = kTabTop + kRowHeight * (fields + 1) + kMargin;
  const int list_height = 90;
  const int sheet_height = std::max(rows_height, kTabTop + list_height + kRowHeight + kMargin * 3);
  const int sheet_width = inner_width + 2 * kMargin;

  WindowDef def;
  def.resource = kQueryDialogResource;
  def.name = kQueryDialogResource;
  def.caption = kQueryDialogCaption;
  def.font = "MS Sans Serif";
  def.font_size = 8;
  def.at = Rect{0, 0, sheet_width + 2 * kMargin, sheet_height + kButtonHeight + 3 * kMargin};
  def.modal = true;

  const int sx = kMargin, sy = kMargin;
  def.controls.push_back(MakeControl(kQbeSheet, ControlKind::kSheet, "?QBE:SHEET", "",
                                     Rect{sx, sy, sheet_width, sheet_height}));
  // Saved queries.
  def.controls.push_back(MakeControl(kQbeSavedTab, ControlKind::kTab, "?QBE:SAVEDTAB",
                                     "Saved Queries", Rect{sx, sy, sheet_width, sheet_height},
                                     kQbeSheet));
  const int tx = sx + kMargin, ty = sy + kTabTop;
  ControlDef list = MakeControl(kQbeSavedList, ControlKind::kList, "?QBE:SAVEDLIST", "",
                                Rect{tx, ty, inner_width - kButtonWidth - kMargin, list_height},
                                kQbeSavedTab, kControlVScroll | kControlFullWidth);
  list.format = "160L(2)|M~Name~@s99@";
  list.tip = "Saved queries";
  def.controls.push_back(list);
  const int bx = tx + inner_width - kButtonWidth;
  def.controls.push_back(MakeControl(kQbeNamePrompt, ControlKind::kPrompt, "?QBE:NAME:PROMPT",
                                     "&Name:", Rect{tx, ty + list_height + kMargin + 2, 30, 10},
                                     kQbeSavedTab));
  ControlDef name = MakeControl(kQbeName, ControlKind::kEntry, "?QBE:NAME", "",
                                Rect{tx + 32, ty + list_height + kMargin,
                                     inner_width - kButtonWidth - kMargin - 32, kEntryHeight},
                                kQbeSavedTab);
  name.picture = "@s99";
  def.controls.push_back(name);
  def.controls.push_back(MakeControl(kQbeSave, ControlKind::kButton, "?QBE:SAVE", "&Save",
                                     Rect{bx, ty, kButtonWidth, kButtonHeight}, kQbeSavedTab));
  def.controls.push_back(MakeControl(
      kQbeRestore, ControlKind::kButton, "?QBE:RESTORE", "&Restore",
      Rect{bx, ty + kButtonHeight + kMargin, kButtonWidth, kButtonHeight}, kQbeSavedTab));
  def.controls.push_back(MakeControl(
      kQbeDelete, ControlKind::kButton, "?QBE:DELETE", "De&lete",
      Rect{bx, ty + 2 * (kButtonHeight + kMargin), kButtonWidth, kButtonHeight}, kQbeSavedTab));
  // Query settings.
  def.controls.push_back(MakeControl(kQbeSettingsTab, ControlKind::kTab, "?QBE:SETTINGSTAB",
                                     "Query Settings", Rect{sx, sy, sheet_width, sheet_height},
                                     kQbeSheet));
  const int x_low = tx + kTitleWidth + kMargin;
  const int x_middle = x_low + kEntryWidth + kMargin;
  const int x_high = x_middle + kEntryWidth + kMargin;
  def.controls.push_back(MakeControl(kQbeColumnHeading, ControlKind::kString, "?QBE:COLUMN",
                                     "Column", Rect{tx, ty, kTitleWidth, 10}, kQbeSettingsTab));
  def.controls.push_back(MakeControl(kQbeLowHeading, ControlKind::kString, "?QBE:FROM", "From",
                                     Rect{x_low, ty, kEntryWidth, 10}, kQbeSettingsTab));
  def.controls.push_back(MakeControl(kQbeMiddleHeading, ControlKind::kString, "?QBE:EXAMPLE",
                                     "Example", Rect{x_middle, ty, kEntryWidth, 10},
                                     kQbeSettingsTab));
  def.controls.push_back(MakeControl(kQbeHighHeading, ControlKind::kString, "?QBE:TO", "To",
                                     Rect{x_high, ty, kEntryWidth, 10}, kQbeSettingsTab));
  // Buttons below the sheet.
  const int by = sy + sheet_height + kMargin;
  const int right = sx + sheet_width;
  def.controls.push_back(
      MakeControl(kQbeOk, ControlKind::kButton, "?OK", "&OK",
                  Rect{right - 3 * kButtonWidth - 2 * kMargin, by, kButtonWidth, kButtonHeight}, 0,
                  kControlDefault));
  def.controls.push_back(
      MakeControl(kQbeCancel, ControlKind::kButton, "?CANCEL", "&Cancel",
                  Rect{right - 2 * kButtonWidth - kMargin, by, kButtonWidth, kButtonHeight}));
  def.controls.push_back(MakeControl(kQbeClear, ControlKind::kButton, "?CLEAR", "C&lear",
                                     Rect{right - kButtonWidth, by, kButtonWidth, kButtonHeight}));
  for (int i = 1; i <= fields; ++i) {
    const QueryField& f = query.Fields()[static_cast<size_t>(i - 1)];
    const int y = ty + kRowHeight * i;
    const std::string n = std::to_string(i);
    def.controls.push_back(MakeControl(kQbeFieldBase + 4 * (i - 1), ControlKind::kString,
                                       "?QBE:TITLE" + n, f.TITLE.empty() ? f.NAME : f.TITLE,
                                       Rect{tx, y + 2, kTitleWidth, 10}, kQbeSettingsTab));
    def.controls.push_back(MakeControl(QbeLowControl(i), ControlKind::kEntry, "?QBE:LOW" + n, "",
                                       Rect{x_low, y, kEntryWidth, kEntryHeight}, kQbeSettingsTab));
    def.controls.push_back(MakeControl(QbeMiddleControl(i), ControlKind::kEntry, "?QBE:MIDDLE" + n,
                                       "", Rect{x_middle, y, kEntryWidth, kEntryHeight},
                                       kQbeSettingsTab));
    def.controls.push_back(MakeControl(QbeHighControl(i), ControlKind::kEntry, "?QBE:HIGH" + n, "",
                                       Rect{x_high, y, kEntryWidth, kEntryHeight},
                                       kQbeSettingsTab));
  }
  return def;
}

QueryDialog::QueryDialog(QueryManager* query)
    : query_(query),
      saved_rows_(std::make_unique<QUEUE>(
          kNameSize, std::vector<QueueField>{{"NAME", TypeCode::CSTRING, 0, kNameSize, 0}})) {}

QueryDialog::~QueryDialog() = default;

std::vector<QueryDialog::Entries> QueryDialog::Current() const {
  std::vector<Entries> out;
  for (const QueryField& f : query_->Fields()) out.push_back({f.LOW, f.MIDDLE, f.HIGH});
  return out;
}

void QueryDialog::Store(const std::vector<Entries>& entries) {
  const std::vector<QueryField>& fields = query_->Fields();
  for (size_t i = 0; i < fields.size() && i < entries.size(); ++i) {
    query_->SetQuery(fields[i].NAME, entries[i].middle, entries[i].low, entries[i].high);
  }
}

void QueryDialog::ShowEntries(Window& w, const std::vector<Entries>& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const int n = static_cast<int>(i + 1);
    w.SetText(QbeLowControl(n), entries[i].low);
    w.SetText(QbeMiddleControl(n), entries[i].middle);
    w.SetText(QbeHighControl(n), entries[i].high);
  }
}

std::vector<QueryDialog::Entries> QueryDialog::ReadEntries(const Window& w) const {
  std::vector<Entries> out;
  for (size_t i = 0; i < query_->Fields().size(); ++i) {
    const int n = static_cast<int>(i + 1);
    out.push_back(
        {w.Text(QbeLowControl(n)), w.Text(QbeMiddleControl(n)), w.Text(QbeHighControl(n))});
  }
  return out;
}

bool QueryDialog::CheckAll(Window& w) {
  const std::vector<QueryField>& fields = query_->Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const int n = static_cast<int>(i + 1);
    for (int control : {QbeLowControl(n), QbeMiddleControl(n), QbeHighControl(n)}) {
      const std::string problem = query_->ValidateEntry(fields[i].NAME, w.Text(control));
      if (problem.empty()) continue;
      w.SetChoice(kQbeSheet, 2);
      MessageBox(problem, kQueryMessageCaption, kIconExclamation);
      w.Select(control);
      return false;
    }
  }
  // The entries are readable; the filter they make must also fit.
  const std::vector<Entries> before = Current();
  Store(ReadEntries(w));
  std::string filter, problem;
  const bool ok = query_->BuildFilter(&filter, &problem);
  Store(before);
  if (!ok) {
    MessageBox(problem, kQueryMessageCaption, kIconExclamation);
    return false;
  }
  return true;
}

void QueryDialog::FillSaved(Window& w) {
  saved_ = query_->SavedQueries();
  FREE(saved_rows_.get());
  for (const std::string& name : saved_) {
    std::memset(saved_rows_->buffer(), 0, kNameSize);
    std::memcpy(saved_rows_->buffer(), name.data(), std::min<size_t>(name.size(), kNameSize - 1));
    ADD(saved_rows_.get());
  }
  w.Display(kQbeSavedList);
  if (!saved_.empty() && w.Choice(kQbeSavedList) == 0) w.SetChoice(kQbeSavedList, 1);
  const bool none = saved_.empty();
  w.SetDisabled(kQbeRestore, none);
  w.SetDisabled(kQbeDelete, none);
}

std::string QueryDialog::SelectedSaved(const Window& w) const {
  const int row = w.Choice(kQbeSavedList);
  if (row < 1 || static_cast<size_t>(row) > saved_.size()) return {};
  return saved_[static_cast<size_t>(row - 1)];
}

void QueryDialog::Save(Window& w) {
  std::string name(Trim(w.Text(kQbeName), kSpaces));
  if (name.empty()) name = SelectedSaved(w);
  if (name.empty()) {
    MessageBox("Type a name to save the query under.", kQueryMessageCaption, kIconExclamation);
    w.Select(kQbeName);
    return;
  }
  if (!CheckAll(w)) return;
  const std::vector<Entries> before = Current();
  Store(ReadEntries(w));
  std::string problem;
  const Severity s = query_->SaveQuery(name, &problem);
  Store(before);
  if (s != SeverityNone) {
    MessageBox(problem, kQueryMessageCaption, kIconExclamation);
    return;
  }
  w.SetText(kQbeName, "");
  FillSaved(w);
  w.SetChoice(kQbeSavedList, 1);  // the name just saved comes first
}

void QueryDialog::Restore(Window& w) {
  const std::string name = SelectedSaved(w);
  if (name.empty()) return;
  const std::vector<Entries> before = Current();
  if (query_->RestoreQuery(name) != SeverityNone) {
    MessageBox("The saved query \"" + name + "\" could not be read.", kQueryMessageCaption,
               kIconExclamation);
    FillSaved(w);
    return;
  }
  ShowEntries(w, Current());
  Store(before);
  w.SetChoice(kQbeSheet, 2);
}

void QueryDialog::Delete(Window& w) {
  const std::string name = SelectedSaved(w);
  if (name.empty()) return;
  if (MessageBox("Delete the saved query \"" + name + "\"?", kQueryMessageCaption, kIconQuestion,
                 kButtonYes | kButtonNo, kButtonNo) != kButtonYes) {
    return;
  }
  query_->DeleteQuery(name);
  FillSaved(w);
}

bool QueryDialog::Ask() {
  if (query_ == nullptr) return false;
  const WindowDef def = QueryDialogDef(*query_);
  Window w(def);
  if (!w.Open()) return false;
  const int fields = static_cast<int>(query_->Fields().size());
  // An entry holds what the query field keeps: more cannot be typed.
  for (int n = 1; n <= fields; ++n) {
    for (int control : {QbeLowControl(n), QbeMiddleControl(n), QbeHighControl(n)}) {
      w.SetTextCapacity(control, kMaxQueryEntry);
    }
  }
  w.From(kQbeSavedList, saved_rows_.get());
  ShowEntries(w, Current());
  FillSaved(w);
  w.SetChoice(kQbeSheet, 2);
  if (fields > 0) w.Select(QbeMiddleControl(1));

  bool applied = false;
  Event e;
  while (w.Accept(&e)) {
    bool handled = false;
    if (e.code == EVENT::Accepted) {
      handled = true;
      switch (e.control) {
        case kQbeOk:
          if (CheckAll(w)) {
            Store(ReadEntries(w));
            applied = true;
            w.Close();
          }
          break;
        case kQbeCancel:
          w.Close();
          break;
        case kQbeClear:
          ShowEntries(w, std::vector<Entries>(query_->Fields().size()));
          w.SetChoice(kQbeSheet, 2);
          if (fields > 0) w.Select(QbeMiddleControl(1));
          break;
        case kQbeSave:
          Save(w);
          break;
        case kQbeRestore:
          Restore(w);
          break;
        case kQbeDelete:
          Delete(w);
          break;
        default:
          if (IsEntryControl(e.control, fields)) {
            const QueryField& f =
                query_->Fields()[static_cast<size_t>((e.control - kQbeFieldBase) / 4)];
            const std::string problem = query_->ValidateEntry(f.NAME, w.Text(e.control));
            if (!problem.empty()) {
              MessageBox(problem, kQueryMessageCaption, kIconExclamation);
              w.Select(e.control);
            }
          } else {
            handled = false;
          }
          break;
      }
    } else if (e.code == EVENT::NewSelection && e.control == kQbeSavedList &&
               (e.keycode & kKeyMask) == kMouseLeft2) {
      Restore(w);
      handled = true;
    }
    if (!w.IsOpen()) break;
    if (!handled) w.Default(e);
  }
  w.Close();
  return applied;
}

}  // namespace qzr
