// SortHeader: sorting a browse list by its column headers. A click on a
// header makes that column the sort column, a second click reverses it, and
// (with MULTIPLECOLUMNS and Shift or Ctrl held) further columns are added.
// The chosen columns become an order text for the browse's view, completed
// with the primary key's components so that the order is unique, and are
// remembered per procedure and list so that the list reopens as it was left.
//
// The header queue (QUEUELISTHEADER) holds the list's columns with the label
// of the field each shows; the sort queue (QUEUELISTSORT) the sort columns in
// order with their direction. A column is sortable when its field is a
// record field of one of the view's files (with DISABLENONVIEWCOLUMNS, one
// the view projects): a memo, a column showing a variable and an icon-only
// column without a field cannot be ordered by, so a click on them does
// nothing.
//
// Stored sort string: the sort columns in order, joined by ",", each "+"
// (ascending) or "-" (descending) followed by the column's field label:
// "-FUN:NAME,+FUN:FORUMLINK". When read back, blanks around an item are
// skipped, an item without a sign is ascending, names are matched without
// regard to case, items naming no sortable column (or a column already
// taken) are dropped, and text beyond kMaxSortOrderText is ignored, so a
// damaged or enormous entry restores what it can and nothing more.
//
// Storage place: entry "SortHeader_" LISTCONTROL of section PROCEDURENAME
// (trailing blanks removed) in the INI file INIFILENAME; when INIFILENAME
// holds, in decimal, one of the registry root handles (2147483648 to
// 2147483654, or the same handles read as a signed LONG), the registry
// stand-in instead: key PROCEDURENAME under that root, value named as the
// entry. With an empty INIFILENAME or PROCEDURENAME nothing is stored or
// restored.
//
// Threads: a sort header belongs to its window's thread. The INI file and
// the registry stand-in guard themselves between threads and processes.

#ifndef QZR_ADDONS_SORT_HEADER_H_
#define QZR_ADDONS_SORT_HEADER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"
#include "framework/severity.h"
#include "framework/window_component.h"
#include "ui/event.h"
#include "ui/list_format.h"

namespace qzr {

class ViewManager;
class QUEUE;
class Window;
class WindowManager;

// The longest order text BuildOrder gives, and the longest stored sort
// string read back.
inline constexpr size_t kMaxSortOrderText = 10240;

// The entry name prefix of the stored sort string.
inline constexpr char kSortHeaderEntry[] = "SortHeader_";

// Key-code bits of the modifiers held with a click (ui/keycodes.h).
inline constexpr int32_t kSortShiftKey = 0x100;
inline constexpr int32_t kSortCtrlKey = 0x200;

// The name of the header region a sort header adds over its list.
inline constexpr char kSortRegionName[] = "?SortHeaderRegion";

// An entry of QUEUELISTHEADER: one column of the list.
struct SortHeaderColumn {
  int32_t COLUMN = 0;    // 1-based column number in the list
  std::string TEXT;      // the header text
  std::string FIELD;     // label of the field the column shows ("FUN:NAME"); "" none
  std::string PICTURE;   // the column's display picture, with or without "@"
  uint8_t SORTABLE = 0;  // set by Init: the column can be ordered by
};

// An entry of QUEUELISTSORT.
struct SortHeaderItem {
  int32_t COLUMN = 0;     // 1-based column number
  int32_t DIRECTION = 1;  // +1 ascending, -1 descending
  bool operator==(const SortHeaderItem&) const = default;
};

// Where the sort string is stored.
struct SortStoragePlace {
  enum class Kind : uint8_t { kNone, kIni, kRegistry };
  Kind kind = Kind::kNone;
  std::string file;     // kIni: the INI file
  uint32_t root = 0;    // kRegistry: the root handle
  std::string section;  // INI section, or registry key
  std::string entry;    // "SortHeader_<n>"
};

// A window component: registered with its window manager (Init with the
// manager), it sees the window's events (HandleEvent) and saves the order
// when the manager is killed (Kill).
class SortHeader : public WindowComponent {
 public:
  SortHeader() = default;
  ~SortHeader() override = default;
  SortHeader(const SortHeader&) = delete;
  SortHeader& operator=(const SortHeader&) = delete;

