// ViewManager: sort orders, range limits, named filters and the record
// filter over a view (see view_manager.h).

#include "framework/view_manager.h"

#include <algorithm>

#include "data/file_driver.h"
#include "data/order_text.h"
#include "framework/file_manager.h"
#include "framework/file_registry.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/eval_tokenizer.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

// An ID as a STRING(30) keeps it: cut to 30 bytes, trailing blanks not
// significant.
std::string FilterId(std::string_view id) {
  id = id.substr(0, std::min(id.size(), kFilterIdSize));
  return std::string(TrimRight(id, kSpaces));
}

// "UPPER(X)" or "LOWER(X)" -> "X"; anything else unchanged.
std::string StripFold(const std::string& name) {
  if (name.size() < 7 || name.back() != ')') return name;
  if (!StartsWithNoCase(name, "UPPER(") && !StartsWithNoCase(name, "LOWER(")) return name;
  return name.substr(6, name.size() - 7);
}

}  // namespace

// ---------------------------------------------------------------------------
// RangeValue

RangeValue::RangeValue() = default;
RangeValue::~RangeValue() = default;
RangeValue::RangeValue(RangeValue&&) noexcept = default;
RangeValue& RangeValue::operator=(RangeValue&&) noexcept = default;

RangeValue RangeValue::Field(FileDescriptor* file, int field) {
  RangeValue v;
  if (file == nullptr || field < 0 || static_cast<size_t>(field) >= file->fields.size()) return v;
  v.kind_ = Kind::kField;
  v.file_ = file;
  v.field_ = field;
  return v;
}

RangeValue RangeValue::Variable(const UFO& variable) {
  RangeValue v;
  v.kind_ = Kind::kObject;
  v.object_ = variable.Clone();
  return v;
}

RangeValue RangeValue::String(std::string_view text) {
  RangeValue v;
  v.kind_ = Kind::kConstant;
  v.constant_.is_string = true;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  v.constant_.text = std::string(text);
  return v;
}

RangeValue RangeValue::Long(int32_t value) {
  RangeValue v;
  v.kind_ = Kind::kConstant;
  v.constant_.text = std::to_string(value);
  return v;
}

RangeValue RangeValue::Real(double value) {
  RangeValue v;
  v.kind_ = Kind::kConstant;
  v.constant_ = LiteralOf(UfoTempReal(value));
  return v;
}

FilterLiteral RangeValue::Read() const {
  switch (kind_) {
    case Kind::kField: {
      // The buffer may have been given new storage since the range was
      // set: the field object is made over it afresh each time.
      if (file_->fields[static_cast<size_t>(field_)].offset +
              file_->fields[static_cast<size_t>(field_)].size >
          file_->record.size()) {
        return {};
      }
      UfoSlot slot;
      return LiteralOf(*MakeFieldUfo(&slot, *file_, field_));
    }
    case Kind::kObject:
      return LiteralOf(*object_);
    case Kind::kConstant:
      return constant_;
    case Kind::kNone:
      break;
  }
  return {};
}

// ---------------------------------------------------------------------------
// Life cycle

ViewManager::ViewManager() = default;

ViewManager::~ViewManager() {
  if (INITED && !KILLED) ViewManager::Kill();
}

void ViewManager::Init(ViewEngine* view, FileManager* primary, SortOrderQueue* order,
                       const View* declaration) {
  if (INITED && !KILLED) Kill();
  INITED = 1;
  KILLED = 0;
  USED = 0;
  OPENED = 0;
  closes_view_ = false;
  refused_order_.reset();
  refused_filter_.reset();
  VIEW = view;
  PRIMARY = nullptr;
  primary_file_ = primary;
  declaration_ = declaration;
  if (order != nullptr) {
    ORDER = order;
    DISPOSEORDER = 0;
    own_order_.reset();
  } else {
    own_order_ = std::make_unique<SortOrderQueue>();
    ORDER = own_order_.get();
    DISPOSEORDER = 1;
  }
  SAVEDBUFFERS.clear();
  saved_marks_.clear();
  PAGESIZE = kViewPageSize;
  PAGESBEHIND = kViewPagesBehind;
  PAGESAHEAD = kViewPagesAhead;
  TIMEOUT = kViewTimeout;
}

void ViewManager::Init(ViewEngine* view, RelationManager* primary, SortOrderQueue* order,
                       const View* declaration) {
  Init(view, primary != nullptr ? primary->ME : nullptr, order, declaration);
  PRIMARY = primary;
}

