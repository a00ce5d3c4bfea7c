// QueryDialog: the window "Query by Example Settings" (resource "KFQUERY")
// through which the user edits a browse's query by example.
//
// The window is a sheet of two tabs and three buttons below it:
//   "Saved Queries"   the saved queries (a list, most recently saved
//                     first), a name to save under, and "&Save",
//                     "&Restore" (or a double-click on a row), "De&lete";
//   "Query Settings"  one row per query field: its title and the entries
//                     "From" (LOW), "Example" (MIDDLE) and "To" (HIGH);
//   "&OK" applies the entries, "&Cancel" (or the close box) leaves the query
//   as it was, "C&lear" empties every entry (OK then applies the empty query).
//
// The dialog works on copies: the query manager's entries change only on OK.
// An entry is checked when the user leaves it: a value its column cannot
// read (a number, date or time that does not deformat with the column's
// picture) is refused there with a message and the entry keeps the focus;
// OK checks all entries and the length of the filter they make, and stays
// open with a message when anything is wrong. Saving stores what the
// entries hold at that moment (checked the same way); restoring puts a
// saved query into the entries (a saved column no longer offered is dropped
// with error 44) and shows the "Query Settings" tab; deleting asks first.
//
// Threads: runs on the calling thread, modal over that thread's top window.

#ifndef QZR_FRAMEWORK_QUERY_DIALOG_H_
#define QZR_FRAMEWORK_QUERY_DIALOG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/window_def.h"

namespace qzr {

class QUEUE;
class QueryManager;
class Window;

inline constexpr char kQueryDialogResource[] = "KFQUERY";
inline constexpr char kQueryDialogCaption[] = "Query by Example Settings";
// Caption of the dialog's own messages.
inline constexpr char kQueryMessageCaption[] = "Query by Example";

// Control numbers of the dialog. Query field i (1-based) has the controls
// kQbeFieldBase + 4 * (i - 1) (its title), + 1 (LOW), + 2 (MIDDLE), + 3
// (HIGH).
inline constexpr int kQbeSheet = 1;
inline constexpr int kQbeSavedTab = 2;
inline constexpr int kQbeSavedList = 3;
inline constexpr int kQbeNamePrompt = 4;
inline constexpr int kQbeName = 5;
inline constexpr int kQbeSave = 6;
inline constexpr int kQbeRestore = 7;
inline constexpr int kQbeDelete = 8;
inline constexpr int kQbeSettingsTab = 9;
inline constexpr int kQbeColumnHeading = 10;
inline constexpr int kQbeLowHeading = 11;
inline constexpr int kQbeMiddleHeading = 12;
inline constexpr int kQbeHighHeading = 13;
inline constexpr int kQbeOk = 14;
inline constexpr int kQbeCancel = 15;
inline constexpr int kQbeClear = 16;
inline constexpr int kQbeFieldBase = 17;

inline int QbeLowControl(int field) {
  return kQbeFieldBase + 4 * (field - 1) + 1;
}
inline int QbeMiddleControl(int field) {
  return kQbeFieldBase + 4 * (field - 1) + 2;
}
inline int QbeHighControl(int field) {
  return kQbeFieldBase + 4 * (field - 1) + 3;
}

// The window definition for `query`'s fields.
WindowDef QueryDialogDef(const QueryManager& query);

class QueryDialog {
 public:
  // REQUIRES: `query` outlives the dialog.
  explicit QueryDialog(QueryManager* query);
  virtual ~QueryDialog();
  QueryDialog(const QueryDialog&) = delete;
  QueryDialog& operator=(const QueryDialog&) = delete;

  // Runs the dialog. True when the user pressed OK (the manager holds the
  // new entries), false when cancelled or the window could not open.
  virtual bool Ask();

 private:
  struct Entries {
    std::string low, middle, high;
  };

  void ShowEntries(Window& w, const std::vector<Entries>& entries);
  std::vector<Entries> ReadEntries(const Window& w) const;
  // Puts `entries` into the manager (REQUIRES: each fits).
  void Store(const std::vector<Entries>& entries);
  std::vector<Entries> Current() const;
  // Checks every entry; on the first bad one shows why, selects it and
  // returns false.
  bool CheckAll(Window& w);
  void FillSaved(Window& w);
  std::string SelectedSaved(const Window& w) const;
  void Save(Window& w);
  void Restore(Window& w);
  void Delete(Window& w);

  QueryManager* query_;
  std::vector<std::string> saved_;
  std::unique_ptr<QUEUE> saved_rows_;  // the list's rows: the names
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_QUERY_DIALOG_H_
