// The catalogue's operations as the program's commands use them: reading
// the entries through a view of FUNC in FUN:ID order (optionally through the
// quick find), fetching one entry, adding, changing and deleting entries
// through FuncAccess and FuncRelate, and importing a batch of entries in one
// transaction.
//
// FunctionsView is the view manager of the functions browse: the view over
// FUNC with the browse's fields, one sort order on FUN:P_ID, and the quick
// find as its record filter (GlobalQuickFind(), as it is when the view is
// opened). The window's browse and the command line's list and find read
// through it alike.
//
// Every operation returns false on failure. A failure the framework knows
// of is shown through AppErrors as it happens; CatalogueError says what went
// wrong in any case, for a caller whose user saw no message. REQUIRES (all): the main procedure has
// run InitFileObjects on this thread.
//
// Threads: one catalogue per thread, over the thread's FUNC and managers.

#ifndef QZR_APP_CATALOGUE_H_
#define QZR_APP_CATALOGUE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/func_file.h"
#include "app/quick_find.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "framework/view_manager.h"

namespace qzr {

// The view manager of the functions browse, with the quick find as its
// record filter.
class FunctionsView : public ViewManager {
 public:
  // Takes the program-wide quick find for the reading that follows: the
  // filter runs on this copy (no lock per row), and a find that does not
  // look into the code lets the view read a row's code only when the row
  // passes.
  Severity Open() override;
  RecordStatus ValidateRecord() override;

 private:
  QuickFindSettings find_;
};

// What went wrong, for a caller whose user was not told already by a
// framework message.
struct CatalogueError {
  std::string text;
  // The runtime error behind the failure, as posted when it happened
  // (ERRORCODE and FILEERRORCODE), so that a caller can tell a lock, a
  // read-only file or a full disk from other failures.
  int code = 0;
  std::string file_error;
};

// How long an add or an import waits for another process's add or import
// to end.
inline constexpr int kCatalogueLockSeconds = 5;

class Catalogue {
 public:
  Catalogue() = default;
  ~Catalogue();
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  // Opens FUNC through FuncRelate (creating it when missing).
  bool Open(CatalogueError* error);
  // Closes what Open opened.
  void Close();

  // Calls `each` for every entry in FUN:ID order that the quick find in
  // force lets through; `each` returns false to stop early. A read error
  // ends the walk with false, the error naming the entry that could not be
  // read (or the last one read before it). With `listing` each entry holds
  // only what a listing shows (ReadFuncListing), which spares copying every
  // entry's description and code.
  bool ForEach(const std::function<bool(const FuncEntry&)>& each, CatalogueError* error,
               bool listing = false);
  // Reads entry `id` into *entry; false (with "no entry N") when there is
  // none.
  bool Get(int32_t id, FuncEntry* entry, CatalogueError* error);
  // Adds `entry` (its id is ignored); the new FUN:ID in *id. The number is
  // taken and the entry added under the file's lock, which every add and
  // import of the command line takes, so that two processes adding at once
  // never race for one number (waits up to kCatalogueLockSeconds).
  bool Add(const FuncEntry& entry, int32_t* id, CatalogueError* error);
  // Replaces entry `entry.id` with `entry`. *changed says whether anything
  // was written (an unchanged entry is not).
  bool Update(const FuncEntry& entry, bool* changed, CatalogueError* error);
  // Deletes entry `id` after the confirmation "Confirm Delete" (the user's
  // answer; SeverityDeclined leaves *declined set).
  bool Delete(int32_t id, bool* declined, CatalogueError* error);
  // Adds `entries` in order, all or none: one transaction under the file's
  // lock (as Add), rolled back on the first failure. An entry with an id
  // (above 0) keeps it when no entry has it; a taken id (in the catalogue,
  // or given twice) fails the import, naming the entry and the id, unless
  // `renumber`, which numbers such an entry as new. Entries without an id
  // are numbered after the rest, from the highest number then in use. The
  // numbers given, in input order, in *ids.
  bool Import(const std::vector<FuncEntry>& entries, bool renumber, std::vector<int32_t>* ids,
              CatalogueError* error);

 private:
  bool Fail(CatalogueError* error, std::string text);
  // The file's lock, taken around numbering (LOCK with a timeout).
  bool Lock(CatalogueError* error);
  void Unlock();
  bool opened_ = false;
};

// Builds the browse's view of FUNC (its fields and the code memo) into
// *view. 0 or the view's error code.
int BuildFunctionsView(FileDescriptor* func, View* view);

}  // namespace qzr

#endif  // QZR_APP_CATALOGUE_H_