void ViewManager::Kill() {
  if (!INITED || KILLED) return;
  Close();
  // Saved buffers still held belong to an operation that never finished;
  // their copies are released, the buffers left as they are.
  for (const SavedViewBuffer& b : SAVEDBUFFERS) {
    if (b.FM != nullptr) b.FM->RestoreRecordBuffer(b.BUFF, false);
  }
  SAVEDBUFFERS.clear();
  saved_marks_.clear();
  if (DISPOSEORDER) {
    own_order_.reset();
    ORDER = nullptr;
    DISPOSEORDER = 0;
  }
  INITED = 0;
  KILLED = 1;
}

Severity ViewManager::Open() {
  if (!INITED || VIEW == nullptr) return SeverityHalt;
  if (!OPENED) {
    // A lazily opened primary file is opened by its first use: the view
    // needs its files open before it can open.
    FileDescriptor* file = PrimaryDescriptor();
    if (primary_file_ != nullptr && file != nullptr && !file->IsOpen()) {
      primary_file_->EnsureUsable(kUseRead);
    }
    const int rc = VIEW->Open();
    if (rc == 0) {
      OPENED = 1;
      closes_view_ = true;
    } else if (rc == kFileAlreadyOpen) {
      // Someone else opened it: use it, leave its closing to them.
      OPENED = 1;
      closes_view_ = false;
    } else {
      ThrowError(kErrViewOpen);
      return SeverityInform;
    }
  }
  ViewBuffering buffering;
  buffering.page_size = PAGESIZE;
  buffering.pages_behind = PAGESBEHIND;
  buffering.pages_ahead = PAGESAHEAD;
  buffering.timeout = TIMEOUT;
  VIEW->SetBuffering(buffering);
  ApplyOrder();
  ApplyRange();
  return SeverityNone;
}

void ViewManager::Close() {
  if (OPENED && closes_view_ && VIEW != nullptr) VIEW->Close();
  OPENED = 0;
  closes_view_ = false;
}

// ---------------------------------------------------------------------------
// Reading

Severity ViewManager::Next() {
  return Read(true);
}
Severity ViewManager::Previous() {
  return Read(false);
}

RecordStatus ViewManager::ValidateRecord() {
  return RecordStatus::kOk;
}

bool ViewManager::Check::Keep() {
  ran = true;
  status = manager_->ValidateRecord();
  return status != RecordStatus::kFiltered;
}

Severity ViewManager::Read(bool forward) {
  if (!OPENED || VIEW == nullptr) {
    PostError(kFileNotOpen);
    return SeverityHalt;
  }
  // The view may be another's too: the check is set for this read only.
  struct CheckScope {
    ViewEngine* view;
    ~CheckScope() {
      if (view != nullptr) view->SetRowCheck(nullptr, true);
    }
  } scope{filter_reads_memos_ ? nullptr : VIEW};
  if (scope.view != nullptr) VIEW->SetRowCheck(&check_, false);
  for (;;) {
    check_.ran = false;
    const int rc = forward ? VIEW->Next() : VIEW->Previous();
    if (rc == kRecordNotAvailable) return SeverityInform;
    if (rc != 0) {
      ThrowError(kErrViewRecordRetrieval);
      return SeverityHalt;
    }
    USED = 1;
    switch (check_.ran ? check_.status : ValidateRecord()) {
      case RecordStatus::kOk:
        return SeverityNone;
      case RecordStatus::kFiltered:
        continue;
      case RecordStatus::kOutOfRange:
        return SeverityInform;
    }
    // A derived filter that answers a value outside the enumeration is
    // taken as "filtered": the row is not shown, reading goes on.
  }
}

Severity ViewManager::PositionAtStart() {
  if (!OPENED || VIEW == nullptr) return SeverityHalt;
  return VIEW->Set() == 0 ? SeverityNone : SeverityHalt;
}

Severity ViewManager::PositionAt(std::string_view position) {
  if (!OPENED || VIEW == nullptr) return SeverityHalt;
  return VIEW->Reset(position) == 0 ? SeverityNone : SeverityHalt;
}

std::string ViewManager::Position() const {
  return VIEW != nullptr ? VIEW->Position() : std::string();
}

Severity ViewManager::ThrowError(int32_t id) {
  if (primary_file_ == nullptr) return SeverityInform;
  return primary_file_->Throw(id);
}

// ---------------------------------------------------------------------------
// Sort orders

FileDescriptor* ViewManager::PrimaryDescriptor() const {
  if (declaration_ != nullptr && declaration_->FileCount() > 0) return declaration_->File(1);
  if (primary_file_ != nullptr) return primary_file_->FILE;
  return nullptr;
}

