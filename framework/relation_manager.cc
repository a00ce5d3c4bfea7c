// RelationManager: relation entries, the open and close traversals, quick
// scan, transaction framing, and the update and delete cascades. The
// linking-field lists are in relation_manager_links.cc.
//
// The state one operation needs across the managers it reaches lives in a
// per-thread context: the traversal counter, the transaction of the running
// Update or Delete, whether the tree is being walked without writing, and
// the records that enclosing steps are working on.

// clang-format off
#include "framework/file_manager_internal.h"  // first: see there
// clang-format on

#include "framework/relation_manager.h"

#include <algorithm>

#include "data/file_driver.h"
#include "framework/error_manager.h"
#include "framework/transaction_frame.h"
#include "runtime/core/runtime_error.h"
#include "ui/message.h"

namespace qzr {
namespace {

// How often one Delete repeats after the user chose "try again". A user
// answers a handful of times; an error manager set to give every question
// its default answer (Yes) would otherwise repeat a failing delete for ever.
constexpr int kMaxDeleteRounds = 100;

struct ThreadContext {
  int32_t stamp = 0;
  bool dry_run = false;
  // (file, position) of every record an enclosing step is working on.
  std::vector<std::pair<const FileDescriptor*, std::string>> in_progress;
};

ThreadContext& Context() {
  thread_local ThreadContext context;
  return context;
}

// A new traversal number. After 2^31 traversals the numbers start again at
// 1; a manager whose stamp is that old cannot be mistaken for visited
// unless it has been left alone through all of them.
int32_t NextStamp() {
  ThreadContext& c = Context();
  c.stamp = c.stamp >= INT32_MAX - 1 ? 1 : c.stamp + 1;
  return c.stamp;
}

bool InProgress(const FileDescriptor* file, const std::string& position) {
  if (position.empty()) return false;
  for (const auto& [f, p] : Context().in_progress) {
    if (f == file && p == position) return true;
  }
  return false;
}

class InProgressScope {
 public:
  InProgressScope(const FileDescriptor* file, std::string position) {
    Context().in_progress.emplace_back(file, std::move(position));
  }
  ~InProgressScope() { Context().in_progress.pop_back(); }
  InProgressScope(const InProgressScope&) = delete;
  InProgressScope& operator=(const InProgressScope&) = delete;
};

class DryRunScope {
 public:
  DryRunScope() : was_(Context().dry_run) { Context().dry_run = true; }
  ~DryRunScope() { Context().dry_run = was_; }
  DryRunScope(const DryRunScope&) = delete;
  DryRunScope& operator=(const DryRunScope&) = delete;

 private:
  bool was_;
};

// Enlists the files of `managers` in `frame` (see TransactionFrame::Enlist).
// A file that cannot be enlisted reports 24 on its manager, which is
// returned; nullptr when all are in (or stay out as their drivers have no
// transactions).
RelationManager* EnlistAll(TransactionFrame& frame, const std::vector<RelationManager*>& managers,
                           uint8_t timeout) {
  for (RelationManager* m : managers) {
    FileDescriptor* file = m->ME != nullptr ? m->ME->FILE : nullptr;
    if (frame.Enlist(file, timeout, m) != 0) {
      m->ME->RecordError(kErrTransactionFrame);
      return m;
    }
  }
  return nullptr;
}

// Commits the frame this operation began; the failing manager, or nullptr.
RelationManager* CommitFrame(TransactionFrame& frame) {
  RelationManager* failed = nullptr;
  return frame.Commit(&failed) != 0 ? failed : nullptr;
}

bool ValidMode(uint8_t mode) {
  return mode >= kRelationClear && mode <= kRelationCascade;
}

bool KeyIsNocase(const FileDescriptor* file, int key) {
  return file != nullptr && key >= 0 && static_cast<size_t>(key) < file->keys.size() &&
         (file->keys[static_cast<size_t>(key)].flags & kKeyNocase) != 0;
}

// The buffered linking values of every relation of a manager, kept across
// a walk: a cycle of relations can bring the walk back to a manager whose
// buffers an enclosing step is still comparing against.
class LinkBuffersKeeper {
 public:
  explicit LinkBuffersKeeper(std::vector<RelationEntry>* relations) : relations_(relations) {
    for (const RelationEntry& r : *relations_) {
      std::vector<std::vector<uint8_t>> b;
      for (const LinkingFields::Pair& p : r.FIELDS.LIST) b.push_back(p.BUFFER);
      saved_.push_back(std::move(b));
    }
  }
  ~LinkBuffersKeeper() {
    for (size_t i = 0; i < saved_.size() && i < relations_->size(); ++i) {
      auto& list = (*relations_)[i].FIELDS.LIST;
      for (size_t j = 0; j < saved_[i].size() && j < list.size(); ++j)
        list[j].BUFFER = saved_[i][j];
    }
  }
  LinkBuffersKeeper(const LinkBuffersKeeper&) = delete;
  LinkBuffersKeeper& operator=(const LinkBuffersKeeper&) = delete;

