// BrowseManager: the window of rows, filled and slid one screenful at a time
// (see browse_manager.h).

#include <algorithm>

#include "data/file_driver.h"
#include "framework/browse_manager.h"
#include "framework/file_manager.h"
#include "framework/file_manager_internal.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "ui/event.h"
#include "ui/message.h"

namespace qzr {

void BrowseManager::Init(BrowseListControl* list, ViewEngine* view, BrowseListQueue* rows,
                         RelationManager* primary, const View* declaration) {
  ViewManager::Init(view, primary, nullptr, declaration);
  ILC = list;
  LISTQUEUE = rows;
  CURRENTCHOICE = 0;
  ITEMSTOFILL = 0;
  LASTITEMS = 0;
  LOADPENDING = 0;
  LOADED = 0;
  NEEDREFRESH = 0;
  SAVEDSORT = 0;
  SAVEDSORTSTRING.clear();
  SORT = nullptr;
  at_start_ = at_end_ = false;
  buffer_row_.clear();
  filled_count_.reset();
}

void BrowseManager::Kill() {
  if (!INITED || KILLED) return;
  if (LISTQUEUE != nullptr) LISTQUEUE->Free();
  ViewManager::Kill();
  SORT = nullptr;
}

std::unique_ptr<SortOrder> BrowseManager::NewSortOrder() {
  return std::make_unique<BrowseSortOrder>();
}

BrowseSortOrder* BrowseManager::CurrentBrowseOrder() const {
  return dynamic_cast<BrowseSortOrder*>(CurrentOrder());
}

// ---------------------------------------------------------------------------
// Helpers

int32_t BrowseManager::ListItems() {
  int32_t items = ILC != nullptr ? ILC->Items() : 0;
  // A list too small to show a row still shows one: with 0 rows no fetch
  // could ever move the window.
  if (items < 1) items = LASTITEMS > 0 ? LASTITEMS : kDefaultListItems;
  return items;
}

std::vector<std::string> BrowseManager::RowPositions() {
  std::vector<std::string> out;
  const int32_t n = LISTQUEUE->Records();
  out.reserve(static_cast<size_t>(n));
  for (int32_t row = 1; row <= n; ++row) {
    LISTQUEUE->Get(row);
    out.push_back(LISTQUEUE->ViewPosition());
  }
  return out;
}

int32_t BrowseManager::FindRow(std::string_view position) {
  if (position.empty()) return 0;
  const int32_t n = LISTQUEUE->Records();
  for (int32_t row = 1; row <= n; ++row) {
    LISTQUEUE->Get(row);
    if (LISTQUEUE->ViewPosition() == position) return row;
  }
  return 0;
}

void BrowseManager::ClearList() {
  LISTQUEUE->Free();
  CURRENTCHOICE = 0;
  buffer_row_.clear();
  if (ILC != nullptr) ILC->SetChoice(0);
  for (FileDescriptor* f : ViewFiles()) internal::ClearRecord(f);
}

void BrowseManager::SelectRow(int32_t row) {
  const int32_t n = LISTQUEUE->Records();
  if (n == 0) {
    CURRENTCHOICE = 0;
    if (ILC != nullptr) ILC->SetChoice(0);
    for (FileDescriptor* f : ViewFiles()) internal::ClearRecord(f);
    buffer_row_.clear();
    return;
  }
  CURRENTCHOICE = std::clamp(row, int32_t{1}, n);
  if (ILC != nullptr) ILC->SetChoice(CURRENTCHOICE);
  LoadSelectedRecord();
}

void BrowseManager::LoadSelectedRecord() {
  if (CURRENTCHOICE < 1 || CURRENTCHOICE > LISTQUEUE->Records()) return;
  LISTQUEUE->Get(CURRENTCHOICE);
  const std::string position = LISTQUEUE->ViewPosition();
  if (!position.empty() && position == buffer_row_) return;
  if (LISTQUEUE->RestoreRecords()) {
    buffer_row_ = position;
    return;
  }
  // The list keeps no copy: read the row again.
  buffer_row_.clear();
  if (PositionAt(position) != SeverityNone) return;
  if (Next() == SeverityNone && Position() == position) buffer_row_ = position;
}

bool BrowseManager::RefreshSelectedRecord() {
  if (CURRENTCHOICE < 1 || CURRENTCHOICE > LISTQUEUE->Records()) return false;
  LISTQUEUE->Get(CURRENTCHOICE);
  const std::string position = LISTQUEUE->ViewPosition();
  buffer_row_.clear();
  if (!position.empty() && VIEW != nullptr && VIEW->Reget(position) == 0) {
    buffer_row_ = position;
    return true;
  }
  // Gone (35), or unreadable: the list no longer shows the file as it is.
  // Refill around the neighbours; the caller acts on nothing.
  RefillList(kRefillFromTop);
  return false;
}

std::optional<int64_t> BrowseManager::ChangeCount() const {
  FileDescriptor* file = PrimaryDescriptor();
  if (file == nullptr || !file->IsOpen()) return std::nullopt;
  RuntimeErrorKeeper keep;
  FileArgs args;
  args.property = kPropertyChangeCount;
  if (DoFileOp(FileOp::GET_PROPERTY, *file, args) != 0 || args.value.empty()) return std::nullopt;
  char* end = nullptr;
  const long long count = std::strtoll(args.value.c_str(), &end, 10);
  if (end == args.value.c_str()) return std::nullopt;
  return static_cast<int64_t>(count);
}

void BrowseManager::NoteFilled() {
  filled_order_ = VIEW != nullptr ? VIEW->OrderText() : std::string();
  filled_filter_ = VIEW != nullptr ? VIEW->FilterText() : std::string();
  filled_count_ = ChangeCount();
  ShowThumb();
}

int BrowseManager::ThumbPercent() const {
  if (at_start_) return 0;
  if (at_end_) return 100;
  return 50;
}

void BrowseManager::ShowThumb() {
  if (ILC != nullptr) ILC->SetThumb(ThumbPercent());
}

// ---------------------------------------------------------------------------
// Fetch

void BrowseManager::FillListRow() {
  LISTQUEUE->FillRow(Position());
}

Severity BrowseManager::Fetch(int direction) {
  const bool forward = direction != kFillBackward;
  if (LISTQUEUE == nullptr) return SeverityHalt;
  if (LASTITEMS < 1) LASTITEMS = ListItems();
  bool quick_scan = false;
  if (QUICKSCAN && ITEMSTOFILL > 1 && PRIMARY != nullptr) {
    quick_scan = PRIMARY->SwitchQuickScan(true) == SeverityNone;
  }
  std::string edge;
  if (const int32_t rows = LISTQUEUE->Records(); rows > 0) {
    LISTQUEUE->Get(forward ? rows : 1);
    edge = LISTQUEUE->ViewPosition();
    buffer_row_.clear();
    if (PositionAt(edge) != SeverityNone) {
      if (quick_scan) PRIMARY->SwitchQuickScan(false);
      if (ERRORCODE() != kRecordNotFound) {
        // A hard error: the rows stay as they are.
        if (ERRORCODE() != kFileNotOpen) ThrowError(kErrViewRecordRetrieval);
        return SeverityHalt;
      }
      // The edge row can no longer place the view (its record is gone and
      // the order it was read in has changed): rebuild the list instead of
      // reading from a guess.
      ITEMSTOFILL = 0;
      RefillList(kRefillFromTop);
      return SeverityNone;
    }
  }
  if (USEMRP && VIEW != nullptr && VIEW->ReadAhead() == 0) {
    VIEW->SetReadAhead(static_cast<uint32_t>(std::clamp(ITEMSTOFILL, int32_t{0}, int32_t{60})));
  }
  bool first = !edge.empty();
  Severity result = SeverityNone;
  while (ITEMSTOFILL > 0) {
    const Severity s = forward ? Next() : Previous();
    if (s != SeverityNone) {
      // The buffers may hold a row the record filter skipped.
      buffer_row_.clear();
      if (s == SeverityInform) {
        (forward ? at_end_ : at_start_) = true;
      } else {
        result = SeverityHalt;
      }
      break;
    }
    std::string position = Position();
    buffer_row_ = position;
    if (first) {
      first = false;
      if (position == edge) continue;  // the edge row itself
    }
    if (LISTQUEUE->Records() >= LASTITEMS) {
      LISTQUEUE->Get(forward ? 1 : LISTQUEUE->Records());
      LISTQUEUE->Delete();
      (forward ? at_start_ : at_end_) = false;
    }
    FillListRow();
    if (forward) {
      LISTQUEUE->Add();
    } else {
      LISTQUEUE->AddAt(1);
    }
    --ITEMSTOFILL;
  }
  if (quick_scan) PRIMARY->SwitchQuickScan(false);
  return result;
}

// ---------------------------------------------------------------------------
// Refill

void BrowseManager::FillAround(bool from_start, int32_t keep) {
  at_start_ = from_start;
  at_end_ = false;
  ITEMSTOFILL = LASTITEMS - keep;
  if (Fetch(kFillForward) == SeverityHalt) return;
  if (from_start) return;
  if (LISTQUEUE->Records() == 0) {
    // Nothing at or after the place: the view stands past its end, so the
    // last rows of the order are read instead.
    if (!at_end_) return;
    ITEMSTOFILL = LASTITEMS;
    if (Fetch(kFillBackward) == SeverityHalt) return;
    at_end_ = true;
    return;
  }
  const int32_t missing = ALLOWUNFILLED ? 0 : LASTITEMS - LISTQUEUE->Records();
  const int32_t want = std::max(missing, keep);
  if (want <= 0) return;
  ITEMSTOFILL = want;
  if (Fetch(kFillBackward) == SeverityHalt) return;
  // The start came before the rows that were to stay above: the list is
  // short at the bottom now.
  if (!at_end_ && !ALLOWUNFILLED && LISTQUEUE->Records() < LASTITEMS) {
    ITEMSTOFILL = LASTITEMS - LISTQUEUE->Records();
    Fetch(kFillForward);
  }
}

void BrowseManager::RefillList(int mode) {
  if (!INITED || LISTQUEUE == nullptr) return;
  const bool visible = ILC == nullptr || ILC->Visible();
  if ((!visible && !ACTIVEINVISIBLE) || iconized_) {
    LOADPENDING = 1;
    return;
  }
  LOADED = 1;
  LOADPENDING = 0;
  NEEDREFRESH = 0;
  LASTITEMS = ListItems();
  WaitCursor wait;
  if (CURRENTCHOICE == 0) CURRENTCHOICE = 1;

  // Where to start: the selected record kept on its row, or the first
  // shown row, each falling back on the rows after it and then the rows
  // before it when its record can no longer place the view.
  const std::vector<std::string> rows = RowPositions();
  const auto n = static_cast<int32_t>(rows.size());
  struct Anchor {
    const std::string* position;
    int32_t keep;  // rows to keep above it
  };
  std::vector<Anchor> anchors;
  std::string selected;
  int32_t old_choice = std::clamp(CURRENTCHOICE, int32_t{1}, std::max(n, int32_t{1}));
  if (mode != kRefillFromStart && (n > 0 || pending_selection_)) {
    selected = pending_selection_ ? *pending_selection_ : rows[static_cast<size_t>(old_choice - 1)];
    const bool keep_row = mode == kRefillKeepSelected || RETAINROW;
    const int32_t top = keep_row ? old_choice : 1;
    const int32_t keep = keep_row ? std::min(old_choice, LASTITEMS) - 1 : 0;
    if (pending_selection_) anchors.push_back({&selected, keep});
    for (int32_t r = top; r <= n; ++r) anchors.push_back({&rows[static_cast<size_t>(r - 1)], keep});
    for (int32_t r = top - 1; r >= 1; --r) {
      anchors.push_back(
          {&rows[static_cast<size_t>(r - 1)], std::max(keep - (top - r), int32_t{0})});
    }
  }
  pending_selection_.reset();

  LISTQUEUE->Free();
  buffer_row_.clear();
  bool placed = false;
  int32_t keep = 0;
  for (const Anchor& a : anchors) {
    if (PositionAt(*a.position) == SeverityNone) {
      keep = a.keep;
      placed = true;
      break;
    }
  }
  if (!placed) PositionAtStart();
  FillAround(!placed, keep);
  if (!placed && LISTQUEUE->Records() == 0) {
    // Nothing was read: an empty view, or a read error.
    SelectRow(0);
    NoteFilled();
    return;
  }

  int32_t row = FindRow(selected);
  if (row == 0)
    row = placed ? (mode == kRefillKeepSelected || RETAINROW ? keep + 1 : old_choice) : 1;
  SelectRow(row);
  NoteFilled();
}

void BrowseManager::ResetFromView() {
  if (!INITED || LISTQUEUE == nullptr) return;
  LASTITEMS = ListItems();
  WaitCursor wait;
  LISTQUEUE->Free();
  buffer_row_.clear();
  LOADED = 1;
  LOADPENDING = 0;
  FillAround(false, 0);
  SelectRow(1);
  NoteFilled();
}

// ---------------------------------------------------------------------------
// Scrolling

void BrowseManager::StepOneRow(int32_t event) {
  CURRENTEVENT = event;
  const int32_t n = LISTQUEUE->Records();
  if (n == 0) return;
  const bool up = event == EVENT::ScrollUp;
  const int32_t choice = std::clamp(CURRENTCHOICE, int32_t{1}, n);
  if (up ? choice > 1 : choice < n) {
    SelectRow(choice + (up ? -1 : 1));
    return;
  }
  if (!FILELOADED) {
    ITEMSTOFILL = 1;
    Fetch(up ? kFillBackward : kFillForward);
  }
  SelectRow(up ? 1 : LISTQUEUE->Records());
  ShowThumb();
}

void BrowseManager::StepOnePage(int32_t event) {
  CURRENTEVENT = event;
  const bool up = event == EVENT::PageUp;
  const int32_t page = ListItems();
  if (LISTQUEUE->Records() == 0) return;
  int32_t choice = std::max(CURRENTCHOICE, int32_t{1});
  if (FILELOADED) {
    SelectRow(choice + (up ? -page : page));
    return;
  }
  LASTITEMS = page;
  ITEMSTOFILL = page;
  Fetch(up ? kFillBackward : kFillForward);
  const int32_t missing = ITEMSTOFILL;
  ITEMSTOFILL = 0;
  choice += up ? -missing : missing;
  SelectRow(choice);
  ShowThumb();
}

void BrowseManager::JumpToEnd(int32_t event) {
  CURRENTEVENT = event;
  if (FILELOADED) {
    SelectRow(event == EVENT::ScrollTop ? 1 : LISTQUEUE->Records());
    return;
  }
  const bool top = event == EVENT::ScrollTop;
  LASTITEMS = ListItems();
  LISTQUEUE->Free();
  buffer_row_.clear();
  PositionAtStart();
  at_start_ = at_end_ = false;
  ITEMSTOFILL = LASTITEMS;
  Fetch(top ? kFillForward : kFillBackward);
  (top ? at_start_ : at_end_) = true;
  SelectRow(top ? 1 : LISTQUEUE->Records());
  ShowThumb();
}

void BrowseManager::HandleScroll(int32_t event, int param) {
  if (!INITED || LISTQUEUE == nullptr) return;
  switch (event) {
    case EVENT::ScrollUp:
    case EVENT::ScrollDown:
      StepOneRow(event);
      return;
    case EVENT::PageUp:
    case EVENT::PageDown:
      StepOnePage(event);
      return;
    case EVENT::ScrollTop:
    case EVENT::ScrollBottom:
      JumpToEnd(event);
      return;
    case EVENT::ScrollDrag:
      break;
    default:
      return;
  }
  CURRENTEVENT = event;
  const int percent = std::clamp(param, 0, 100);
  if (BrowseSortOrder* order = CurrentBrowseOrder(); order != nullptr && order->THUMB != nullptr) {
    if (order->THUMB->PositionView(this, percent)) ResetFromView();
    return;
  }
  // Without a thumb object the browse cannot tell where a row lies in the
  // whole result: the ends are exact, anything between pages towards the
  // drag.
  if (percent == 0) {
    JumpToEnd(EVENT::ScrollTop);
  } else if (percent == 100) {
    JumpToEnd(EVENT::ScrollBottom);
  } else if (percent < ThumbPercent()) {
    StepOnePage(EVENT::PageUp);
  } else if (percent > ThumbPercent()) {
    StepOnePage(EVENT::PageDown);
  }
}

void BrowseManager::TakeNewSelection() {
  const int32_t n = LISTQUEUE->Records();
  if (n == 0) return;
  const int32_t choice = ILC != nullptr ? ILC->Choice() : CURRENTCHOICE;
  PREVCHOICE = CURRENTCHOICE;
  CURRENTCHOICE = std::clamp(choice, int32_t{1}, n);
  LoadSelectedRecord();
}

// ---------------------------------------------------------------------------
// Orders and resets

bool BrowseManager::SelectOrder(int n) {
  if (ORDER == nullptr || n < 1 || static_cast<size_t>(n) > ORDER->entries.size()) return false;
  if (ORDER->current == n) return true;
  SetSortOrder(n);
  SORT = CurrentBrowseOrder();
  SortChanged();
  RefillList(kRefillFromStart);
  return true;
}

void BrowseManager::SetSortText(std::string_view text) {
  std::string_view trimmed = text;
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  SortOrder* order = CurrentOrder();
  BrowseSortOrder* border = CurrentBrowseOrder();
  if (trimmed.empty()) {
    if (!SAVEDSORT) return;
    SAVEDSORT = 0;
    if (order != nullptr) {
      order->ORDER = SAVEDSORTSTRING;
      if (border != nullptr) {
        border->LOCATOR = SAVEDLOCATOR;
        border->THUMB = SAVEDTHUMB;
      }
    }
    SAVEDSORTSTRING.clear();
    SAVEDLOCATOR = nullptr;
    SAVEDTHUMB = nullptr;
    SelectOrderText(order != nullptr ? order->ORDER : std::string());
  } else {
    if (!SAVEDSORT) {
      SAVEDSORT = 1;
      SAVEDSORTSTRING = order != nullptr ? order->ORDER.substr(0, 511) : std::string();
      SAVEDLOCATOR = border != nullptr ? border->LOCATOR : nullptr;
      SAVEDTHUMB = border != nullptr ? border->THUMB : nullptr;
      // An outside order has no locator or thumb of the browse's.
      if (border != nullptr) {
        border->LOCATOR = nullptr;
        border->THUMB = nullptr;
      }
    }
    SelectOrderText(trimmed);
  }
  SORT = CurrentBrowseOrder();
  SortChanged();
  RefillList(kRefillKeepSelected);
}

bool BrowseManager::RefillOwed() {
  if (NEEDREFRESH) return true;
  const bool can_fill = (ILC == nullptr || ILC->Visible() || ACTIVEINVISIBLE) && !iconized_;
  if (LOADPENDING) return can_fill;
  // The list grew or shrank: it shows another number of rows.
  return LOADED && can_fill && ILC != nullptr && ILC->Items() > 0 && ILC->Items() != LASTITEMS;
}

void BrowseManager::ResetBrowse(bool force) {
  if (!INITED) return;
  if (!OPENED) Open();
  // Range limits that follow variables are read again here.
  ApplyRange();
  if (!LOADED || LOADPENDING) {
    RefillList(LOADED ? kRefillFromTop : kRefillFromStart);
    return;
  }
  if (VIEW != nullptr &&
      (VIEW->OrderText() != filled_order_ || VIEW->FilterText() != filled_filter_)) {
    RefillList(kRefillFromStart);
    return;
  }
  if (force || NEEDREFRESH || ListItems() != LASTITEMS) {
    RefillList(kRefillFromTop);
    return;
  }
  // Nothing asked for: refill only when the file changed since the fill.
  // A driver that cannot tell is refilled every time.
  const std::optional<int64_t> count = ChangeCount();
  if (!count || !filled_count_ || *count != *filled_count_) RefillList(kRefillFromTop);
}

}  // namespace qzr