std::vector<FileDescriptor*> ViewManager::ViewFiles() const {
  std::vector<FileDescriptor*> files;
  if (declaration_ != nullptr) {
    for (int n = 1; n <= declaration_->FileCount(); ++n) files.push_back(declaration_->File(n));
  } else if (FileDescriptor* f = PrimaryDescriptor(); f != nullptr) {
    files.push_back(f);
  }
  return files;
}

bool ViewManager::ProjectsField(const ViewField& field) const {
  if (!field.valid()) return false;
  if (declaration_ == nullptr) return field.file == PrimaryDescriptor();
  const int n = declaration_->FileNumber(field.file);
  const ViewLevel* level = n > 0 ? declaration_->Level(n) : nullptr;
  if (level == nullptr) return false;
  if (!level->projected) return true;
  return std::find(level->projection.begin(), level->projection.end(), field.field + 1) !=
         level->projection.end();
}

std::unique_ptr<SortOrder> ViewManager::NewSortOrder() {
  return std::make_unique<SortOrder>();
}

SortOrder* ViewManager::CurrentOrder() const {
  if (ORDER == nullptr || ORDER->current < 1 ||
      static_cast<size_t>(ORDER->current) > ORDER->entries.size()) {
    return nullptr;
  }
  return ORDER->entries[static_cast<size_t>(ORDER->current - 1)].get();
}

std::string ViewManager::KeyOrderText(int key) const {
  const FileDescriptor* file = PrimaryDescriptor();
  if (file == nullptr || key < 0 || static_cast<size_t>(key) >= file->keys.size()) return {};
  const KeyDesc& k = file->keys[static_cast<size_t>(key)];
  std::string text;
  for (const KeyComponent& c : k.components) {
    if (c.field < 0 || static_cast<size_t>(c.field) >= file->fields.size()) continue;
    const FieldDesc& f = file->fields[static_cast<size_t>(c.field)];
    if (!text.empty()) text += ',';
    text += c.descending ? '-' : '+';
    // A NOCASE key orders its strings folded; on a number folding changes
    // nothing, so the plain label is written.
    if ((k.flags & kKeyNocase) != 0 && IsTextType(f.type)) {
      text += "UPPER(" + f.label + ")";
    } else {
      text += f.label;
    }
  }
  return text;
}

int ViewManager::AddSortOrder(int key) {
  if (ORDER == nullptr) return 0;
  std::unique_ptr<SortOrder> entry = NewSortOrder();
  const FileDescriptor* file = PrimaryDescriptor();
  entry->MAINKEY =
      (file != nullptr && key >= 0 && static_cast<size_t>(key) < file->keys.size()) ? key : -1;
  entry->ORDER = KeyOrderText(entry->MAINKEY);
  ORDER->entries.push_back(std::move(entry));
  ORDER->current = static_cast<int>(ORDER->entries.size());
  Refresh();
  return ORDER->current;
}

int ViewManager::AddSortOrder(std::string_view key_label) {
  const FileDescriptor* file = PrimaryDescriptor();
  return AddSortOrder(file != nullptr ? file->KeyIndex(key_label) : -1);
}

bool ViewManager::SetSortOrder(int n) {
  if (ORDER == nullptr || n < 1 || static_cast<size_t>(n) > ORDER->entries.size()) return false;
  if (ORDER->current == n) return true;
  ORDER->current = n;
  Refresh();
  return true;
}

void ViewManager::SelectOrderText(std::string_view text) {
  SortOrder* order = CurrentOrder();
  if (order == nullptr) {
    AddSortOrder(-1);
    order = CurrentOrder();
    if (order == nullptr) return;
  }
  text = Trim(text, " \t\r\n");
  order->ORDER = text.empty() ? KeyOrderText(order->MAINKEY) : std::string(text);
  Refresh();
}

void ViewManager::AppendOrder(std::string_view text) {
  text = Trim(text, " \t\r\n");
  if (text.empty()) return;
  SortOrder* order = CurrentOrder();
  if (order == nullptr) {
    AddSortOrder(-1);
    order = CurrentOrder();
    if (order == nullptr) return;
  }
  if (!order->ORDER.empty()) order->ORDER += ',';
  order->ORDER += text;
  Refresh();
}

// ---------------------------------------------------------------------------
// Ranges

namespace {

// Makes sure there is a current order to hold a range or a filter.
SortOrder* EnsureOrder(ViewManager* vm) {
  if (vm->CurrentOrder() == nullptr) vm->AddSortOrder(-1);
  return vm->CurrentOrder();
}

}  // namespace

