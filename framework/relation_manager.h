// RelationManager: keeps the files of a database consistent with each other.
//
// Each file has one relation manager beside its file manager (ME). It knows
// the file's relations to other files: which fields link a record of this
// file to records of the related file, the related file's key that leads
// with those fields, and what an update or a delete of this file's record
// does to the related records (the modes below). It opens and closes the
// file together with its related files, and performs an update or a delete
// as one unit: the record itself and, recursively, the related records,
// framed in a transaction when USELOGOUT is set.
//
// Relations are added with AddRelation, normally from an override of
// AddDeferredRelations, which runs once, on first need. A relation is one
// way: a related file that must cascade back needs the mirror entry on its
// own manager. Cyclic relation graphs are allowed: every traversal (open,
// close, quick scan) stamps the managers it visits (LASTTOUCHED) and visits
// each once, and a cascade never works on a record that an enclosing step
// of the same operation is working on.
//
// Relation modes (UPDATEMODE, DELETEMODE):
//   0 none      the relation is ignored for this operation;
//   1 clear     the related records' linking fields are blanked and the
//               records written back (their own relations follow);
//   2 restrict  the operation is refused while related records exist;
//   3 cascade   update: the related records receive the new linking values;
//               delete: the related records are deleted, theirs first.
//   Any other value is ignored, as 0.
//
// Atomicity. With USELOGOUT the operation runs in a driver transaction
// (LOGOUT on every file taking part, COMMIT at the end, ROLLBACK on every
// failing path before the message is shown); a file whose driver has no
// transactions (runtime error 80) takes part without one. Without a
// transaction the operation first walks the relation tree without writing
// anything, so that a restrict relation anywhere in the tree refuses the
// operation before any record has changed; a write that fails half-way
// through can then still leave the earlier writes in place, which only a
// transaction undoes.
//
// Threads: relation managers, like file managers, belong to one thread. The
// traversal counter, the active transaction and the records in progress are
// per thread, so the managers of different threads never meet.

#ifndef QZR_FRAMEWORK_RELATION_MANAGER_H_
#define QZR_FRAMEWORK_RELATION_MANAGER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/file_descriptor.h"
#include "framework/file_manager.h"
#include "framework/severity.h"

namespace qzr {

// Framework error numbers the relation manager uses (and those of the file
// manager, notably 7 and 8 for a record changed by another station).
inline constexpr int32_t kErrTransactionFrame = 24;
inline constexpr int32_t kErrRestrictDelete = 33;
inline constexpr int32_t kErrRestrictUpdate = 34;
inline constexpr int32_t kErrRetryDelete = 36;

// Relation modes.
inline constexpr uint8_t kRelationNone = 0;
inline constexpr uint8_t kRelationClear = 1;
inline constexpr uint8_t kRelationRestrict = 2;
inline constexpr uint8_t kRelationCascade = 3;

// The linking fields of one relation: pairs of a field of this file (left)
// and a field of the related file (right), each with a buffered copy of the
// left value as it was when the record was read. Values move between fields
// through field objects, so the two sides may differ in type and size (a
// LONG may link to a DECIMAL or to text); comparisons are by value.
class LinkingFields {
 public:
  struct Pair {
    FileDescriptor* LEFTFILE = nullptr;
    int LEFT = -1;  // field index in LEFTFILE
    FileDescriptor* RIGHTFILE = nullptr;
    int RIGHT = -1;               // field index in RIGHTFILE
    std::vector<uint8_t> BUFFER;  // the left value as noted; empty: not noted
  };

  // Appends a pair. Returns false, adding nothing, when an index is out of
  // range or a field lies outside its record buffer.
  bool AddPair(FileDescriptor* left, int left_field, FileDescriptor* right, int right_field);
  size_t Count() const { return LIST.size(); }

  // Right fields := left values.
  void AssignLeftToRight();
  // Right fields := buffered left values (the left values where none is
  // noted).
  void AssignBufferToRight();
  // Right fields blanked: numbers 0, strings empty.
  void ClearRight();
  // True iff every left value equals its right value. `nocase` compares
  // text folded to upper case, as a case-insensitive key orders it.
  bool LeftEqualsRight(bool nocase = false) const;
  // True iff every buffered left value equals its right value.
  bool BufferEqualsRight(bool nocase = false) const;
  // True iff every left value equals its buffered copy (a pair whose value
  // was never noted counts as unchanged).
  bool Unchanged() const;
  // Buffered copies := left values.
  void SaveLeft();
  // Left fields := buffered copies.
  void RestoreLeft();
  // Forgets the buffered copies.
  void ForgetBuffers();

