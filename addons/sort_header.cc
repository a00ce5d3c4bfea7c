#include "addons/sort_header.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "framework/browse_manager.h"
#include "framework/view_manager.h"
#include "framework/window_manager.h"
#include "runtime/core/text.h"
#include "runtime/settings/profile.h"
#include "runtime/settings/registry.h"
#include "runtime/values/queue.h"
#include "ui/window.h"

namespace qzr {
namespace {

// The registry root INIFILENAME names, if it holds one in decimal. Handles
// kept in a signed LONG read as negative numbers; both spellings are taken.
std::optional<uint32_t> RegistryRootOf(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  if (value < 0) value += int64_t{1} << 32;
  if (value < 0 || value > 0xFFFFFFFFll) return std::nullopt;
  const auto handle = static_cast<uint32_t>(value);
  if (!IsRegistryRoot(handle)) return std::nullopt;
  return handle;
}

}  // namespace

void SortHeader::Init(int32_t listControl, ViewManager* view, int pk,
                      std::string_view ini_file_name, std::string_view procedure_name,
                      std::vector<SortHeaderColumn> columns) {
  LISTCONTROL = listControl;
  VIEW = view;
  PK = pk;
  INIFILENAME = std::string(ini_file_name.substr(0, std::min<size_t>(ini_file_name.size(), 255)));
  PROCEDURENAME =
      std::string(procedure_name.substr(0, std::min<size_t>(procedure_name.size(), 255)));
  QUEUELISTHEADER = std::move(columns);
  for (SortHeaderColumn& c : QUEUELISTHEADER) c.SORTABLE = FieldSortable(c) ? 1 : 0;
  QUEUELISTSORT.clear();
  SORTORDER = 0;
  PREVSORTORDER = 0;
  killed_ = false;
  FIRSTSORTFIELD.clear();
  if (VIEW != nullptr && VIEW->CurrentOrder() != nullptr)
    FIRSTSORTFIELD = VIEW->CurrentOrder()->ORDER;
  if (RestoreSortOrder() && !QUEUELISTSORT.empty()) ApplyOrder(BuildOrder());
}

void SortHeader::Init(Window* window, int32_t listControl, QUEUE* list_queue, ViewManager* view,
                      int pk, std::string_view ini_file_name, std::string_view procedure_name) {
  LISTQUEUE = list_queue;
  std::vector<SortHeaderColumn> columns;
  if (window != nullptr && window->HasControl(listControl) &&
      window->Kind(listControl) == ControlKind::kList) {
    columns = ColumnsOf(window->Format(listControl), list_queue);
    REGIONCONTROL = window->FindControl(kSortRegionName);
    if (REGIONCONTROL == 0) {
      ControlDef region;
      region.kind = ControlKind::kRegion;
      region.name = kSortRegionName;
      region.parent = listControl;
      region.flags = kControlHeaderRegion;
      region.at = window->Position(listControl);
      REGIONCONTROL = window->AddControl(region);
    }
  }
  Init(listControl, view, pk, ini_file_name, procedure_name, std::move(columns));
}

void SortHeader::Init(WindowManager* manager, int32_t listControl, QUEUE* list_queue,
                      ViewManager* view, int pk, std::string_view ini_file_name,
                      std::string_view procedure_name) {
  manager_ = manager;
  Init(manager != nullptr ? manager->MYWINDOW : nullptr, listControl, list_queue, view, pk,
       ini_file_name, procedure_name);
  if (manager != nullptr) manager->AddItem(this);
}

Severity SortHeader::HandleEvent() {
  Event event;
  if (manager_ != nullptr) {
    event = manager_->ThisEvent();
  } else {
    event.code = CurrentEvent();
    event.control = CurrentControl();
    event.keycode = KeyCode();
  }
  return TakeEvent(event) ? SeverityInform : SeverityNone;
}

std::vector<SortHeaderColumn> SortHeader::ColumnsOf(const ListFormat& format,
                                                    const QUEUE* list_queue) {
  std::vector<SortHeaderColumn> columns;
  for (size_t i = 0; i < format.columns.size(); ++i) {
    const ListColumn& c = format.columns[i];
    SortHeaderColumn col;
    col.COLUMN = static_cast<int32_t>(i + 1);
    col.TEXT = c.header;
    col.PICTURE = c.picture;
    if (list_queue != nullptr && c.value_field > 0 &&
        static_cast<size_t>(c.value_field) <= list_queue->fields().size()) {
      col.FIELD = list_queue->fields()[static_cast<size_t>(c.value_field - 1)].name;
    }
    columns.push_back(std::move(col));
  }
  return columns;
}

bool SortHeader::TakeEvent(const Event& event) {
  if (REGIONCONTROL == 0 || event.control != REGIONCONTROL || event.code != EVENT::Accepted) {
    return false;
  }
  ClickColumn(event.param, event.keycode);
  return true;
}

void SortHeader::Kill() {
  if (killed_) return;
  killed_ = true;
  SaveSortOrder();
}

const SortHeaderColumn* SortHeader::Column(int32_t column) const {
  for (const SortHeaderColumn& c : QUEUELISTHEADER) {
    if (c.COLUMN == column) return &c;
  }
  return nullptr;
}

bool SortHeader::IsSortable(int32_t column) const {
  const SortHeaderColumn* c = Column(column);
  return c != nullptr && c->SORTABLE != 0;
}

bool SortHeader::FieldSortable(const SortHeaderColumn& column) const {
  const std::string_view label = Trim(column.FIELD);
  if (label.empty()) return false;
  if (VIEW == nullptr) return true;  // nothing to check against; BuildOrder only
  const ViewField f = VIEW->FieldOf(label);
  // Memos and names of variables are no record field of the view's files:
  // the view cannot order by them.
  if (!f.valid()) return false;
  if (DISABLENONVIEWCOLUMNS == 0) return true;
  return VIEW->ProjectsField(f);
}

bool SortHeader::FoldsCase(const SortHeaderColumn& column) const {
  if (NOCASE == 0) return false;
  if (USEPICTUREFORCASE == 0) return true;
  std::string_view pic = Trim(column.PICTURE);
  if (!pic.empty() && pic.front() == '@') pic.remove_prefix(1);
  return !pic.empty() && (pic.front() == 'S' || pic.front() == 's');
}

// ---- The sort string.

void SortHeader::ApplySortString(std::string_view text) {
  QUEUELISTSORT.clear();
  SORTORDER = 0;
  PREVSORTORDER = 0;
  // A valid string is never longer than an order text; the rest of a longer
  // one is damage.
  if (text.size() > kMaxSortOrderText) text = text.substr(0, kMaxSortOrderText);
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view item = Trim(text.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    int32_t direction = 1;
    if (item.front() == '+' || item.front() == '-') {
      direction = item.front() == '-' ? -1 : 1;
      item = Trim(item.substr(1));
    }
    if (item.empty()) continue;
    for (const SortHeaderColumn& c : QUEUELISTHEADER) {
      if (!EqualNoCase(item, Trim(c.FIELD))) continue;
      // The first column showing the field takes it; a column named twice,
      // or one that cannot be ordered by, is not taken.
      const bool taken = std::any_of(QUEUELISTSORT.begin(), QUEUELISTSORT.end(),
                                     [&](const SortHeaderItem& s) { return s.COLUMN == c.COLUMN; });
      if (!taken && c.SORTABLE != 0) {
        QUEUELISTSORT.push_back({c.COLUMN, direction});
        SORTORDER = static_cast<int16_t>(c.COLUMN * direction);
      }
      break;
    }
    if (QUEUELISTSORT.size() >= QUEUELISTHEADER.size()) break;
  }
}

std::string SortHeader::SortString() const {
  std::string text;
  for (const SortHeaderItem& s : QUEUELISTSORT) {
    const SortHeaderColumn* c = Column(s.COLUMN);
    if (c == nullptr) continue;
    if (!text.empty()) text += ',';
    text += s.DIRECTION < 0 ? '-' : '+';
    text += Trim(c->FIELD);
  }
  return text;
}

// ---- The order.

std::string SortHeader::BuildOrder() const {
  std::vector<std::string> items;
  for (const SortHeaderItem& s : QUEUELISTSORT) {
    const SortHeaderColumn* c = Column(s.COLUMN);
    if (c == nullptr || c->SORTABLE == 0) continue;
    const std::string field(Trim(c->FIELD));
    std::string item(1, s.DIRECTION < 0 ? '-' : '+');
    item += FoldsCase(*c) ? "UPPER(" + field + ")" : field;
    items.push_back(std::move(item));
  }
  // The key's components, each unless an item orders by it already. Whole
  // items are compared: "+FUN:IDX" does not stand for "+FUN:ID".
  std::vector<std::string> key_items;
  const FileDescriptor* file = VIEW != nullptr ? VIEW->PrimaryDescriptor() : nullptr;
  if (file != nullptr && PK >= 0 && static_cast<size_t>(PK) < file->keys.size()) {
    for (const KeyComponent& k : file->keys[static_cast<size_t>(PK)].components) {
      if (k.field < 0 || static_cast<size_t>(k.field) >= file->fields.size()) continue;
      const std::string& name = file->fields[static_cast<size_t>(k.field)].label;
      const bool present = std::any_of(items.begin(), items.end(), [&](const std::string& it) {
        const std::string_view body = std::string_view(it).substr(1);
        return EqualNoCase(body, name) || EqualNoCase(body, "UPPER(" + name + ")");
      });
      if (!present) key_items.push_back(std::string(1, k.descending ? '-' : '+') + name);
    }
  }
  auto join = [&](size_t keep) {
    std::string text;
    for (size_t i = 0; i < keep; ++i) {
      if (!text.empty()) text += ',';
      text += items[i];
    }
    for (const std::string& k : key_items) {
      if (!text.empty()) text += ',';
      text += k;
    }
    return text;
  };
  // Sort columns that do not fit go, from the last; the key stays, or the
  // order would no longer be unique.
  for (size_t keep = items.size();; --keep) {
    std::string text = join(keep);
    if (text.size() <= kMaxSortOrderText || keep == 0) return text;
  }
}

std::string SortHeader::OrderInForce() const {
  return QUEUELISTSORT.empty() ? std::string() : BuildOrder();
}

void SortHeader::ApplyOrder(std::string_view order) {
  if (VIEW == nullptr) return;
  if (auto* browse = dynamic_cast<BrowseManager*>(VIEW)) {
    browse->SetSortText(order);
    if (FORCEFINDRECORD == 0) browse->RefillList(kRefillFromStart);
    return;
  }
  VIEW->SelectOrderText(order.empty() ? std::string_view(FIRSTSORTFIELD) : order);
}

// ---- Clicks.

bool SortHeader::ClickColumn(int32_t column, int32_t keyCode) {
  if (!IsSortable(column)) return false;
  LASTKEYCODE = keyCode;
  const bool add = MULTIPLECOLUMNS != 0 && (keyCode & (kSortShiftKey | kSortCtrlKey)) != 0;
  auto found = std::find_if(QUEUELISTSORT.begin(), QUEUELISTSORT.end(),
                            [&](const SortHeaderItem& s) { return s.COLUMN == column; });
  const int32_t fresh = FORCECHANGESIGNORDER != 0 ? -1 : 1;
  int32_t direction = fresh;
  if (add) {
    if (found != QUEUELISTSORT.end()) {
      found->DIRECTION = -found->DIRECTION;
      direction = found->DIRECTION;
    } else {
      QUEUELISTSORT.push_back({column, fresh});
    }
  } else {
    // A click on the first sort column reverses it; on any other column the
    // sort is by that column alone.
    if (!QUEUELISTSORT.empty() && QUEUELISTSORT.front().COLUMN == column) {
      direction = -QUEUELISTSORT.front().DIRECTION;
    }
    QUEUELISTSORT.assign(1, {column, direction});
  }
  PREVSORTORDER = SORTORDER;
  SORTORDER = static_cast<int16_t>(column * direction);
  ApplyOrder(OrderInForce());
  SaveSortOrder();
  return true;
}

// ---- Storage.

SortStoragePlace SortHeader::StoragePlace() const {
  SortStoragePlace place;
  const std::string_view section = TrimRight(PROCEDURENAME, kSpaces);
  const std::string_view file = Trim(INIFILENAME);
  if (section.empty() || file.empty()) return place;
  place.section = std::string(section);
  place.entry = kSortHeaderEntry + std::to_string(LISTCONTROL);
  if (std::optional<uint32_t> root = RegistryRootOf(file)) {
    place.kind = SortStoragePlace::Kind::kRegistry;
    place.root = *root;
  } else {
    place.kind = SortStoragePlace::Kind::kIni;
    place.file = std::string(file);
  }
  return place;
}

bool SortHeader::RestoreSortOrder() {
  const SortStoragePlace place = StoragePlace();
  std::optional<std::string> text;
  switch (place.kind) {
    case SortStoragePlace::Kind::kNone:
      return false;
    case SortStoragePlace::Kind::kIni: {
      // A default no stored string can equal tells "absent" from "empty".
      static constexpr char kAbsent[] = "\x01";
      std::string value = GetPrivateProfileString(place.section, place.entry, kAbsent, place.file);
      if (value != kAbsent) text = std::move(value);
      break;
    }
    case SortStoragePlace::Kind::kRegistry:
      text = RegGetString(place.root, place.section, place.entry);
      break;
  }
  if (!text) return false;
  ApplySortString(*text);
  return true;
}

bool SortHeader::SaveSortOrder() {
  const SortStoragePlace place = StoragePlace();
  const std::string text = SortString();
  switch (place.kind) {
    case SortStoragePlace::Kind::kNone:
      return false;
    case SortStoragePlace::Kind::kIni:
      return WritePrivateProfileString(place.section, place.entry, text, place.file);
    case SortStoragePlace::Kind::kRegistry:
      return RegPutString(place.root, place.section, place.entry, text) == ERROR_SUCCESS;
  }
  return false;
}

}  // namespace qzr