void ViewManager::AddRange(const ViewField& field) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr || !field.valid()) return;
  order->RANGELIST.clear();
  order->RANGELIST.push_back({field, RangeValue::Field(field.file, field.field)});
  order->LIMITTYPE = kRangeCurrent;
  Refresh();
}

void ViewManager::AddRange(const ViewField& field, RangeValue value) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr || !field.valid()) return;
  order->RANGELIST.clear();
  order->RANGELIST.push_back({field, std::move(value)});
  order->LIMITTYPE = kRangeSingle;
  Refresh();
}

void ViewManager::AddRange(const ViewField& field, RangeValue low, RangeValue high) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr || !field.valid()) return;
  order->RANGELIST.clear();
  order->RANGELIST.push_back({field, std::move(low)});
  order->RANGELIST.push_back({field, std::move(high)});
  order->LIMITTYPE = kRangePair;
  Refresh();
}

void ViewManager::AddRange(std::vector<std::pair<ViewField, ViewField>> fields) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr) return;
  order->RANGELIST.clear();
  for (auto& [left, right] : fields) {
    if (!left.valid() || !right.valid()) continue;
    order->RANGELIST.push_back({left, RangeValue::Field(right.file, right.field)});
  }
  order->LIMITTYPE = order->RANGELIST.empty() ? kRangeNone : kRangeFile;
  Refresh();
}

bool ViewManager::AddRange(std::string_view label) {
  ViewField f = FieldOf(label);
  if (!f.valid()) return false;
  AddRange(f);
  return true;
}

bool ViewManager::AddRange(std::string_view label, RangeValue value) {
  ViewField f = FieldOf(label);
  if (!f.valid()) return false;
  AddRange(f, std::move(value));
  return true;
}

bool ViewManager::AddRange(std::string_view label, RangeValue low, RangeValue high) {
  ViewField f = FieldOf(label);
  if (!f.valid()) return false;
  AddRange(f, std::move(low), std::move(high));
  return true;
}

void ViewManager::AppendRangeLimit(const ViewField& field, RangeValue value) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr || !field.valid()) return;
  RangePair pair{field, std::move(value)};
  if (order->LIMITTYPE == kRangePair && order->RANGELIST.size() >= 2) {
    order->RANGELIST.insert(order->RANGELIST.end() - 2, std::move(pair));
  } else {
    order->RANGELIST.push_back(std::move(pair));
    if (order->LIMITTYPE == kRangeNone) order->LIMITTYPE = kRangeSingle;
  }
  Refresh();
}

void ViewManager::ClearRange() {
  SortOrder* order = CurrentOrder();
  if (order == nullptr) return;
  order->RANGELIST.clear();
  order->LIMITTYPE = kRangeNone;
  Refresh();
}

// ---------------------------------------------------------------------------
// Filters

void ViewManager::SetNamedFilter(std::string_view text, std::string_view id) {
  SortOrder* order = EnsureOrder(this);
  if (order == nullptr) return;
  const std::string key = FilterId(id);
  text = Trim(text, " \t\r\n");
  auto it = std::find_if(order->FILTER.begin(), order->FILTER.end(),
                         [&key](const ViewFilterEntry& e) { return e.ID == key; });
  if (text.empty()) {
    if (it == order->FILTER.end()) return;
    order->FILTER.erase(it);
  } else if (it != order->FILTER.end()) {
    if (it->FILTER == text) return;
    it->FILTER = std::string(text);
  } else {
    order->FILTER.push_back({key, std::string(text)});
  }
  Refresh();
}

std::string ViewManager::GetFilter(std::string_view id) const {
  const SortOrder* order = CurrentOrder();
  if (order == nullptr) return {};
  const std::string key = FilterId(id);
  for (const ViewFilterEntry& e : order->FILTER) {
    if (e.ID == key) return e.FILTER;
  }
  return {};
}

void ViewManager::ClearFilters() {
  SortOrder* order = CurrentOrder();
  if (order == nullptr || order->FILTER.empty()) return;
  order->FILTER.clear();
  Refresh();
}

// ---------------------------------------------------------------------------
// The texts

ViewField ViewManager::FieldOf(std::string_view label) const {
  for (FileDescriptor* f : ViewFiles()) {
    // A label with a prefix names that file's field; without one, the
    // first file that has it (the primary first).
    const size_t colon = label.find(':');
    if (colon != std::string_view::npos) {
      std::string_view prefix = label.substr(0, colon);
      if (!EqualNoCase(prefix, f->prefix)) continue;
    }
    const int index = f->FieldIndex(label);
    if (index >= 0) return ViewField{f, index, {}};
  }
  return {};
}

