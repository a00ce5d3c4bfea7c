// The driver's per-descriptor state and the helpers its two halves share
// (driver.cc: dispatch, opening, whole-file operations, commands and
// properties; driver_rows.cc: reading, writing, holds and transactions).
//
// Internal to the driver. Touched only under the driver's process-wide
// mutex.

#ifndef QZR_DRIVERS_PALISADE_DRIVER_STATE_H_
#define QZR_DRIVERS_PALISADE_DRIVER_STATE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "drivers/palisade/key_maintenance.h"
#include "drivers/palisade/plx_file.h"
#include "drivers/palisade/row_ops.h"
#include "runtime/core/runtime_error.h"  // the codes the driver answers with

namespace qzr::palisade {

// The driver's process-wide mutex: every call runs under it. Recursive, so
// that a state destroyed inside a call can take it too.
std::recursive_mutex& DriverMutex();

// Settings a descriptor carries from SEND commands and its driver string.
struct FileSettings {
  bool decimal_check = true;
  bool full_build = false;
};

// What GETSTATE saves.
struct SavedState {
  SeqPosition pos;
  uint32_t current_row = 0;
  bool hold_armed = false;
};

// Rows read ahead by a sequential read on a shared file (driver_rows.cc).
// Storage is kept from batch to batch.
struct ReadBatch {
  struct Row {
    uint32_t row = 0;
    std::vector<uint8_t> at;     // the row's record key in the order read
    std::vector<uint8_t> image;  // the row's record image
    std::vector<std::string> memos;
    int rc = 0;  // what reading it answered (0, or 57 for a damaged memo)
  };
  std::vector<Row> rows;
  size_t count = 0;  // rows filled
  size_t next = 0;   // the next row to hand out
  bool forward = true;
  int key = -1;
  bool with_memos = true;
  uint32_t limit = 0;    // the most rows this batch was allowed
  uint64_t commits = 0;  // the file's local_commits() when read
  uint64_t tree_version = 0;
  uint64_t layout_version = 0;
  std::vector<uint8_t> at_scratch;  // storage for the position while filling
  RecordCheck* skip = nullptr;      // the check the rows were passed over by
  std::vector<uint8_t> record_scratch;  // the record buffer while checking rows

  bool Pending() const { return next < count; }
  void Drop() { count = next = 0; }
};

// Rows read ahead at positions a reader named (kPropertyRowsAhead), handed
// out by GETfileptr in that order (driver_rows.cc). Storage is kept.
struct PositionBatch {
  std::vector<ReadBatch::Row> rows;  // `at` unused; rc 35 for a row gone
  size_t count = 0;
  size_t next = 0;
  bool with_memos = true;
  uint64_t commits = 0;  // the file's local_commits() when read

  bool Pending() const { return next < count; }
  void Drop() { count = next = 0; }
};

struct PalisadeState final : DriverFileState {
  ~PalisadeState() override;

  std::unique_ptr<PlxFile> file;
  std::string table_name;
  uint32_t table = 0;
  TableKeys keys;
  FileSettings settings;

  SeqPosition pos;
  std::optional<TreeCursor> cursor;  // kept between sequential reads
  uint32_t current_row = 0;          // the row read or added last; 0 for none
  uint32_t last_bytes = 0;
  bool hold_armed = false;
  std::vector<uint32_t> held_rows;  // rows held by this descriptor
  bool nomemo = false;
  bool watch_armed = false;
  uint32_t watched_row = 0;
  std::vector<uint8_t> watched_image;
  bool stream = false;
  bool in_transaction = false;
  uint32_t read_ahead = 0;  // rows a batch reads ahead (0: the default)
  uint32_t page_rows = 0;   // rows usually read after a positioning (0: unknown)
  // The key a sequential read last found built, and the tree and layout
  // versions then (driver_rows.cc).
  struct BuiltKey {
    int key = -1;
    uint64_t tree_version = 0;
    uint64_t layout_version = 0;
  } built;
  ReadBatch batch;
  PositionBatch ahead;
  std::map<uint32_t, SavedState> states;
  uint32_t next_state = 1;

  TableRef Ref() { return TableRef{file->tables(), file->tree(), table, &keys}; }
  // The kept cursors, made on first use (and again after PACK changed the
  // file object): the sequential position's, the one that finds the rows
  // of a read in key order, and the one that walks their memo pieces. Each
  // moves on from where the last read left it.
  TreeCursor* Cursor() { return Kept(&cursor); }
  TreeCursor* RowCursor() { return Kept(&row_cursor); }
  TreeCursor* MemoCursor() { return Kept(&memo_cursor); }
  std::optional<TreeCursor> row_cursor;
  std::optional<TreeCursor> memo_cursor;
  PageTree* cursor_tree = nullptr;

 private:
  TreeCursor* Kept(std::optional<TreeCursor>* kept) {
    if (cursor_tree != file->tree()) {
      cursor.reset();
      row_cursor.reset();
      memo_cursor.reset();
      cursor_tree = file->tree();
    }
    if (!*kept) kept->emplace(file->tree());
    return &**kept;
  }
};

inline PalisadeState* StateOf(FileDescriptor& file) {
  return static_cast<PalisadeState*>(file.state.get());
}

// An operation bracket on the file (see PlxFile::BeginOperation).
class OpScope {
 public:
  OpScope(PlxFile* file, bool changing) : file_(file), rc_(file->BeginOperation(changing)) {}
  ~OpScope() {
    if (rc_ == 0) file_->EndOperation();
  }
  OpScope(const OpScope&) = delete;
  OpScope& operator=(const OpScope&) = delete;
  int rc() const { return rc_; }

 private:
  PlxFile* file_;
  int rc_;
};

// Row operations (driver_rows.cc). REQUIRES: the descriptor is open.
int RowCall(FileOp op, FileDescriptor& file, PalisadeState& s, FileArgs& args);
// Removes a closing descriptor from its transaction, dropping its
// uncommitted changes.
void LeaveTransaction(PalisadeState& s);

}  // namespace qzr::palisade

#endif  // QZR_DRIVERS_PALISADE_DRIVER_STATE_H_