  std::vector<Pair> LIST;
};

// A RELATIONS entry.
struct RelationEntry {
  class RelationManager* FILE = nullptr;  // the related file's manager
  LinkingFields FIELDS;
  int HISKEY = -1;  // the related file's key (index in its declaration)
  uint8_t UPDATEMODE = kRelationNone;
  uint8_t DELETEMODE = kRelationNone;
  uint8_t OPENED = 0;  // opens of the related file this relation is responsible for
};

class RelationManager : public RelationManagerInterface {
 public:
  RelationManager();
  // Runs Kill when it has not run.
  ~RelationManager() override;

  RelationManager(const RelationManager&) = delete;
  RelationManager& operator=(const RelationManager&) = delete;

  // ME := `fileManager`; RELATIONS emptied; ALIASFILE := `aliasOf` (the
  // relation manager of the real file when this file is an alias of it);
  // registers the manager in the file registry under the file's identity.
  // A second Init first kills what the first one set up.
  virtual void Init(FileManager* fileManager, RelationManager* aliasOf = nullptr);
  // Once: releases the relations and their linking lists and leaves the
  // registry. ME is not killed: it has its own owner.
  virtual void Kill();

  // Adds the relations; empty here. Runs once, before the relations are
  // first needed (DEFEREDRELATIONSDONE). An override calls AddRelation.
  virtual void AddDeferredRelations() {}
  // Runs AddDeferredRelations unless it has run.
  void EnsureRelations();

  // Appends a RELATIONS entry: records of `related`'s file are linked to
  // this file's record by `fields`, pairs of (a field of this file, a field
  // of the related file), given by label or by index. `hisKey` is the
  // related file's key (label or index) whose leading components are the
  // related fields, in pair order; a cascade walks that key. Returns the
  // entry's 1-based position, or 0 (nothing added) when `related` is not
  // initialised, the key or a field does not exist, or the related fields
  // are not the key's leading components. The related file needs the mirror
  // entry on its own manager if it must cascade back.
  int AddRelation(RelationManager* related, uint8_t updateMode, uint8_t deleteMode, int hisKey,
                  const std::vector<std::pair<int, int>>& fields);
  int AddRelation(RelationManager* related, uint8_t updateMode, uint8_t deleteMode,
                  std::string_view hisKey,
                  const std::vector<std::pair<std::string, std::string>>& fields);

  // Opens this file and its related files (one traversal). Without
  // LAZYOPEN the related files are opened physically and recursively
  // (FORCINGOPEN); with it only counted, as the file manager counts a lazy
  // open. When a file of the tree cannot be opened, what the traversal
  // opened is closed again and the failure is returned: a failed Open needs
  // no Close.
  virtual Severity Open(bool handleErrors = true);
  // Closes this file and undoes the related opens recorded in the
  // relations' OPENED counters. Returns SeverityNone.
  virtual Severity Close(bool handleErrors = true);

  // Writes the record in ME's buffer and carries a change of its linking
  // values to the related records. `fromForm` reports a record changed by
  // another station with error 8 (its changes are now displayed) instead
  // of 7. SeverityNone on success; SeverityQuestion when the record was
  // refused (a failed check, or a write error other than 7 or 8: the caller
  // may offer to save again); SeverityInform otherwise (shown already).
  Severity Update(bool fromForm = false);
  // Deletes the record in ME's buffer with its related records. With `ask`,
  // confirms first (error 11; SeverityDeclined when not confirmed). A
  // failure offers to try again (error 36): Yes repeats the whole delete,
  // any other answer is returned.
  Severity Delete(bool ask = true) override;

  // The walks run on the related file's manager by its parent's Update and
  // Delete: the related records are found through `hisKey` with the
  // parent's old (CascadeUpdate) or current (CascadeDelete) linking values,
  // and treated by `mode`. Each restores this file's state (position and
  // buffer) before it returns.
  virtual Severity CascadeUpdate(int hisKey, LinkingFields& linkingFields, uint8_t mode);
  virtual Severity CascadeDelete(int hisKey, LinkingFields& linkingFields, uint8_t mode, bool ask);

