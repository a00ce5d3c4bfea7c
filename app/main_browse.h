// Main: the functions browse, the program's one top-level window. It lists
// the catalogue FUNC one screenful at a time, sorts by a clicked column
// header (remembered), narrows the list with the quick find, shows the
// selected entry's code, poster, description and link below the list, and
// runs the update form (update_functions) to insert, change and delete.
//
// The quick find is the record filter the find command uses
// (app/quick_find.h): the window sets the program-wide find settings and
// its browse lets through what QuickFindPasses lets through.
//
//   find off  (button "Find Off", every entry listed)
//     --Find pressed, entry blank-->  find on, the focus to the entry
//     --Find pressed, entry typed-->  find on, the list from the top
//   find on   (button "Find On", the matching entries listed)
//     --text accepted in the entry--> the list from the top again
//     --Find pressed-->               find off, entry cleared, all listed
//     --nothing matches-->            "No Matches", then find off
//
// Query by example: the "Browse Actions" popup offers "&Query" (and Ctrl+Q
// does the same anywhere in the window), which opens the dialog "Query by
// Example Settings" over the title, description, link, poster, number and
// complete flag; below it the saved queries and "C&lear". The query holds
// together with the quick find: an entry is listed when both let it
// through. Saved queries live in "qzrfunctions.INI".
//
// The check boxes "Ingore Case" and "Include Memo" show the find's own
// flags (on when the window opens) and set them; a change while the find
// is on finds again.
//
// The window can be resized: the list and the panel below it take the
// extra space (the window resizer, with a strategy per control), and a
// taller list shows more rows. Its size and
// place, and the list's column widths, are kept in "qzrfunctions.INI"
// (section "Main") from one run to the next, as is the sort order (the
// sort header's "SortHeader_6").
//
// Threads: the main thread only (it is the program's window).

#ifndef QZR_APP_MAIN_BROWSE_H_
#define QZR_APP_MAIN_BROWSE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addons/sort_header.h"
#include "app/quick_find.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "framework/browse_manager.h"
#include "framework/query_manager.h"
#include "framework/window_manager.h"
#include "framework/window_resizer.h"
#include "runtime/values/queue.h"
#include "ui/window.h"

namespace qzr {

inline constexpr char kMainProcedureName[] = "Main";
inline constexpr char kNoMatchesCaption[] = "No Matches";
inline constexpr char kNoMatchesText[] =
    "There are no records matching the selection critieria you have entered.";
// INI entries of section "Main".
inline constexpr char kMainWindowEntry[] = "Window";         // "x,y,width,height"
inline constexpr char kMainColumnsEntry[] = "ColumnWidths";  // "w1,w2,w3,w4,w5"
inline constexpr size_t kFindEntrySize = 20;

// One row of the list, fields in order.
struct MainListRow {
  uint8_t FULLCODE;
  int32_t FULLCODE_ICON;
  char NAME[100];          // CSTRING(100)
  char DESCRIPTION[1024];  // CSTRING(1024)
  char EXAMPLECODE[64000];
  char FORUMLINK[255];  // CSTRING(255)
  int32_t ID;
  uint8_t MARK;
  char VIEWPOSITION[1024];
};

// The list queue with its fields declared.
class MainListQueue : public Queue<MainListRow> {
 public:
  MainListQueue();
};

class MainWindow;

// The browse of Main: the quick find as its record filter, the icon column,
// and "No Matches".
class MainBrowse : public BrowseManager {
 public:
  explicit MainBrowse(MainWindow* window) : main_(window) {}
  RecordStatus ValidateRecord() override;
  Severity Fetch(int direction) override;
  void FillListRow() override;
  void RefillList(int mode) override;

 private:
  MainWindow* main_;
  QuickFindSettings find_;  // the settings of the fetch in progress
};

// The sort header of Main: a new order resets the browse.
class MainSortHeader : public SortHeader {
 public:
  explicit MainSortHeader(MainBrowse* browse) : browse_(browse) {}

 protected:
  void ApplyOrder(std::string_view order) override;

 private:
  MainBrowse* browse_;
};

class MainWindow : public WindowManager {
 public:
  MainWindow();
  ~MainWindow() override;

  Severity Init() override;
  Severity Kill() override;
  int RunProcedure(int32_t number, int32_t request) override;
  void RegisterKeys() override;
  Severity HandleAccepted() override;
  Severity HandleEvent() override;

  // The quick find (see the file comment).
  void ToggleFind();
  void TakeFindEntry();
  bool FindActive() const { return find_active_ != 0; }
  // The find text and the flags as the window holds them.
  const std::string& FindText() const { return find_text_; }
  bool IgnoreCase() const { return ignore_case_ != 0; }
  bool IncludeMemo() const { return include_memo_ != 0; }

  MainBrowse& Browse() { return browse_; }
  MainListQueue& ListQueue() { return *queue_; }
  Window& TheWindow() { return window_; }
  MainSortHeader& Sorter() { return sort_; }
  QueryManager& Query() { return query_; }

 private:
  // The find settings into the program-wide copy.
  void PublishFind();
  // Gives each control its resize strategy.
  void SetUpResizer();
  void SaveWindowSettings();
  void RestoreWindowSettings();

  Window window_;
  std::unique_ptr<MainListQueue> queue_;
  std::unique_ptr<BrowseListRows> rows_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
  MainBrowse browse_;
  MainSortHeader sort_;
  QueryManager query_;
  WindowResizer resizer_;
  bool files_opened_ = false;
  bool pushed_name_ = false;

  // The quick find's data.
  char find_entry_[kFindEntrySize] = {};  // STRING(20), the entry's variable
  std::string find_text_;                 // STRING(255)
  uint8_t find_active_ = 0;
  uint8_t ignore_case_ = 1;
  uint8_t include_memo_ = 1;
};

// The update procedure Main runs for insert, change and delete; by default
// update_functions. Tests put their own form in its place (nullptr puts
// the default back).
using UpdateProcedure = void (*)();
void SetMainUpdateProcedure(UpdateProcedure procedure);

// Runs the functions browse; LastResponse := its response.
void Main();

}  // namespace qzr

#endif  // QZR_APP_MAIN_BROWSE_H_