  // Takes the list control, the browse's view manager (may be null: the
  // order is then only built, never applied), the primary key (an index in
  // the primary file's keys, -1 none), the storage place's names and the
  // list's columns; marks the sortable columns, notes the order in force
  // (FIRSTSORTFIELD), and restores the stored order, applying it when it
  // names a column.
  virtual void Init(int32_t listControl, ViewManager* view, int pk, std::string_view ini_file_name,
                    std::string_view procedure_name, std::vector<SortHeaderColumn> columns);
  // The same over a list of an open window: the columns come from the
  // list's format (header texts and pictures) and the list queue's field
  // names (the field each column shows), and a header region is added over
  // the list (REGIONCONTROL), whose clicks TakeEvent handles.
  void Init(Window* window, int32_t listControl, QUEUE* list_queue, ViewManager* view, int pk,
            std::string_view ini_file_name, std::string_view procedure_name);
  // The same over the window of `manager` (its MYWINDOW), registering the
  // sort header as one of the manager's components.
  void Init(WindowManager* manager, int32_t listControl, QUEUE* list_queue, ViewManager* view,
            int pk, std::string_view ini_file_name, std::string_view procedure_name);
  // Saves the sort order. Once; the destructor does not call it.
  void Kill() override;
  // The event the window manager is handling: a header click is dealt with
  // (SeverityInform), anything else passed on.
  Severity HandleEvent() override;

  // Reacts to a click on the header region (EVENT:Accepted on REGIONCONTROL,
  // the column in the event's param, the modifiers in its key code). True
  // when the event was such a click: it is dealt with, sortable or not.
  virtual bool TakeEvent(const Event& event);

  // Reads the stored sort string and applies it to QUEUELISTSORT. Nothing
  // when there is no storage place or nothing stored. Returns true iff a
  // stored string was read.
  bool RestoreSortOrder();
  // Writes the stored sort string; false when there is no storage place or
  // the file (or registry) refused the write: the order still holds for
  // this run, it is only not remembered.
  bool SaveSortOrder();
  // The sort string QUEUELISTSORT stands for.
  std::string SortString() const;

  // Turns a stored sort string into QUEUELISTSORT, SORTORDER and
  // PREVSORTORDER (see above).
  void ApplySortString(std::string_view text);
  // The order text of the sort columns and the primary key's components,
  // at most kMaxSortOrderText characters: sort columns that would make it
  // longer are left out from the last, never the key.
  std::string BuildOrder() const;

  // A click on the header of `column` (1-based) with `keyCode` the key code
  // of the moment (modifier bits kSort*Key). Returns false, changing
  // nothing, when the column is not sortable. Otherwise sets the sort,
  // applies the new order and saves it.
  bool ClickColumn(int32_t column, int32_t keyCode = 0);

  // The column numbered `column`; nullptr when there is none.
  const SortHeaderColumn* Column(int32_t column) const;
  bool IsSortable(int32_t column) const;
  // The place the sort string goes to.
  SortStoragePlace StoragePlace() const;

  // The header queue of a list: one column per column of `format`, the
  // field each shows named by `list_queue`'s field names (none when the
  // queue is null or lacks the field).
  static std::vector<SortHeaderColumn> ColumnsOf(const ListFormat& format, const QUEUE* list_queue);

  // Fields, in declaration order.
  QUEUE* LISTQUEUE = nullptr;
  std::vector<SortHeaderColumn> QUEUELISTHEADER;
  std::vector<SortHeaderItem> QUEUELISTSORT;
  int32_t LISTCONTROL = 0;
  int32_t REGIONCONTROL = 0;
  std::string INIFILENAME;
  std::string PROCEDURENAME;
  int16_t SORTORDER = 0;
  int16_t PREVSORTORDER = 0;
  uint8_t MOUSEREGIONSTATUS = 0;
  // Set: a click on a column not sorted yet sorts it descending first.
  uint8_t FORCECHANGESIGNORDER = 0;
  // Set: a re-sort keeps the selected record selected (else the list goes
  // to its top). Read by the browse's hook.
  uint8_t FORCEFINDRECORD = 1;
  int32_t LASTKEYCODE = 0;
  std::string FIRSTSORTFIELD;
  ViewManager* VIEW = nullptr;
  int PK = -1;
  uint8_t DISABLENONVIEWCOLUMNS = 0;
  uint8_t NOCASE = 0;
  uint8_t USEPICTUREFORCASE = 0;
  uint8_t MULTIPLECOLUMNS = 0;

 protected:
  // Puts `order` in force on the view ("" brings back the order in force
  // before the user sorted). A browse takes it as an outside order and
  // refills keeping the selected record (going to the start of the order
  // instead when FORCEFINDRECORD is 0); another view manager takes it as
  // the current order's text.
  virtual void ApplyOrder(std::string_view order);

 private:
  // True when the column's field may be ordered by (see above).
  bool FieldSortable(const SortHeaderColumn& column) const;
  // True when `column` compares its strings without regard to case.
  bool FoldsCase(const SortHeaderColumn& column) const;
  // The order text in force for the current sort: BuildOrder(), or
  // FIRSTSORTFIELD when no column is chosen.
  std::string OrderInForce() const;

  bool killed_ = false;
  WindowManager* manager_ = nullptr;
};

}  // namespace qzr

#endif  // QZR_ADDONS_SORT_HEADER_H_