  // Sends "QUICKSCAN=on" or "QUICKSCAN=off" to the file's driver and, with
  // `propagate`, to the related files (each once). A driver that does not
  // know the command keeps reading as before; the call never fails and
  // leaves the thread's runtime error as it was.
  Severity SwitchQuickScan(bool on, bool propagate = true);

  // Notes the current values of this file's linking fields (the buffered
  // copies) for every relation. A form calls it when it takes a record for
  // editing; Update and the cascades note the stored record's values
  // themselves, so this is the fall-back for a driver that cannot re-read
  // a record by position.
  void SaveLinkingValues();

  // Releases the record that automatic numbering reserved for an insert
  // that is abandoned, together with its related records.
  Severity CancelAutoNumber();

  // Whether the current record of this file counts in a cascade or a
  // restrict check; the base counts every record. An override passes over
  // records the application treats as gone.
  virtual bool CascadeFilter() { return true; }

  // True while the cascade that is running only checks (no transaction
  // frames the operation, so the tree is first walked without writing):
  // an override of the cascades must not write then.
  static bool CascadeDryRun();

  // Fields.
  FileManager* ME = nullptr;
  std::vector<RelationEntry> RELATIONS;
  RelationManager* ALIASFILE = nullptr;
  uint8_t PREVUSELOGOUT = 0;  // USELOGOUT as the running Update or Delete found it
  uint8_t USELOGOUT = 0;
  uint8_t LOGOUTTIMEOUT = 0;
  int32_t LASTTOUCHED = 0;
  uint8_t FORCINGOPEN = 0;
  uint8_t DEFEREDRELATIONSDONE = 0;

 protected:
  // Rolls back the transaction of the running operation, if there is one
  // and it has not been rolled back yet.
  void RollBack();

 private:
  struct Collected;

  Severity OpenTree(int32_t stamp, bool top, bool handleErrors);
  void CloseTree(int32_t stamp, bool top, bool handleErrors);
  Severity OpenForOperation();
  void CloseAfterOperation();
  void QuickScanTree(int32_t stamp, bool on, bool propagate);
  // The files a transaction for an update (or a delete) must enlist.
  void CollectUpdateFiles(std::vector<RelationManager*>* into);
  void CollectDeleteFiles(std::vector<RelationManager*>* into);
  // One try of Delete on the record at *position (taken here when empty).
  Severity DeleteOnce(std::string* position);
  // Notes the linking values of the record as stored (falls back on the
  // values noted by SaveLinkingValues, else the buffer's).
  void NoteStoredLinkingValues();
  // Runs the update cascades of the relations whose linking values changed.
  Severity CascadeChangedLinks();
  Severity CascadeDeletes(bool ask);
  // Positions of the records of this file whose linking fields equal the
  // parent's old (`buffered`) or current values; at most `limit` (0: all).
  Severity FindRelated(int hisKey, LinkingFields& linking, bool buffered, size_t limit,
                       std::vector<std::string>* positions);
  // The walk shared by CascadeUpdate and CascadeDelete: finds every related
  // record of `hisKey` first (a change moves records within the key), then
  // visits each that still `matches` and hands it to `visit`, stopping at
  // the first result other than SeverityNone.
  Severity WalkRelated(int hisKey, LinkingFields& linking, uint8_t mode, bool buffered,
                       const std::function<bool(bool nocase)>& matches,
                       const std::function<Severity()>& visit);
  Severity CascadeOneDelete(LinkingFields& linking, uint8_t mode, bool ask);
  Severity CascadeOneUpdate(LinkingFields& linking, uint8_t mode);
  // Writes the current record after a cascade changed it; reports and
  // rolls back on failure.
  Severity WriteRelated();
  std::string TakePosition();
  int Reget(const std::string& position);
  // Makes the record at `position` current again (a rollback leaves the
  // file without one) and keeps the buffer as it is.
  void Reposition(const std::string& position);

  bool registered_ = false;
  bool initialized_ = false;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_RELATION_MANAGER_H_
