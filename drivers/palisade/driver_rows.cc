// The driver's row operations: reads in row and key order, writes with
// their commit, holds and locks, states, and transactions.
//
// Every operation runs inside an operation bracket (OpScope). A changing
// operation outside STREAM and outside a transaction is written out before
// its bracket closes, so that it is committed under the writer byte; a
// changing operation that fails drops what it changed in memory.
//
// Called only under the driver's process-wide mutex.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "data/file_ops.h"
#include "drivers/palisade/driver_state.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/memo.h"
#include "drivers/palisade/transaction.h"
#include "runtime/core/runtime_error.h"

namespace qzr::palisade {
namespace {

// ---- Transactions ---------------------------------------------------------

// The descriptors of the process's transaction (LOGOUT until COMMIT or
// ROLLBACK); the commit protocol itself is transaction.h's. Guarded by the
// driver mutex, like every state.
std::vector<PalisadeState*>& Enlisted() {
  static auto* files = new std::vector<PalisadeState*>();
  return *files;
}

int Logout(PalisadeState& s) {
  if (s.in_transaction) return kLogoutAlreadyActive;
  if (s.file->read_only()) return kAccessDenied;
  // Changes streamed so far belong to no transaction: write them out first.
  if (s.stream) {
    OpScope op(s.file.get(), true);
    if (op.rc() != 0) return op.rc();
    if (int rc = s.file->WriteOut(); rc != 0) return rc;
  }
  Pager* pager = s.file->pager();
  const int rc = TransactionActive() ? TransactionAdd(pager) : TransactionBegin({pager});
  if (rc != 0) return rc;
  s.in_transaction = true;
  // The writer byte is taken at the first change and kept until the end.
  s.file->KeepWriter(true);
  Enlisted().push_back(&s);
  return 0;
}

void EndTransactionOf(PalisadeState& s) {
  s.in_transaction = false;
  if (!s.stream) s.file->KeepWriter(false);
}

// COMMIT: every changed file of the transaction is written out as one
// atomic update. Readers of other file objects are kept out of every
// changed shared file while its pages go out.
int Commit() {
  if (!TransactionActive()) return kLogoutNotActive;
  std::vector<PalisadeState*> files = std::move(Enlisted());
  Enlisted().clear();
  std::vector<PalisadeState*> excluded;
  int rc = 0;
  for (PalisadeState* s : files) {
    PlxFile* f = s->file.get();
    if (!f->pager()->HasChanges() || !(f->shared() || f->deny_write())) continue;
    if ((rc = f->locks()->BeginWriteOut()) != 0) break;
    excluded.push_back(s);
  }
  rc = rc == 0 ? TransactionCommit() : (TransactionRollback(), rc);
  for (PalisadeState* s : excluded) s->file->locks()->EndWriteOut();
  for (PalisadeState* s : files) {
    if (rc != 0) s->current_row = 0;
    EndTransactionOf(*s);
  }
  return rc;
}

int Rollback() {
  if (!TransactionActive()) return kLogoutNotActive;
  std::vector<PalisadeState*> files = std::move(Enlisted());
  Enlisted().clear();
  const int rc = TransactionRollback();
  for (PalisadeState* s : files) {
    s->current_row = 0;
    EndTransactionOf(*s);
  }
  return rc;
}

// ---- Helpers ---------------------------------------------------------------

bool ValidKey(const PalisadeState& s, int key) {
  return key >= 0 && static_cast<size_t>(key) < s.keys.size();
}

// Ends a changing operation: outside STREAM and transactions the change is
// written out now (or dropped when it failed).
int FinishChange(PalisadeState& s, int rc) {
  if (s.in_transaction) {
    // A large transaction sends what it may to the file early (a failure
    // there fails its COMMIT, which then rolls back).
    if (rc == 0) s.file->pager()->SpillHeld();
    return rc;
  }
  if (s.stream) {
    Pager* pager = s.file->pager();
    if (rc == 0 && pager->cache().dirty_count() > pager->options().max_dirty_pages) {
      return s.file->WriteOut();
    }
    return rc;
  }
  if (rc != 0) {
    s.file->Rollback();
    return rc;
  }
  rc = s.file->WriteOut();
  if (rc != 0) s.current_row = 0;
  return rc;
}

// Holds `row` for a held read, letting the rows held before go.
int HoldForRead(PalisadeState& s, uint32_t row) {
  LockMap* locks = s.file->locks();
  if (!locks->IsHeld(row)) {
    if (int rc = locks->Hold(row); rc != 0) return rc;
  }
  for (uint32_t held : s.held_rows) {
    if (held != row) locks->Release(held);
  }
  s.held_rows.assign(1, row);
  return 0;
}

// The stored record of row `row` as it lies in its page, or none; valid
// until the next call into the tree. Found through the kept row cursor, so
// that rows read in ascending order (a key that orders as the rows do)
// seldom descend.
std::optional<RecordView> FindRowRecord(PalisadeState& s, uint32_t row) {
  uint8_t key[9];
  StoreBigU32(key, s.table);
  key[4] = kKindRow;
  StoreBigU32(key + 5, row);
  const Bytes wanted(key, sizeof key);
  TreeCursor* cursor = s.RowCursor();
  // A row leaf not cached is searched for the row alone.
  cursor->ReadInPlace(sizeof key);
  if (!cursor->SeekNear(wanted) || cursor->key() != wanted) return std::nullopt;
  return cursor->record();
}

// Reads row `row` into the buffer (its first `length` bytes; 0: all) and its
// memos, straight from the page. Returns 0, 35, 43 (a held read met
// another's hold) or 57.
int LoadRow(FileDescriptor& file, PalisadeState& s, uint32_t row, uint32_t length) {
  const std::optional<RecordView> rec = FindRowRecord(s, row);
  if (!rec) return kRecordNotFound;
  if (s.hold_armed) {
    if (int rc = HoldForRead(s, row); rc != 0) return rc;
  }
  const Bytes image = rec->payload();
  size_t n = std::min(image.size(), file.record.size());
  if (length != 0) n = std::min<size_t>(n, length);
  std::memcpy(file.record.data(), image.data(), n);
  if (s.watch_armed) {
    s.watch_armed = false;
    s.watched_row = row;
    s.watched_image.assign(image.begin(), image.end());
  }
  int rc = 0;
  if (!s.nomemo) rc = ReadRowMemos(s.file->tree(), s.table, row, &file, s.MemoCursor());
  s.nomemo = false;
  s.current_row = row;
  s.last_bytes = static_cast<uint32_t>(n);
  return rc;
}

// Reads the memos of the row last read (a NOMEMO read left them out) into
// the memo values, under a bracket of its own. The row's image is compared
// with the record buffer first: the rows handed out from a batch were read
// at an earlier bracket, and another process may have changed the row since.
// A row that changed is read again whole, memos included, so that the image
// and its memos are always of one committed state (args.result = 1).
int ReadMemosOfRow(FileDescriptor& file, PalisadeState& s, FileArgs& args) {
  args.result = 0;
  if (s.current_row == 0) return kRecordNotAvailable;
  OpScope scope(s.file.get(), false);
  if (scope.rc() != 0) return scope.rc();
  const std::optional<RecordView> rec = FindRowRecord(s, s.current_row);
  if (!rec) return kRecordNotFound;
  const Bytes image = rec->payload();
  const size_t n = std::min(image.size(), file.record.size());
  if (n != s.last_bytes || std::memcmp(file.record.data(), image.data(), n) != 0) {
    args.result = 1;
    s.nomemo = false;
    return LoadRow(file, s, s.current_row, 0);
  }
  return ReadRowMemos(s.file->tree(), s.table, s.current_row, &file, s.MemoCursor());
}

// Makes row args.position the current row without reading it (0: none).
// The buffer already holds the row, as the caller put it back; the rows
// read ahead are dropped, since the row they follow is no longer current.
int TakeCurrentRow(FileDescriptor& file, PalisadeState& s, const FileArgs& args) {
  s.batch.Drop();
  s.current_row = 0;
  if (args.position == 0) return 0;
  OpScope scope(s.file.get(), false);
  if (scope.rc() != 0) return scope.rc();
  const std::optional<RecordView> rec = FindRowRecord(s, args.position);
  if (!rec) return kRecordNotFound;
  s.current_row = args.position;
  s.last_bytes = static_cast<uint32_t>(std::min(rec->payload().size(), file.record.size()));
  return 0;
}

// ---- Read batches -----------------------------------------------------------
//
// On a shared file every operation takes the reader slot and re-reads the
// header: system calls that would be paid per row. A sequential read there
// reads a batch instead: under one bracket it reads the row asked for and
// the rows after it in the same direction, up to a bound in rows, bytes and
// time, and hands them out one by one at the next NEXT or PREVIOUS calls
// without touching the file. So a writer of another process waits for at
// most one batch to be read (the bracket is never held between calls), and
// a reader sees each batch as one committed state: the old or the new,
// never a mix, noticing another process's commit at its next batch.
//
// A batch is dropped, and reading goes on from the row handed out last, by
// any call on the descriptor that is not a sequential read or a question
// about the row read (see RowCall), by a change of direction or order, and
// by a commit to the file from any file object of this process. Held and
// watched reads are never batched: each needs its row's lock or image at
// the moment it is read.

constexpr uint32_t kBatchRows = 32;  // rows, when no read-ahead is set
// The first batch after a positioning is smaller, and each batch that is
// used up whole doubles the next up to kBatchRows: a page of a few rows read
// from a new place (a browse's page) reads few rows it never hands out.
// A reader that said how many rows it reads after a positioning
// (kPropertyPageRows) gets the rest of them in the first batch instead, up
// to kMostFirstBatchRows: with the row read before the batch, a page (and
// the edge row it starts from) in one bracket.
constexpr uint32_t kFirstBatchRows = 8;
constexpr uint32_t kMostFirstBatchRows = 64;
constexpr size_t kBatchBytes = size_t{1} << 20;            // images and memos
constexpr auto kBatchTime = std::chrono::milliseconds(2);  // spent reading one
// The clock is read before every eighth row only, not for each: eight rows
// take microseconds, far inside the bound.
constexpr size_t kRowsPerClockRead = 8;

bool WithinBatchTime(size_t rows, std::chrono::steady_clock::time_point start) {
  return rows % kRowsPerClockRead != 0 || std::chrono::steady_clock::now() - start < kBatchTime;
}

bool Batching(const PalisadeState& s) {
  return s.file->shared() && !s.hold_armed && !s.watch_armed;
}

// Hands row `r` of a batch out as a read from the file would: its image into
// the record buffer, its memos (unless NOMEMO) and the current row.
void HandOut(FileDescriptor& file, PalisadeState& s, ReadBatch::Row& r) {
  const size_t n = std::min(r.image.size(), file.record.size());
  std::memcpy(file.record.data(), r.image.data(), n);
  if (!s.nomemo) {
    // Value by value: the strings of memo_values stay the same objects, as
    // a read from the file leaves them (a caller may hold their addresses).
    file.memo_values.resize(r.memos.size());
    for (size_t i = 0; i < r.memos.size(); ++i) file.memo_values[i].swap(r.memos[i]);
  }
  s.nomemo = false;
  s.current_row = r.row;
  s.last_bytes = static_cast<uint32_t>(n);
}

// Hands out the next row of the batch. False when the batch cannot serve
// this read (then it is dropped, and the caller reads from the file).
bool ServeFromBatch(FileDescriptor& file, PalisadeState& s, bool forward, RecordCheck* skip,
                    int* rc) {
  ReadBatch& b = s.batch;
  if (!b.Pending()) return false;
  if (!Batching(s) || b.forward != forward || b.key != s.pos.key || b.skip != skip ||
      b.commits != s.file->local_commits() || (!s.nomemo && !b.with_memos)) {
    b.Drop();
    return false;
  }
  ReadBatch::Row& r = b.rows[b.next++];
  HandOut(file, s, r);
  s.pos.kind = SeqPosition::Kind::kOn;
  s.pos.at.swap(r.at);
  s.pos.on_row = true;
  s.pos.tree_version = b.tree_version;
  s.pos.layout_version = b.layout_version;
  *rc = r.rc;
  return true;
}

// Reads the rows after the one just read into the batch (see above). The
// sequential position is left on the row just read. With `skip`, the rows
// it drops are passed over: each is checked in the record buffer, which
// then gets the row just read back. `start`: when the bracket's reading
// began, which the batch's time counts from.
void FillBatch(FileDescriptor& file, PalisadeState& s, bool forward, bool with_memos,
               RecordCheck* skip, std::chrono::steady_clock::time_point start) {
  ReadBatch& b = s.batch;
  // A batch handed out whole, in this same direction and order, is
  // followed by a larger one; anything else that ended it dropped it.
  const bool run_goes_on =
      b.count > 0 && b.next == b.count && b.forward == forward && b.key == s.pos.key;
  uint32_t limit = s.read_ahead;
  if (limit == 0 && run_goes_on) limit = std::min(kBatchRows, b.limit * 2);
  if (limit == 0) {
    // The row just read was the first of the page.
    limit = s.page_rows > 1 ? std::min(s.page_rows - 1, kMostFirstBatchRows) : kFirstBatchRows;
  }
  b.Drop();
  b.forward = forward;
  b.key = s.pos.key;
  b.with_memos = with_memos;
  b.skip = skip;
  b.limit = limit;
  b.commits = s.file->local_commits();
  TableRef ref = s.Ref();
  // The position to come back to: on the row just read.
  SeqPosition& pos = s.pos;
  const uint32_t first_row = s.current_row;
  std::vector<uint8_t>& first_at = b.at_scratch;
  first_at.assign(pos.at.begin(), pos.at.end());
  size_t bytes = 0;
  size_t looked = 0;  // rows read, those passed over included
  if (skip != nullptr) b.record_scratch.assign(file.record.begin(), file.record.end());
  while (b.count < limit && bytes < kBatchBytes && WithinBatchTime(looked++, start)) {
    uint32_t row = 0;
    if (Step(ref, &pos, forward, &row, s.Cursor()) != 0) break;
    const std::optional<RecordView> rec = FindRowRecord(s, row);
    // An INDEX is not maintained: an entry whose row has gone is passed over.
    if (!rec && pos.key >= 0) continue;
    if (!rec) break;
    if (skip != nullptr) {
      const Bytes image = rec->payload();
      std::memcpy(file.record.data(), image.data(), std::min(image.size(), file.record.size()));
      if (!skip->Keep()) continue;
    }
    if (b.rows.size() <= b.count) b.rows.emplace_back();
    ReadBatch::Row& r = b.rows[b.count];
    r.row = row;
    r.image.assign(rec->payload().begin(), rec->payload().end());
    r.at.assign(pos.at.begin(), pos.at.end());
    r.rc = 0;
    if (with_memos) {
      r.rc = ReadRowMemosInto(s.file->tree(), s.table, row, file, &r.memos, s.MemoCursor());
      for (const std::string& m : r.memos) bytes += m.size();
    }
    bytes += r.image.size();
    ++b.count;
  }
  if (skip != nullptr) {
    std::copy(b.record_scratch.begin(), b.record_scratch.end(), file.record.begin());
  }
  b.tree_version = s.file->tree()->version();
  b.layout_version = s.file->tree()->pager()->layout_version();
  // Back on the row just read; the kept cursor stays where the batch ended,
  // which is where the position will be when the batch is used up.
  pos.kind = SeqPosition::Kind::kOn;
  pos.at.swap(first_at);
  pos.on_row = true;
  pos.tree_version = b.tree_version;
  pos.layout_version = b.layout_version;
  s.current_row = first_row;
}

// ---- Rows read ahead by position ---------------------------------------------
//
// A reader that reads rows by position in an order of its own (a view over
// a sorted list) names the positions it will read next; on a shared file
// they are read then, under one bracket, and GETfileptr hands them out in
// that order without touching the file: the bracket and header check of a
// read paid once per batch, as for sequential reads, with the same bounds
// and the same view of the file (one committed state per batch). A read of
// another position, a commit from this process, or any call that is not a
// question about the row read drops the batch.

constexpr uint32_t kAheadRows = 64;  // at most this many positions a batch

// Answers GETfileptr of `row` from the batch. False when the batch cannot
// (then it is dropped, and the caller reads from the file).
bool ServeAhead(FileDescriptor& file, PalisadeState& s, uint32_t row, int* rc) {
  PositionBatch& b = s.ahead;
  if (!b.Pending()) return false;
  if (!Batching(s) || b.commits != s.file->local_commits() || (!s.nomemo && !b.with_memos) ||
      b.rows[b.next].row != row) {
    b.Drop();
    return false;
  }
  ReadBatch::Row& r = b.rows[b.next++];
  *rc = r.rc;
  // A row gone when the batch was read answers as a read from the file
  // would: nothing of the state changes.
  if (r.rc == kRecordNotFound) return true;
  HandOut(file, s, r);
  return true;
}

// kPropertyRowsAhead: reads the rows at the positions in args.value.
int FillAhead(FileDescriptor& file, PalisadeState& s, const FileArgs& args) {
  PositionBatch& b = s.ahead;
  b.Drop();
  // Reads of a file not shared take no bracket: nothing to save.
  if (!Batching(s) || args.value.size() % 4 != 0) return 0;
  OpScope scope(s.file.get(), false);
  if (scope.rc() != 0) return scope.rc();
  b.with_memos = args.length != 0;
  b.commits = s.file->local_commits();
  const auto* p = reinterpret_cast<const uint8_t*>(args.value.data());
  const size_t wanted = std::min<size_t>(args.value.size() / 4, kAheadRows);
  const auto start = std::chrono::steady_clock::now();
  size_t bytes = 0;
  for (size_t i = 0; i < wanted && bytes < kBatchBytes && WithinBatchTime(i, start); ++i) {
    const uint32_t row = LoadBigU32(p + 4 * i);
    if (b.rows.size() <= b.count) b.rows.emplace_back();
    ReadBatch::Row& r = b.rows[b.count];
    r.row = row;
    r.rc = 0;
    const std::optional<RecordView> rec = row == 0 ? std::nullopt : FindRowRecord(s, row);
    if (!rec) {
      r.rc = kRecordNotFound;
      ++b.count;
      continue;
    }
    r.image.assign(rec->payload().begin(), rec->payload().end());
    if (b.with_memos) {
      r.rc = ReadRowMemosInto(s.file->tree(), s.table, row, file, &r.memos, s.MemoCursor());
      for (const std::string& m : r.memos) bytes += m.size();
    }
    bytes += r.image.size();
    ++b.count;
  }
  return 0;
}

// True when key `key` must be built before it can be read. A key found
// built stays so until the tree or its pages change, so a scan asks once.
bool MustBuild(PalisadeState& s, int key) {
  const uint64_t tree = s.file->tree()->version();
  const uint64_t layout = s.file->pager()->layout_version();
  if (s.built.key == key && s.built.tree_version == tree && s.built.layout_version == layout) {
    return false;
  }
  if (KeyNeedsBuild(s.file->tables(), s.table, static_cast<size_t>(key))) return true;
  s.built = {key, tree, layout};
  return false;
}

// A sequential read. With `skip` (see FileArgs::skip), the rows it drops
// are passed over, for as long as a batch may take, unless the read holds
// or watches its row (each row then needs its own lock or image).
int SequentialRead(FileDescriptor& file, PalisadeState& s, bool forward, RecordCheck* skip) {
  if (s.pos.key >= 0 && MustBuild(s, s.pos.key)) return kKeyFileMustBeRebuilt;
  // A held read that meets another's hold stays where it was.
  std::optional<SeqPosition> before;
  if (s.hold_armed) before = s.pos;
  if (s.hold_armed || s.watch_armed) skip = nullptr;
  TableRef ref = s.Ref();
  const bool nomemo = s.nomemo;
  const bool with_memos = !nomemo;
  // The clock is read only where something is timed: a batch, or rows
  // passed over.
  std::chrono::steady_clock::time_point start;
  if (skip != nullptr || Batching(s)) start = std::chrono::steady_clock::now();
  for (size_t looked = 0;; ++looked) {
    uint32_t row = 0;
    if (int rc = Step(ref, &s.pos, forward, &row, s.Cursor()); rc != 0) return rc;
    s.nomemo = nomemo;  // for each row read, as for the first
    const int rc = LoadRow(file, s, row, 0);
    // An INDEX is not maintained: an entry whose row has gone is passed over.
    if (rc == kRecordNotFound && s.pos.key >= 0) continue;
    if (rc == kRecordIsAlreadyHeld && before) s.pos = std::move(*before);
    if (rc == 0 && skip != nullptr && WithinBatchTime(looked + 1, start) && !skip->Keep()) {
      continue;
    }
    if ((rc == 0 || rc == kInvalidMemoFile) && Batching(s)) {
      FillBatch(file, s, forward, with_memos, skip, start);
    }
    return rc;
  }
}

// Moves the position to the start `to` (no key read yet), keeping the
// storage of the key it read last, so that a scan started again allocates
// nothing for its position.
void RestartAt(SeqPosition* pos, SeqPosition to) {
  if (to.at.capacity() < pos->at.capacity()) {
    pos->at.clear();
    to.at.clear();
    to.at.swap(pos->at);
  }
  *pos = std::move(to);
}

int Skip(PalisadeState& s, int32_t count) {
  TableRef ref = s.Ref();
  const bool forward = count >= 0;
  int64_t left = count >= 0 ? count : -int64_t{count};
  for (; left > 0; --left) {
    uint32_t row = 0;
    const int rc = Step(ref, &s.pos, forward, &row);
    if (rc == kRecordNotAvailable) break;
    if (rc != 0 && rc != kRecordNotFound) return rc;
  }
  return 0;
}

// The buffer's image as stored: the record buffer, or for a len form its
// first `length` bytes followed by zeros.
int ImageFor(const FileDescriptor& file, uint32_t length, std::vector<uint8_t>* image) {
  image->assign(file.record.begin(), file.record.end());
  if (length == 0) return 0;
  if (length > file.record.size()) return kInvalidRecordDeclaration;
  std::fill(image->begin() + length, image->end(), 0);
  return 0;
}

int CheckWatch(PalisadeState& s, uint32_t row) {
  if (s.watched_row != row || s.watched_row == 0) return 0;
  std::vector<uint8_t> now;
  const bool exists = s.file->tables()->GetRow(s.table, row, &now);
  s.watched_row = 0;
  std::vector<uint8_t> then = std::move(s.watched_image);
  if (!exists || now != then) return kRecordChangedByAnotherStation;
  return 0;
}

int Write(FileOp op, FileDescriptor& file, PalisadeState& s, FileArgs& args) {
  OpScope scope(s.file.get(), true);
  if (scope.rc() != 0) return scope.rc();
  if (s.stream || s.in_transaction) s.file->KeepWriter(true);
  TableRef ref = s.Ref();
  std::vector<uint8_t> image;
  int rc = 0;
  switch (op) {
    case FileOp::ADD:
    case FileOp::APPEND:
    case FileOp::ADDfilelen:
    case FileOp::APPENDlen: {
      const bool with_len = op == FileOp::ADDfilelen || op == FileOp::APPENDlen;
      rc = ImageFor(file, with_len ? args.length : 0, &image);
      if (with_len && args.length == 0) rc = kInvalidRecordDeclaration;
      if (rc != 0) return rc;
      const bool append = op == FileOp::APPEND || op == FileOp::APPENDlen;
      uint32_t row = 0;
      rc = AddRow(ref, image, &file, append, &row);
      if (rc == 0) {
        s.current_row = row;
        s.last_bytes = static_cast<uint32_t>(image.size());
      }
      break;
    }
    case FileOp::PUT:
    case FileOp::PUTfileptr:
    case FileOp::PUTfileptrlen: {
      const uint32_t row = op == FileOp::PUT ? s.current_row : args.position;
      if (row == 0) return kRecordNotAvailable;
      rc = ImageFor(file, op == FileOp::PUTfileptrlen ? args.length : 0, &image);
      if (rc != 0) return rc;
      if (op == FileOp::PUTfileptrlen) {
        // The bytes past `length` keep what the row holds.
        std::vector<uint8_t> old;
        if (s.file->tables()->GetRow(s.table, row, &old) && old.size() == image.size()) {
          std::copy(old.begin() + args.length, old.end(), image.begin() + args.length);
        }
      }
      if ((rc = CheckWatch(s, row)) != 0) return rc;
      rc = PutRow(ref, row, image, &file);
      if (rc == 0) s.current_row = row;
      break;
    }
    case FileOp::DELETE: {
      const uint32_t row = s.current_row;
      if (row == 0) return kRecordNotAvailable;
      if ((rc = CheckWatch(s, row)) != 0) return rc;
      rc = DeleteRow(ref, row);
      if (rc == 0) {
        s.current_row = 0;
        s.file->locks()->Release(row);
        std::erase(s.held_rows, row);
        // The reader's own delete: NEXT goes on past it without a 35.
        s.pos.on_row = false;
      }
      break;
    }
    case FileOp::BUILDfile:
    case FileOp::BUILDkey: {
      if (op == FileOp::BUILDkey && !ValidKey(s, args.key)) return kUnableToAccessIndex;
      for (size_t k = 0; k < s.keys.size() && rc == 0; ++k) {
        if (op == FileOp::BUILDkey && k != static_cast<size_t>(args.key)) continue;
        const bool index = (s.keys.layout(k).flags & kKeyNotMaintained) != 0;
        const bool wanted = op == FileOp::BUILDkey || s.settings.full_build || index ||
                            KeyNeedsBuild(s.file->tables(), s.table, k);
        if (wanted) rc = BuildKey(s.file->tables(), s.file->tree(), s.table, s.keys, k);
      }
      break;
    }
    case FileOp::EMPTY:
      if (s.file->shared()) return kExclusiveAccessRequired;
      EmptyTable(ref);
      s.current_row = 0;
      s.pos = StartOfRows();
      break;
    default:
      return kUnsupportedFunction;
  }
  return FinishChange(s, rc);
}

uint32_t TimeoutDeadlineReached(std::chrono::steady_clock::time_point deadline) {
  return std::chrono::steady_clock::now() >= deadline ? 1u : 0u;
}

// Retries `attempt` (which makes 3 quick tries itself) for `seconds`.
template <typename F>
int WithTimeout(uint32_t seconds, int busy_code, F attempt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const int rc = attempt();
    if (rc != busy_code || seconds == 0 || TimeoutDeadlineReached(deadline)) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int Read(FileOp op, FileDescriptor& file, PalisadeState& s, FileArgs& args) {
  // Positionings that read nothing take no bracket (lock and header check
  // on a shared file): the read after them takes its own.
  switch (op) {
    case FileOp::SETfile:
      RestartAt(&s.pos, StartOfRows());
      return 0;
    case FileOp::SETfileptr:
      s.pos = AtRow(s.table, args.position);
      return 0;
    case FileOp::SETkey:
      if (!ValidKey(s, args.key)) return kUnableToAccessIndex;
      RestartAt(&s.pos, StartOfKey(args.key));
      return 0;
    default:
      break;
  }
  OpScope scope(s.file.get(), false);
  if (scope.rc() != 0) return scope.rc();
  TableRef ref = s.Ref();
  auto need_key = [&]() { return ValidKey(s, args.key) ? 0 : kUnableToAccessIndex; };
  switch (op) {
    case FileOp::NEXT:
      return SequentialRead(file, s, true, args.skip);
    case FileOp::PREVIOUS:
      return SequentialRead(file, s, false, args.skip);
    case FileOp::SKIP:
      return Skip(s, static_cast<int32_t>(args.length));
    case FileOp::GETfileptr:
    case FileOp::GETfileptrlen:
      return LoadRow(file, s, args.position, op == FileOp::GETfileptrlen ? args.length : 0);
    case FileOp::GETkeyptr: {
      if (int rc = need_key(); rc != 0) return rc;
      const int rc = LoadRow(file, s, args.position, 0);
      if (rc == 0) {
        s.pos.key = args.key;
        PlaceOnRow(ref, &s.pos, args.position, file.record);
      }
      return rc;
    }
    case FileOp::GETfilekey: {
      if (int rc = need_key(); rc != 0) return rc;
      if (KeyNeedsBuild(s.file->tables(), s.table, static_cast<size_t>(args.key))) {
        return kKeyFileMustBeRebuilt;
      }
      const uint32_t row = FindByKey(ref, args.key, file.record);
      if (row == 0) return kRecordNotFound;
      return LoadRow(file, s, row, 0);
    }
    case FileOp::SETfilekey: {
      if (int rc = need_key(); rc != 0) return rc;
      const uint32_t row = FindByKey(ref, args.key, file.record);
      if (row == 0) return kRecordNotFound;
      s.pos = AtRow(s.table, row);
      return 0;
    }
    case FileOp::SETkeykey:
      if (int rc = need_key(); rc != 0) return rc;
      s.pos = AtKeyValue(ref, args.key, file.record);
      return 0;
    case FileOp::SETkeyptr: {
      if (int rc = need_key(); rc != 0) return rc;
      std::vector<uint8_t> image;
      if (!s.file->tables()->GetRow(s.table, args.position, &image)) return kRecordNotFound;
      image.resize(file.record.size(), 0);
      s.pos = AtKeyEntry(ref, args.key, image, args.position);
      return 0;
    }
    case FileOp::SETkeykeyptr:
      if (int rc = need_key(); rc != 0) return rc;
      s.pos = AtKeyEntry(ref, args.key, file.record, args.position);
      return 0;
    case FileOp::RECORDSfile:
      args.result = s.file->tables()->ReadCounters(s.table, kKindRow).RecordCount;
      return 0;
    case FileOp::RECORDSkey:
      if (int rc = need_key(); rc != 0) return rc;
      args.result =
          s.file->tables()->ReadCounters(s.table, static_cast<uint8_t>(args.key)).RecordCount;
      return 0;
    case FileOp::POSITIONfile: {
      if (s.current_row == 0) return kRecordNotAvailable;
      uint8_t r[4];
      StoreBigU32(r, s.current_row);
      args.value.assign(reinterpret_cast<const char*>(r), 4);
      return 0;
    }
    case FileOp::POSITIONkey: {
      if (int rc = need_key(); rc != 0) return rc;
      if (s.current_row == 0) return kRecordNotAvailable;
      std::vector<uint8_t> v =
          s.keys.ValuePrefix(s.table, static_cast<size_t>(args.key), file.record);
      uint8_t r[4];
      StoreBigU32(r, s.current_row);
      args.value.assign(reinterpret_cast<const char*>(v.data()) + kKeyEntryHeadSize,
                        v.size() - kKeyEntryHeadSize);
      args.value.append(reinterpret_cast<const char*>(r), 4);
      return 0;
    }
    case FileOp::REGETfile:
    case FileOp::RESETfile: {
      if (args.value.size() != 4) return kRecordNotFound;
      const uint32_t row = LoadBigU32(reinterpret_cast<const uint8_t*>(args.value.data()));
      if (op == FileOp::RESETfile) {
        s.pos = AtRow(s.table, row);
        return 0;
      }
      const int rc = LoadRow(file, s, row, 0);
      if (rc == 0) {
        s.pos.key = -1;
        PlaceOnRow(ref, &s.pos, row, file.record);
      }
      return rc;
    }
    case FileOp::REGETkey:
    case FileOp::RESETkey: {
      if (int rc = need_key(); rc != 0) return rc;
      const size_t value_size = KeyValueSize(s.keys.layout(static_cast<size_t>(args.key)));
      if (args.value.size() != value_size + 4) return kRecordNotFound;
      const auto* p = reinterpret_cast<const uint8_t*>(args.value.data());
      const uint32_t row = LoadBigU32(p + value_size);
      if (op == FileOp::REGETkey) {
        const int rc = LoadRow(file, s, row, 0);
        if (rc == 0) {
          s.pos.key = args.key;
          PlaceOnRow(ref, &s.pos, row, file.record);
        }
        return rc;
      }
      std::vector<uint8_t> entry(kKeyEntryHeadSize);
      StoreBigU32(entry.data(), s.table);
      entry[4] = static_cast<uint8_t>(args.key);
      entry.insert(entry.end(), p, p + value_size);
      if (s.keys.layout(static_cast<size_t>(args.key)).dup())
        entry.insert(entry.end(), p + value_size, p + value_size + 4);
      s.pos = AtEntryKey(args.key, std::move(entry));
      return 0;
    }
    case FileOp::DUPLICATE:
    case FileOp::DUPLICATEkey: {
      if (op == FileOp::DUPLICATEkey) {
        if (int rc = need_key(); rc != 0) return rc;
      }
      args.result = 0;
      for (size_t k = 0; k < s.keys.size(); ++k) {
        if (op == FileOp::DUPLICATEkey && k != static_cast<size_t>(args.key)) continue;
        if (s.keys.layout(k).flags & kKeyNotMaintained) continue;
        if (WouldDuplicate(s.file->tree(), s.table, s.keys, k, file.record, s.current_row)) {
          args.result = 1;
        }
      }
      return 0;
    }
    case FileOp::HOLDfile:
    case FileOp::HOLDfilesec: {
      s.hold_armed = true;
      if (s.current_row == 0) return 0;
      const uint32_t row = s.current_row;
      return WithTimeout(op == FileOp::HOLDfilesec ? args.timeout : 0, kRecordIsAlreadyHeld,
                         [&] { return HoldForRead(s, row); });
    }
    default:
      return kUnsupportedFunction;
  }
}

}  // namespace

void LeaveTransaction(PalisadeState& s) {
  if (!s.in_transaction) return;
  std::erase(Enlisted(), &s);
  TransactionForget(s.file->pager());
  EndTransactionOf(s);
}

int RowCall(FileOp op, FileDescriptor& file, PalisadeState& s, FileArgs& args) {
  // A read that says NOMEMO itself, as a view's reads do row after row,
  // saves the call that would arm it.
  if (args.nomemo && ReadsRecordIntoBuffer(op)) s.nomemo = true;
  // Rows read ahead serve only sequential reads that follow each other;
  // questions about the row read leave them be, anything else ends them.
  switch (op) {
    case FileOp::NEXT:
    case FileOp::PREVIOUS: {
      s.ahead.Drop();
      int rc = 0;
      if (!ServeFromBatch(file, s, op == FileOp::NEXT, args.skip, &rc)) {
        rc = Read(op, file, s, args);
      }
      s.nomemo = false;
      // The row read, told with the read: a reader needs no POINTERfile.
      if (rc == 0) args.result = s.current_row;
      return rc;
    }
    case FileOp::GETfileptr: {
      s.batch.Drop();
      int rc = 0;
      if (ServeAhead(file, s, args.position, &rc)) return rc;
      break;
    }
    case FileOp::POINTERfile:
    case FileOp::POINTERkey:
    case FileOp::BYTES:
    case FileOp::POSITIONfile:
    case FileOp::POSITIONkey:
    case FileOp::BLOB_SIZE:
    case FileOp::GETSTATE:
    case FileOp::FREESTATE:
    case FileOp::NOMEMO:
      break;
    case FileOp::DO_PROPERTY:
      if (args.property == kPropertyReadMemos) return ReadMemosOfRow(file, s, args);
      if (args.property == kPropertyRowsAhead) return FillAhead(file, s, args);
      s.ahead.Drop();
      // A bulk load holds no more than any transaction: the pages it wrote
      // early move as their stored blocks when the zones grow under them,
      // and a 100k-entry import took 2.0-2.5 s of processor time and 245 MB
      // at most writing early from 512 held pages, against 2.9-3.7 s and
      // 502 MB holding 32768.
      if (args.property == kPropertyBulkLoad) return 0;
      if (args.property == kPropertyCurrentRecord) return TakeCurrentRow(file, s, args);
      s.batch.Drop();
      break;
    default:
      s.batch.Drop();
      s.ahead.Drop();
      break;
  }
  switch (op) {
    case FileOp::ADD:
    case FileOp::APPEND:
    case FileOp::ADDfilelen:
    case FileOp::APPENDlen:
    case FileOp::PUT:
    case FileOp::PUTfileptr:
    case FileOp::PUTfileptrlen:
    case FileOp::DELETE:
    case FileOp::BUILDfile:
    case FileOp::BUILDkey:
    case FileOp::EMPTY:
      if (op == FileOp::EMPTY && s.file->shared()) return kExclusiveAccessRequired;
      return Write(op, file, s, args);
    case FileOp::RELEASE:
      s.hold_armed = false;
      for (uint32_t row : s.held_rows) s.file->locks()->Release(row);
      s.held_rows.clear();
      return 0;
    case FileOp::LOCKfile:
    case FileOp::LOCKfilesec:
      return WithTimeout(op == FileOp::LOCKfilesec ? args.timeout : 0, kFileIsAlreadyLocked,
                         [&] { return s.file->locks()->Lock(s.table); });
    case FileOp::UNLOCK:
      s.file->locks()->Unlock(s.table);
      return 0;
    case FileOp::WATCH:
      s.watch_armed = true;
      return 0;
    case FileOp::NOMEMO:
      s.nomemo = true;
      return 0;
    case FileOp::STREAM:
      if (s.file->read_only()) return kAccessDenied;
      s.stream = true;
      s.file->KeepWriter(true);
      return 0;
    case FileOp::FLUSH: {
      if (!s.stream) return 0;
      s.stream = false;
      if (s.in_transaction) return 0;
      int rc = 0;
      {
        OpScope op(s.file.get(), true);
        rc = op.rc() != 0 ? op.rc() : s.file->WriteOut();
      }
      s.file->KeepWriter(false);
      return rc;
    }
    case FileOp::LOGOUT:
      return Logout(s);
    case FileOp::COMMIT:
      return Commit();
    case FileOp::ROLLBACK:
      return Rollback();
    case FileOp::POINTERfile:
    case FileOp::POINTERkey:
      args.result = s.current_row;
      return 0;
    case FileOp::BYTES:
      args.result = s.last_bytes;
      return 0;
    case FileOp::BLOB_SIZE:
      if (args.index < 0 || static_cast<size_t>(args.index) >= file.memo_values.size()) {
        return kUnsupportedFunction;
      }
      args.result = static_cast<int64_t>(file.memo_values[static_cast<size_t>(args.index)].size());
      return 0;
    case FileOp::GETSTATE: {
      const uint32_t handle = s.next_state++;
      s.states[handle] = SavedState{s.pos, s.current_row, s.hold_armed};
      args.result = handle;
      return 0;
    }
    case FileOp::RESTORESTATE: {
      auto it = s.states.find(args.position);
      if (it == s.states.end()) return kRecordNotAvailable;
      s.pos = it->second.pos;
      s.current_row = it->second.current_row;
      s.hold_armed = it->second.hold_armed;
      return 0;
    }
    case FileOp::FREESTATE:
      s.states.erase(args.position);
      return 0;
    default: {
      const int rc = Read(op, file, s, args);
      // NOMEMO covers the next retrieval, whether or not it finds a record:
      // left armed by a read that found nothing (numbering reads the last
      // record that way, and a file's first record has none before it), it
      // would make a later read silently skip its memos.
      if (ReadsRecordIntoBuffer(op)) s.nomemo = false;
      return rc;
    }
  }
}

}  // namespace qzr::palisade