 private:
  std::vector<RelationEntry>* relations_;
  std::vector<std::vector<std::vector<uint8_t>>> saved_;
};

// A related file's state saved for the length of a walk and put back on
// every exit, with the manager's own settings the walk changes.
class WalkState {
 public:
  explicit WalkState(FileManager* me) : me_(me), skip_held_(me->SKIPHELDRECORDS) {
    // A walk must see every related record: one held by another station
    // stops it with a message instead of being passed over.
    me_->SKIPHELDRECORDS = 0;
    handle_ = me_->SaveFileState();
  }
  ~WalkState() {
    me_->RestoreFileState(handle_, true);
    me_->SKIPHELDRECORDS = skip_held_;
  }
  WalkState(const WalkState&) = delete;
  WalkState& operator=(const WalkState&) = delete;

 private:
  FileManager* me_;
  uint8_t skip_held_;
  uint16_t handle_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Set-up.

RelationManager::RelationManager() = default;

RelationManager::~RelationManager() {
  if (initialized_) RelationManager::Kill();
}

void RelationManager::Init(FileManager* fileManager, RelationManager* aliasOf) {
  if (initialized_) Kill();
  ME = fileManager;
  ALIASFILE = aliasOf;
  RELATIONS.clear();
  DEFEREDRELATIONSDONE = 0;
  LASTTOUCHED = 0;
  FORCINGOPEN = 0;
  if (ME != nullptr && ME->FILE != nullptr) {
    FileRegistry::Instance().AddRelationMapping(ME->FILE, this);
    registered_ = true;
  }
  initialized_ = true;
}

void RelationManager::Kill() {
  if (!initialized_) return;
  RELATIONS.clear();
  if (registered_) FileRegistry::Instance().RemoveRelationMapping(this);
  registered_ = false;
  initialized_ = false;
}

void RelationManager::EnsureRelations() {
  if (DEFEREDRELATIONSDONE) return;
  // Set first: an override that opens files or reaches this manager again
  // through a cycle must not add the relations twice.
  DEFEREDRELATIONSDONE = 1;
  AddDeferredRelations();
}

int RelationManager::AddRelation(RelationManager* related, uint8_t updateMode, uint8_t deleteMode,
                                 int hisKey, const std::vector<std::pair<int, int>>& fields) {
  if (ME == nullptr || ME->FILE == nullptr || related == nullptr || related->ME == nullptr ||
      related->ME->FILE == nullptr || fields.empty())
    return 0;
  FileDescriptor* mine = ME->FILE;
  FileDescriptor* theirs = related->ME->FILE;
  if (hisKey < 0 || static_cast<size_t>(hisKey) >= theirs->keys.size()) return 0;
  const KeyDesc& key = theirs->keys[static_cast<size_t>(hisKey)];
  // The walk positions the key on the linking values and reads while they
  // match, which finds every related record only when the linking fields
  // are the key's leading components, in order.
  if (fields.size() > key.components.size()) return 0;
  RelationEntry entry;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (key.components[i].field != fields[i].second) return 0;
    if (!entry.FIELDS.AddPair(mine, fields[i].first, theirs, fields[i].second)) return 0;
  }
  entry.FILE = related;
  entry.HISKEY = hisKey;
  entry.UPDATEMODE = updateMode;
  entry.DELETEMODE = deleteMode;
  RELATIONS.push_back(std::move(entry));
  return static_cast<int>(RELATIONS.size());
}

int RelationManager::AddRelation(RelationManager* related, uint8_t updateMode, uint8_t deleteMode,
                                 std::string_view hisKey,
                                 const std::vector<std::pair<std::string, std::string>>& fields) {
  if (ME == nullptr || ME->FILE == nullptr || related == nullptr || related->ME == nullptr ||
      related->ME->FILE == nullptr)
    return 0;
  std::vector<std::pair<int, int>> indexes;
  for (const auto& [left, right] : fields) {
    int l = ME->FILE->FieldIndex(left);
    int r = related->ME->FILE->FieldIndex(right);
    if (l < 0 || r < 0) return 0;
    indexes.emplace_back(l, r);
  }
  return AddRelation(related, updateMode, deleteMode, related->ME->FILE->KeyIndex(hisKey), indexes);
}

void RelationManager::SaveLinkingValues() {
  EnsureRelations();
  for (RelationEntry& r : RELATIONS) r.FIELDS.SaveLeft();
}

Severity RelationManager::CancelAutoNumber() {
  if (ME == nullptr) return SeverityInform;
  return ME->ReleaseAutoNumber(this);
}

bool RelationManager::CascadeDryRun() {
  return Context().dry_run;
}

void RelationManager::RollBack() {
  TransactionFrame::RollbackOpenFrame();
}

// ---------------------------------------------------------------------------
// Open and close traversals.

Severity RelationManager::Open(bool handleErrors) {
  if (ME == nullptr) return SeverityInform;
  uint8_t forcing = FORCINGOPEN;
  if (!ME->LAZYOPEN) FORCINGOPEN = 1;
  Severity s = OpenTree(NextStamp(), true, handleErrors);
  FORCINGOPEN = forcing;
  return s;
}

Severity RelationManager::Close(bool handleErrors) {
  if (ME == nullptr) return SeverityNone;
  CloseTree(NextStamp(), true, handleErrors);
  return SeverityNone;
}

Severity RelationManager::OpenForOperation() {
  if (ME == nullptr) return SeverityInform;
  uint8_t forcing = FORCINGOPEN;
  FORCINGOPEN = 1;
  Severity s = OpenTree(NextStamp(), true, true);
  FORCINGOPEN = forcing;
  return s;
}

void RelationManager::CloseAfterOperation() {
  uint8_t forcing = FORCINGOPEN;
  FORCINGOPEN = 1;
  CloseTree(NextStamp(), true, true);
  FORCINGOPEN = forcing;
}

Severity RelationManager::OpenTree(int32_t stamp, bool top, bool handleErrors) {
  if (LASTTOUCHED == stamp) return SeverityNone;
  LASTTOUCHED = stamp;
  Severity own = ME->Open(handleErrors, FORCINGOPEN != 0);
  if (own == SeverityNone && top) {
    own = ME->EnsureUsable(kUseRead);
    if (own != SeverityNone) ME->Close();  // the open counted; this one failed
  }
  if (top || FORCINGOPEN) EnsureRelations();
  if (own != SeverityNone) return own;

  // A related file that cannot be opened fails the whole open: the
  // relations could not be kept. What this traversal opened below this
  // manager is closed again, so that a failed open needs no Close.
  std::vector<size_t> grew;
  for (size_t i = 0; i < RELATIONS.size(); ++i) {
    RelationManager* related = RELATIONS[i].FILE;
    if (related == nullptr || related->ME == nullptr) continue;
    int32_t before = related->ME->OPENED;
    uint8_t forcing = related->FORCINGOPEN;
    related->FORCINGOPEN = FORCINGOPEN;
    Severity s = related->OpenTree(stamp, false, handleErrors);
    related->FORCINGOPEN = forcing;
    if (s != SeverityNone) {
      int32_t undo = NextStamp();
      LASTTOUCHED = undo;  // a cycle back to this manager stops here
      for (auto it = grew.rbegin(); it != grew.rend(); ++it) {
        RelationEntry& r = RELATIONS[*it];
        uint8_t f = r.FILE->FORCINGOPEN;
        r.FILE->FORCINGOPEN = FORCINGOPEN;
        r.FILE->CloseTree(undo, false, handleErrors);
        r.FILE->FORCINGOPEN = f;
        if (r.OPENED > 0) --r.OPENED;
      }
      ME->Close();
      return s;
    }
    if (related->ME->OPENED > before) {
      ++RELATIONS[i].OPENED;
      grew.push_back(i);
    }
  }
  return SeverityNone;
}

void RelationManager::CloseTree(int32_t stamp, bool top, bool handleErrors) {
  if (LASTTOUCHED == stamp) return;
  LASTTOUCHED = stamp;
  ME->Close();
  if (top || FORCINGOPEN) EnsureRelations();
  for (RelationEntry& r : RELATIONS) {
    if (r.OPENED == 0 || r.FILE == nullptr || r.FILE->ME == nullptr) continue;
    int32_t before = r.FILE->ME->OPENED;
    uint8_t forcing = r.FILE->FORCINGOPEN;
    r.FILE->FORCINGOPEN = FORCINGOPEN;
    r.FILE->CloseTree(stamp, false, handleErrors);
    r.FILE->FORCINGOPEN = forcing;
    if (r.FILE->ME->OPENED < before) --r.OPENED;
  }
}

// ---------------------------------------------------------------------------
// Quick scan.

Severity RelationManager::SwitchQuickScan(bool on, bool propagate) {
  if (ME == nullptr) return SeverityNone;
  RuntimeErrorKeeper keep;
  QuickScanTree(NextStamp(), on, propagate);
  return SeverityNone;
}

void RelationManager::QuickScanTree(int32_t stamp, bool on, bool propagate) {
  if (LASTTOUCHED == stamp) return;
  LASTTOUCHED = stamp;
  if (ME->FILE != nullptr) {
    FileArgs a;
    a.driver_string = on ? "QUICKSCAN=on" : "QUICKSCAN=off";
    CallFileOp(FileOp::SEND, *ME->FILE, a);
  }
  if (!propagate) return;
  EnsureRelations();
  for (RelationEntry& r : RELATIONS) {
    if (r.FILE != nullptr && r.FILE->ME != nullptr) r.FILE->QuickScanTree(stamp, on, propagate);
  }
}

// ---------------------------------------------------------------------------
// Transactions.

namespace {

// Adds `m` and, by the rules of an update (`deleting` false) or a delete,
// its related files. `seen` keeps (manager, rules) pairs already expanded,
// so cycles end.
void Collect(RelationManager* m, bool deleting, std::vector<RelationManager*>* into,
             std::vector<std::pair<RelationManager*, bool>>* seen) {
  if (m == nullptr || m->ME == nullptr) return;
  if (std::find(seen->begin(), seen->end(), std::make_pair(m, deleting)) != seen->end()) return;
  seen->emplace_back(m, deleting);
  if (std::find(into->begin(), into->end(), m) == into->end()) into->push_back(m);
  m->EnsureRelations();
  for (RelationEntry& r : m->RELATIONS) {
    if (!deleting) {
      if (r.UPDATEMODE == kRelationClear || r.UPDATEMODE == kRelationCascade)
        Collect(r.FILE, false, into, seen);
    } else if (r.DELETEMODE == kRelationCascade) {
      Collect(r.FILE, true, into, seen);
    } else if (r.DELETEMODE == kRelationClear) {
      // Cleared records are written back, and their own relations follow
      // by their update modes.
      Collect(r.FILE, false, into, seen);
    }
  }
}

}  // namespace

void RelationManager::CollectUpdateFiles(std::vector<RelationManager*>* into) {
  std::vector<std::pair<RelationManager*, bool>> seen;
  Collect(this, false, into, &seen);
}

void RelationManager::CollectDeleteFiles(std::vector<RelationManager*>* into) {
  std::vector<std::pair<RelationManager*, bool>> seen;
  Collect(this, true, into, &seen);
}

// ---------------------------------------------------------------------------
// Positions.

std::string RelationManager::TakePosition() {
  if (ME == nullptr || ME->FILE == nullptr || !ME->FILE->IsOpen()) return {};
  RuntimeErrorKeeper keep;
  FileArgs a;
  if (CallFileOp(FileOp::POSITIONfile, *ME->FILE, a) != 0) return {};
  return internal::PositionText(a);
}

void RelationManager::Reposition(const std::string& position) {
  if (position.empty() || ME->FILE == nullptr || !ME->FILE->IsOpen()) return;
  RuntimeErrorKeeper keep;
  uint16_t buffer = ME->SaveRecordBuffer();
  Reget(position);
  ME->RestoreRecordBuffer(buffer, true);
}

int RelationManager::Reget(const std::string& position) {
  FileArgs a;
  internal::SetRegetPosition(position, &a);
  return CallFileOp(FileOp::REGETfile, *ME->FILE, a);
}

// ---------------------------------------------------------------------------
// Update.

void RelationManager::NoteStoredLinkingValues() {
  EnsureRelations();
  if (RELATIONS.empty()) return;
  std::string position = TakePosition();
  if (!position.empty()) {
    RuntimeErrorKeeper keep;
    uint16_t state = ME->SaveFileState();
    bool read = Reget(position) == 0;
    if (read) SaveLinkingValues();
    ME->RestoreFileState(state, true);  // the edited record back in the buffer
    if (read) return;
  }
  // The driver cannot read the stored record back: the values noted when
  // the record was taken (SaveLinkingValues) stand; without them nothing
  // counts as changed.
  for (RelationEntry& r : RELATIONS) {
    for (LinkingFields::Pair& p : r.FIELDS.LIST) {
      if (p.BUFFER.empty()) {
        r.FIELDS.SaveLeft();
        break;
      }
    }
  }
}

Severity RelationManager::CascadeChangedLinks() {
  for (RelationEntry& r : RELATIONS) {
    if (!ValidMode(r.UPDATEMODE) || r.FILE == nullptr || r.FIELDS.Unchanged()) continue;
    Severity s = r.FILE->CascadeUpdate(r.HISKEY, r.FIELDS, r.UPDATEMODE);
    if (s != SeverityNone) return s;
  }
  return SeverityNone;
}

Severity RelationManager::Update(bool fromForm) {
  if (ME == nullptr) return SeverityInform;
  PREVUSELOGOUT = USELOGOUT;
  const bool use_logout = USELOGOUT != 0;
  Severity opened = OpenForOperation();
  if (opened != SeverityNone) return opened;
  NoteStoredLinkingValues();

  auto restore_links = [this] {
    for (RelationEntry& r : RELATIONS) r.FIELDS.RestoreLeft();
  };
  const std::string position = TakePosition();
  Severity result = SeverityNone;
  {
    TransactionFrame frame;
    RelationManager* failed = nullptr;
    if (use_logout) {
      std::vector<RelationManager*> files;
      CollectUpdateFiles(&files);
      failed = EnlistAll(frame, files, LOGOUTTIMEOUT);
    }
    if (failed != nullptr) {
      failed->ME->ThrowCurrent();
      result = SeverityInform;
    } else {
      InProgressScope self(ME->FILE, position);
      if (!frame.Transactional()) {
        // Nothing could undo a refusal found half-way: check the whole
        // tree before writing anything.
        DryRunScope dry;
        result = CascadeChangedLinks();
        if (result != SeverityNone) restore_links();
      }
      if (result == SeverityNone) {
        Severity written = ME->Update(kUpdateReportOnly);
        if (written != SeverityNone) {
          RollBack();
          if (written == SeverityQuestion) {
            // The record's check refused it; LASTERROR says nothing of it.
            result = SeverityQuestion;
          } else {
            if (written == SeverityInform) {
              if (fromForm && ME->LASTERROR == kErrChangedByOther)
                ME->LASTERROR = kErrChangedByOtherShown;
              ME->ThrowCurrent();
            }
            result = ME->LASTERROR == kErrChangedByOther || ME->LASTERROR == kErrChangedByOtherShown
                         ? SeverityInform
                         : SeverityQuestion;
          }
        }
      }
      if (result == SeverityNone) {
        result = CascadeChangedLinks();
        if (result != SeverityNone) {
          RollBack();
          restore_links();
        }
      }
      if (result == SeverityNone) {
        if (RelationManager* m = CommitFrame(frame); m != nullptr) {
          // Nothing of the update was kept.
          m->ME->RecordError(kErrRecordUpdate);
          m->ME->ThrowCurrent();
          restore_links();
          result = SeverityInform;
        }
      }
    }
  }
  // A record changed by another station is in the buffer as that station
  // left it, positioned already; after any other failure the record the
  // user is editing is made current again.
  if (result != SeverityNone && ME->LASTERROR != kErrChangedByOther &&
      ME->LASTERROR != kErrChangedByOtherShown)
    Reposition(position);
  // The noted values spoke of the record as it was read; the next update
  // notes them afresh.
  for (RelationEntry& r : RELATIONS) r.FIELDS.ForgetBuffers();
  CloseAfterOperation();
  USELOGOUT = PREVUSELOGOUT;
  return result;
}

// ---------------------------------------------------------------------------
// Delete.

Severity RelationManager::CascadeDeletes(bool ask) {
  for (RelationEntry& r : RELATIONS) {
    if (!ValidMode(r.DELETEMODE) || r.FILE == nullptr) continue;
    Severity s = r.FILE->CascadeDelete(r.HISKEY, r.FIELDS, r.DELETEMODE, ask);
    if (s != SeverityNone) return s;
  }
  return SeverityNone;
}

Severity RelationManager::Delete(bool ask) {
  if (ME == nullptr) return SeverityInform;
  if (ask && ME->Throw(kErrConfirmDelete) != SeverityNone) return SeverityDeclined;
  PREVUSELOGOUT = USELOGOUT;
  Severity result = SeverityNone;
  // The record's position is taken once: a rolled-back try leaves the file
  // without a current record, and every try deletes the same record.
  std::string position = TakePosition();
  for (int round = 1;; ++round) {
    result = DeleteOnce(&position);
    if (result == SeverityNone) break;
    if (ME->ERRORS == nullptr) break;
    ME->ERRORS->SetFile(ME->FileName());
    Severity answer = ME->ERRORS->Throw(kErrRetryDelete);
    if (answer != SeverityNone) {
      result = answer;
      break;
    }
    if (round >= kMaxDeleteRounds) break;
  }
  USELOGOUT = PREVUSELOGOUT;
  return result;
}

Severity RelationManager::DeleteOnce(std::string* where) {
  const bool use_logout = USELOGOUT != 0;
  WaitCursor busy;
  Severity opened = OpenForOperation();
  if (opened != SeverityNone) return opened;
  if (where->empty()) *where = TakePosition();  // opened just now
  const std::string& position = *where;

  Severity result = SeverityNone;
  {
    TransactionFrame frame;
    RelationManager* failed = nullptr;
    if (use_logout) {
      std::vector<RelationManager*> files;
      CollectDeleteFiles(&files);
      failed = EnlistAll(frame, files, LOGOUTTIMEOUT);
    }
    if (failed != nullptr) {
      failed->ME->ThrowCurrent();
      result = SeverityInform;
    } else if (!position.empty() && Reget(position) != 0) {
      // The record is gone or unreadable: deleting what the buffer still
      // shows would work on a record that is no longer there.
      ME->RecordError(kErrRecordDelete);
      RollBack();
      ME->ThrowCurrent();
      result = SeverityInform;
    } else {
      InProgressScope self(ME->FILE, position);
      EnsureRelations();
      if (!frame.Transactional()) {
        DryRunScope dry;
        result = CascadeDeletes(false);
      }
      if (result == SeverityNone) result = CascadeDeletes(false);
      if (result == SeverityNone) {
        Severity d = ME->Delete(false);
        if (d != SeverityNone) {
          RollBack();
          if (d == SeverityInform) ME->ThrowCurrent();
          result = SeverityInform;
        } else if (RelationManager* m = CommitFrame(frame); m != nullptr) {
          m->ME->RecordError(kErrRecordDelete);
          m->ME->ThrowCurrent();
          result = SeverityInform;
        }
      }
    }
    if (result != SeverityNone) RollBack();
  }
  if (result != SeverityNone) Reposition(position);
  CloseAfterOperation();
  return result;
}

// ---------------------------------------------------------------------------
// The walks.

Severity RelationManager::FindRelated(int hisKey, LinkingFields& linking, bool buffered,
                                      size_t limit, std::vector<std::string>* positions) {
  FileDescriptor* file = ME->FILE;
  internal::ClearRecord(file);
  if (buffered) {
    linking.AssignBufferToRight();
  } else {
    linking.AssignLeftToRight();
  }
  // The key components after the linking ones start at their lowest value
  // in key order, so the first entry read is the first related record.
  const KeyDesc& key = file->keys[static_cast<size_t>(hisKey)];
  for (size_t c = linking.Count(); c < key.components.size(); ++c) {
    int f = key.components[c].field;
    if (f < 0 || static_cast<size_t>(f) >= file->fields.size()) continue;
    const FieldDesc& d = file->fields[static_cast<size_t>(f)];
    if (d.offset + d.size > file->record.size()) continue;
    UfoSlot slot;
    slot.Make(d.type, file->FieldData(f), d.size, d.places)
        ->Clear(key.components[c].descending ? 1 : -1);
  }
  FileArgs a;
  a.key = hisKey;
  if (CallFileOp(FileOp::SETkeykey, *file, a) != 0) {
    ME->RecordError(kErrRecordRetrieval);
    RollBack();
    ME->ThrowCurrent();
    return SeverityInform;
  }
  const bool nocase = KeyIsNocase(file, hisKey);
  for (;;) {
    Severity s = ME->ReadNext(false);
    if (s == SeverityInform && ME->ATEOF) return SeverityNone;
    if (s != SeverityNone) {
      // A held record (31) or a read error (1): a related record the walk
      // cannot see would be left behind.
      RollBack();
      ME->ThrowCurrent();
      return SeverityInform;
    }
    bool match = buffered ? linking.BufferEqualsRight(nocase) : linking.LeftEqualsRight(nocase);
    if (!match) return SeverityNone;
    if (!CascadeFilter()) continue;
    std::string position = TakePosition();
    if (InProgress(file, position)) continue;
    positions->push_back(std::move(position));
    if (limit != 0 && positions->size() >= limit) return SeverityNone;
  }
}

Severity RelationManager::WriteRelated() {
  Severity s = ME->Update(kUpdateReportOnly);
  if (s == SeverityNone) return SeverityNone;
  RollBack();
  if (s == SeverityInform) ME->ThrowCurrent();
  return SeverityInform;
}

Severity RelationManager::CascadeDelete(int hisKey, LinkingFields& linkingFields, uint8_t mode,
                                        bool ask) {
  // A record a step of this operation has taken away or relinked since it
  // was found is no longer this walk's.
  return WalkRelated(
      hisKey, linkingFields, mode, false,
      [&](bool nocase) { return linkingFields.LeftEqualsRight(nocase); },
      [&] { return CascadeOneDelete(linkingFields, mode, ask); });
}

Severity RelationManager::WalkRelated(int hisKey, LinkingFields& linking, uint8_t mode,
                                      bool buffered,
                                      const std::function<bool(bool nocase)>& matches,
                                      const std::function<Severity()>& visit) {
  if (!ValidMode(mode) || ME == nullptr || ME->FILE == nullptr) return SeverityNone;
  if (hisKey < 0 || static_cast<size_t>(hisKey) >= ME->FILE->keys.size()) return SeverityNone;
  EnsureRelations();
  if (ME->EnsureUsable(kUseRead) != SeverityNone) {
    RollBack();
    return SeverityInform;
  }
  LinkBuffersKeeper links(&RELATIONS);
  WalkState state(ME);
  std::vector<std::string> positions;
  Severity result =
      FindRelated(hisKey, linking, buffered, mode == kRelationRestrict ? 1 : 0, &positions);
  const bool nocase = KeyIsNocase(ME->FILE, hisKey);
  for (const std::string& position : positions) {
    if (result != SeverityNone) break;
    if (Reget(position) != 0 || !matches(nocase)) continue;
    InProgressScope self(ME->FILE, position);
    result = visit();
  }
  return result;
}

Severity RelationManager::CascadeOneDelete(LinkingFields& linking, uint8_t mode, bool ask) {
  switch (mode) {
    case kRelationRestrict:
      ME->RecordError(kErrRestrictDelete);
      RollBack();
      ME->ThrowCurrent();
      return SeverityInform;
    case kRelationClear: {
      SaveLinkingValues();
      linking.ClearRight();
      if (CascadeChangedLinks() != SeverityNone) return SeverityInform;
      if (CascadeDryRun()) return SeverityNone;
      return WriteRelated();
    }
    case kRelationCascade: {
      Severity s = CascadeDeletes(ask);
      if (s != SeverityNone) return s;
      if (CascadeDryRun()) return SeverityNone;
      s = ME->Delete(ask);
      if (s == SeverityNone) return SeverityNone;
      RollBack();
      if (s == SeverityDeclined) return SeverityDeclined;  // not confirmed: nothing to show
      if (s == SeverityInform) ME->ThrowCurrent();
      return SeverityInform;
    }
    default:
      return SeverityNone;
  }
}

Severity RelationManager::CascadeUpdate(int hisKey, LinkingFields& linkingFields, uint8_t mode) {
  return WalkRelated(
      hisKey, linkingFields, mode, true,
      [&](bool nocase) { return linkingFields.BufferEqualsRight(nocase); },
      [&] { return CascadeOneUpdate(linkingFields, mode); });
}

Severity RelationManager::CascadeOneUpdate(LinkingFields& linking, uint8_t mode) {
  if (mode == kRelationRestrict) {
    ME->RecordError(kErrRestrictUpdate);
    RollBack();
    ME->ThrowCurrent();
    return SeverityInform;
  }
  // This record's own relations compare against its values as read.
  SaveLinkingValues();
  if (mode == kRelationClear) {
    linking.ClearRight();
  } else {
    linking.AssignLeftToRight();
  }
  // The walk's saved state puts this record's buffer back when it leaves,
  // so a failure needs no restoring here beyond the transaction.
  Severity s = CascadeChangedLinks();
  if (s != SeverityNone) {
    RollBack();
    return s;
  }
  if (CascadeDryRun()) return SeverityNone;
  return WriteRelated();
}

}  // namespace qzr