std::string ViewManager::FieldName(const ViewField& field) const {
  if (!field.name.empty()) return field.name;
  if (!field.valid()) return {};
  const FieldDesc& desc = field.file->fields[static_cast<size_t>(field.field)];
  std::string name;
  const SortOrder* order = CurrentOrder();
  if (order != nullptr && order->MAINKEY >= 0 && primary_file_ != nullptr &&
      field.file == primary_file_->FILE) {
    for (const FileKeyEntry& key : primary_file_->KEYS) {
      if (key.KEY != order->MAINKEY) continue;
      for (const FileKeyComponent& c : key.FIELDS) {
        if (c.FIELD == field.field) {
          name = c.FIELDNAME;
          break;
        }
      }
      break;
    }
  }
  if (name.empty()) name = desc.label;
  // Folding a number would turn the comparison into one of texts.
  if (!IsTextType(desc.type)) name = StripFold(name);
  return name;
}

std::string ViewManager::RangeFilterText() const {
  const SortOrder* order = CurrentOrder();
  if (order == nullptr) return {};
  std::vector<RangeTerm> terms;
  terms.reserve(order->RANGELIST.size());
  for (const RangePair& p : order->RANGELIST) {
    terms.push_back({FieldName(p.LEFT), p.RIGHT.Read()});
  }
  std::string text = RangeText(order->LIMITTYPE, terms);
  for (const ViewFilterEntry& f : order->FILTER) AppendFilterText(&text, f.FILTER);
  return text;
}

Severity ViewManager::ApplyOrder() {
  if (!OPENED || VIEW == nullptr) return SeverityNone;
  const SortOrder* order = CurrentOrder();
  const std::string text = order != nullptr ? order->ORDER : std::string();
  if (text == VIEW->OrderText()) return SeverityNone;
  // A text refused once is not offered (nor reported) again until another
  // text has been in force.
  if (refused_order_ && text == *refused_order_) return SeverityInform;
  if (VIEW->SetOrder(text) != 0) {
    refused_order_ = text;
    ThrowError(kErrViewOpen);
    return SeverityInform;
  }
  refused_order_.reset();
  return SeverityNone;
}

Severity ViewManager::ApplyRange() {
  if (!OPENED || VIEW == nullptr) return SeverityNone;
  const std::string text = RangeFilterText();
  // Setting the same text again would only make the view rebuild what it
  // has; the caller positions the view itself.
  if (text == VIEW->FilterText()) return SeverityNone;
  // A refused text is reported once: a reset that builds the same text
  // again goes on unfiltered without a second message.
  if (refused_filter_ && text == *refused_filter_) return SeverityInform;
  bool refused = false;
  if (const SortOrder* order = CurrentOrder(); order != nullptr) {
    for (const ViewFilterEntry& f : order->FILTER) {
      if (!IsSelfContainedFilter(f.FILTER)) {
        PostError(kRuntimeBadExpression, f.FILTER);
        refused = true;
        break;
      }
    }
  }
  if (refused || VIEW->SetFilter(text) != 0) {
    refused_filter_ = text;
    ThrowError(kErrViewOpen);
    VIEW->SetFilter("");
    return SeverityInform;
  }
  refused_filter_.reset();
  return SeverityNone;
}

void ViewManager::Refresh() {
  if (!OPENED) return;
  ApplyOrder();
  ApplyRange();
}

// ---------------------------------------------------------------------------
// Saved buffers

void ViewManager::SaveBuffers() {
  saved_marks_.push_back(SAVEDBUFFERS.size());
  for (FileDescriptor* f : ViewFiles()) {
    FileManager* fm = (primary_file_ != nullptr && primary_file_->FILE == f)
                          ? primary_file_
                          : FileRegistry::Instance().GetFileManager(f);
    if (fm == nullptr) continue;
    SAVEDBUFFERS.push_back({fm->SaveRecordBuffer(), fm});
  }
}

void ViewManager::RestoreBuffers() {
  if (saved_marks_.empty()) return;
  const size_t mark = saved_marks_.back();
  saved_marks_.pop_back();
  while (SAVEDBUFFERS.size() > mark) {
    const SavedViewBuffer b = SAVEDBUFFERS.back();
    SAVEDBUFFERS.pop_back();
    b.FM->RestoreRecordBuffer(b.BUFF, true);
  }
}

}  // namespace qzr
