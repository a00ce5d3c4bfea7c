// The catalogue's operations over FUNC.

#include "app/catalogue.h"

#include <cstdint>
#include <cstring>

#include "app/func_managers.h"
#include "app/quick_find.h"
#include "data/file_driver.h"
#include "framework/file_registry.h"
#include "framework/transaction_frame.h"
#include "runtime/core/runtime_error.h"

namespace qzr {
namespace {

std::string RuntimeErrorText() {
  std::string text = ERROR();
  if (text.empty()) text = "error " + std::to_string(ERRORCODE());
  return text;
}

void SetId(FileDescriptor* func, int32_t id) {
  std::memcpy(func->FieldData(kFunId), &id, sizeof id);
}

int32_t GetId(const FileDescriptor& func) {
  int32_t id = 0;
  std::memcpy(&id, func.FieldData(kFunId), sizeof id);
  return id;
}

}  // namespace

Severity FunctionsView::Open() {
  find_ = GlobalQuickFind();
  SetRecordFilterReadsMemos(QuickFindReadsCode(find_));
  return ViewManager::Open();
}

RecordStatus FunctionsView::ValidateRecord() {
  RecordStatus status = ViewManager::ValidateRecord();
  if (status != RecordStatus::kOk) return status;
  FileDescriptor* func = PrimaryDescriptor();
  if (func == nullptr) return status;
  return QuickFindPasses(*func, find_) ? RecordStatus::kOk : RecordStatus::kFiltered;
}

int BuildFunctionsView(FileDescriptor* func, View* view) {
  return ViewBuilder(func)
      .Project({"FUN:FULLCODE", "FUN:NAME", "FUN:DESCRIPTION"})
      .ProjectMemo("FUN:EXAMPLECODE")
      .Project({"FUN:ID", "FUN:FORUMLINK"})
      .Build(view);
}

Catalogue::~Catalogue() {
  Close();
}

bool Catalogue::Fail(CatalogueError* error, std::string text) {
  if (error != nullptr) {
    error->text = std::move(text);
    error->code = ERRORCODE();
    error->file_error = FILEERRORCODE();
  }
  return false;
}

bool Catalogue::Lock(CatalogueError* error) {
  FileDescriptor& func = FUNC();
  if (FuncAccess->EnsureUsable(kUseRead) != SeverityNone) {
    return Fail(error, "the catalogue file FUNC could not be opened: " + RuntimeErrorText());
  }
  FileArgs lock;
  lock.timeout = kCatalogueLockSeconds;
  if (CallFileOp(FileOp::LOCKfilesec, func, lock) != 0) {
    return Fail(error, "the catalogue is locked by another process");
  }
  return true;
}

void Catalogue::Unlock() {
  CallFileOp(FileOp::UNLOCK, FUNC());
}

bool Catalogue::Open(CatalogueError* error) {
  if (opened_) return true;
  if (FuncRelate == nullptr) return Fail(error, "the catalogue's file objects are not set up");
  if (FuncRelate->Open(true) != SeverityNone) {
    return Fail(error, "the catalogue file FUNC could not be opened: " + RuntimeErrorText());
  }
  opened_ = true;
  return true;
}

void Catalogue::Close() {
  if (!opened_) return;
  if (FuncRelate != nullptr) FuncRelate->Close(true);
  opened_ = false;
}

bool Catalogue::ForEach(const std::function<bool(const FuncEntry&)>& each, CatalogueError* error,
                        bool listing) {
  if (!Open(error)) return false;
  FileDescriptor& func = FUNC();
  View view;
  if (BuildFunctionsView(&func, &view) != 0) {
    return Fail(error, "the view of FUNC could not be built");
  }
  ViewEngine engine(&view);
  FunctionsView manager;
  manager.Init(&engine, FuncAccess, nullptr, &view);
  manager.PRIMARY = FuncRelate;
  manager.AddSortOrder(kFunPId);
  bool ok = true;
  // The whole view is read in one go: let the driver read ahead as a
  // browse does for a page of rows.
  engine.SetReadAhead(kMaxReadAhead);
  if (manager.Open() != SeverityNone) {
    ok = Fail(error, "the catalogue could not be read: " + RuntimeErrorText());
  }
  int32_t last_read = 0;
  while (ok) {
    SetId(&func, 0);
    Severity s = manager.Next();
    if (s == SeverityInform) break;
    if (s != SeverityNone) {
      // The row may have been read before its code failed: name it, else
      // the last entry read before the failure.
      const int32_t failed = GetId(func);
      std::string where =
          failed > last_read ? "entry " + std::to_string(failed) + " could not be read"
          : last_read > 0
              ? "the entry after entry " + std::to_string(last_read) + " could not be read"
              : "the first entry could not be read";
      ok = Fail(error, "reading the catalogue stopped: " + where + " (" + RuntimeErrorText() +
                           "); run 'qzrfunctions check'");
      break;
    }
    last_read = GetId(func);
    if (!each(listing ? ReadFuncListing(func) : ReadFuncEntry(func))) break;
  }
  manager.Close();
  manager.Kill();
  return ok;
}

bool Catalogue::Get(int32_t id, FuncEntry* entry, CatalogueError* error) {
  if (!Open(error)) return false;
  FileDescriptor& func = FUNC();
  SetId(&func, id);
  if (FuncAccess->Fetch(kFunPId) != SeverityNone) {
    // Fetch fails silently; say why.
    if (ERRORCODE() == kRecordNotFound || ERRORCODE() == kRecordNotAvailable) {
      return Fail(error, "no entry " + std::to_string(id));
    }
    return Fail(error, "entry " + std::to_string(id) + " could not be read: " + RuntimeErrorText());
  }
  *entry = ReadFuncEntry(func);
  return true;
}

bool Catalogue::Add(const FuncEntry& entry, int32_t* id, CatalogueError* error) {
  if (!Open(error)) return false;
  if (!Lock(error)) return false;
  FileDescriptor& func = FUNC();
  FuncEntry fresh = entry;
  fresh.id = 0;
  WriteFuncEntry(&func, fresh, true);
  if (FuncAccess->Insert(true) != SeverityNone) {
    Fail(error, "the entry could not be added: " + RuntimeErrorText());
    Unlock();
    return false;
  }
  Unlock();
  *id = GetId(func);
  return true;
}

bool Catalogue::Update(const FuncEntry& entry, bool* changed, CatalogueError* error) {
  *changed = false;
  FuncEntry stored;
  if (!Get(entry.id, &stored, error)) return false;
  // As a form saves: nothing is written when the entry equals the record
  // as read.
  if (stored == entry) return true;
  WriteFuncEntry(&FUNC(), entry, true);
  if (FuncRelate->Update(false) != SeverityNone) {
    return Fail(error, "entry " + std::to_string(entry.id) +
                           " could not be changed: " + RuntimeErrorText());
  }
  *changed = true;
  return true;
}

bool Catalogue::Delete(int32_t id, bool* declined, CatalogueError* error) {
  *declined = false;
  FuncEntry stored;
  if (!Get(id, &stored, error)) return false;
  Severity s = FuncRelate->Delete(true);
  if (s == SeverityNone) return true;
  if (s == SeverityDeclined) {
    *declined = true;
    return Fail(error, "entry " + std::to_string(id) + " was not deleted");
  }
  return Fail(error,
              "entry " + std::to_string(id) + " could not be deleted: " + RuntimeErrorText());
}

bool Catalogue::Import(const std::vector<FuncEntry>& entries, bool renumber,
                       std::vector<int32_t>* ids, CatalogueError* error) {
  ids->clear();
  if (!Open(error)) return false;
  FileDescriptor& func = FUNC();
  // Make the file usable before the transaction enlists it.
  if (!Lock(error)) return false;
  // All or none: the entries go in under one transaction, which a driver
  // without transactions cannot give.
  TransactionFrame frame;
  if (frame.Enlist(&func, 0) != 0 || !frame.Transactional()) {
    Fail(error, "the import could not start a transaction: " + RuntimeErrorText());
    Unlock();
    return false;
  }
  auto give_up = [&](const std::string& text) {
    Fail(error, text + "; nothing was imported");
    frame.Rollback();
    Unlock();
    ids->clear();
    return false;
  };
  // An import may hold more of its changes in memory before it writes them
  // than other transactions; a driver that cannot answers 80, and the import
  // goes on as it would.
  FileArgs bulk;
  bulk.property = kPropertyBulkLoad;
  DoFileOp(FileOp::DO_PROPERTY, func, bulk);
  ClearError();
  ids->assign(entries.size(), 0);
  // Entries that keep their ids first, so that numbering the others starts
  // past every id kept.
  std::vector<size_t> numbered;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string which = "entry " + std::to_string(i + 1);
    const int32_t given = entries[i].id;
    if (given <= 0) {
      numbered.push_back(i);
      continue;
    }
    SetId(&func, given);
    const bool taken = FuncAccess->Fetch(kFunPId) == SeverityNone;
    if (!taken && ERRORCODE() != kRecordNotFound && ERRORCODE() != kRecordNotAvailable) {
      return give_up(which + ": id " + std::to_string(given) + " could not be looked up (" +
                     RuntimeErrorText() + ")");
    }
    if (taken) {
      if (!renumber) {
        return give_up(which + ": id " + std::to_string(given) +
                       " is taken (use --renumber to give such entries new numbers)");
      }
      numbered.push_back(i);
      continue;
    }
    WriteFuncEntry(&func, entries[i], true);
    if (CallFileOp(FileOp::ADD, func) != 0) {
      return give_up(which + " could not be added (" + RuntimeErrorText() + ")");
    }
    (*ids)[i] = given;
  }
  // The first new entry is numbered by the file manager, from the highest
  // number in use; the file's lock and the transaction keep every other
  // process out, so the rest take the numbers after it in turn without
  // looking for the highest again. An entry whose number cannot be taken so
  // (past the largest, or refused) goes through the file manager, which
  // numbers it or says why it cannot.
  int64_t next = 0;  // 0: the next entry is numbered by the file manager
  for (size_t i : numbered) {
    WriteFuncEntry(&func, entries[i], true);
    if (next > 0 && next <= INT32_MAX) {
      SetId(&func, static_cast<int32_t>(next));
      if (CallFileOp(FileOp::ADD, func) == 0) {
        (*ids)[i] = static_cast<int32_t>(next++);
        continue;
      }
      WriteFuncEntry(&func, entries[i], true);
    }
    SetId(&func, 0);
    if (FuncAccess->Insert(true) != SeverityNone) {
      return give_up("entry " + std::to_string(i + 1) + " could not be added (" +
                     RuntimeErrorText() + ")");
    }
    (*ids)[i] = GetId(func);
    next = static_cast<int64_t>((*ids)[i]) + 1;
  }
  if (frame.Commit() != 0) {
    return give_up("the import could not be committed (" + RuntimeErrorText() + ")");
  }
  Unlock();
  return true;
}

}  // namespace qzr
