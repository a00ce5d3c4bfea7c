// The view engine: reads a VIEW row by row over drivers that do not take the
// whole view themselves. It owns the view's current order and filter, the
// list of row positions that serves an order no key supports, and the state
// of the current row; the files and their record buffers stay the caller's.
//
// A row of the view is one record of the primary file with, for each joined
// file in descriptor order, one matching record (or, for a join that is not
// INNER and finds nothing, a cleared buffer). A parent with several matching
// records gives several rows, the later files varying fastest. After every
// successful Next or Previous each buffer of the view holds that row.
//
// Reading the primary file:
//   - no order: the file's record order (SETfile, NEXT, PREVIOUS);
//   - an order whose items are the leading components of a key that is
//     neither OPT (it would leave rows out) nor an INDEX (it may be stale),
//     with the same case handling (a NOCASE key serves UPPER items only) and
//     all directions equal to the key's or all reversed: that key, read
//     forwards or backwards;
//   - any other order: a list of (order values, row position) built once per
//     order and filter by one pass over the file, sorted, and read by
//     position. The list is dropped when a file's change count (the driver's
//     kPropertyChangeCount) has moved at the next positioning, or, for a
//     driver that cannot tell, when it is older than the buffering time-out.
//     Rows are always read afresh by position, so a stale list can only hold
//     a row in its old place, never show old data.
//
// Joins: by key, the joined file's key components are set from the parent's
// linking fields (the rest to their first value in key order) and the
// records read while those components match; by expression, the joined file
// is scanned in record order and every record for which the expression is
// true matches. The filter is parsed once (with every record field of the
// view's files bound by its label, in a pushed name scope that still sees
// the caller's own bindings) and evaluated for each candidate row.
//
// What the engine asks of a driver (through DoFileOp, with FileArgs::view
// set so the trace marks the calls):
//   SETfile; SETkey (args.key: before the first record of the key);
//   SETfileptr (args.position); SETkeykey (args.key, the key value in the
//   record buffer); SETkeykeyptr (the same plus args.position, a seek point
//   at that entry); after a SET, NEXT reads the first record at or after the
//   seek point and PREVIOUS the last at or before it; after a read NEXT and
//   PREVIOUS move one record; 33 past either end. GETfileptr (args.position;
//   35 when gone). POINTERfile (args.result: the last record read), unless
//   the NEXT or PREVIOUS that read it answered its position in args.result.
//   Optional: GET_PROPERTY kPropertyChangeCount (args.value: a decimal count
//   that moves on every change), SET_PROPERTY kPropertyReadAhead, QUERY_VIEW.
//
// Between reads the primary file's sequential position belongs to the view:
// a caller that reads or writes the file itself positions the view again
// (Set or Reset) before the next Next or Previous.
//
// Failures are returned and posted (ERRORCODE): 33 past the end, 35 for a
// position that names no row, 37 when a file is not open, 47 for a view that
// the files do not fit, 76 for a bad order text, the evaluator's codes for a
// bad filter or join expression, and any driver error as the driver gave it.
//
// Threads: an engine, its view and its files belong to one thread; filters
// and join expressions are parsed with that thread's evaluator.
//
// Files: view_engine.cc (opening, order, filter, positioning, reading and
// the pass that builds the sorted list), view_engine_joins.cc (the joined
// files), view_position.h (the position format), sorted_row_list.h (the
// sorted list itself).

#ifndef QZR_DATA_VIEW_ENGINE_H_
#define QZR_DATA_VIEW_ENGINE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_driver.h"
#include "data/order_text.h"
#include "data/sorted_row_list.h"
#include "data/view.h"
#include "data/view_position.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace qzr {

// The most records the engine asks a driver to read ahead.
inline constexpr uint32_t kMaxReadAhead = 60;

// The view's buffering: records per page, pages read ahead and kept behind,
// and how long (seconds) buffered data stays valid.
struct ViewBuffering {
  uint16_t page_size = 20;
  uint16_t pages_behind = 2;
  uint16_t pages_ahead = 0;
  uint16_t timeout = 60;
};

// A check of the caller's own, run by the engine on each row that passes
// the filter, before the row is handed out: Keep() false drops the row.
class RowCheck {
 public:
  virtual bool Keep() = 0;

 protected:
  ~RowCheck() = default;
};

class ViewEngine {
 public:
  // How the primary file is read in the current order.
  enum class Access { kRecordOrder, kKey, kKeyReversed, kSortedList };

  // REQUIRES: `view` was built (Init returned 0) and outlives the engine.
  explicit ViewEngine(const View* view);
  ~ViewEngine();
  ViewEngine(const ViewEngine&) = delete;
  ViewEngine& operator=(const ViewEngine&) = delete;

  // Opens the view: every file must be open (37) and its record buffer must
  // hold its fields (47); join expressions are parsed here. 52 when already
  // open. The view starts positioned before its first row.
  int Open();
  void Close();
  bool IsOpen() const { return open_; }

  // Sets the order (see order_text.h); the view is then positioned before
  // its first row. On failure the order in force stays.
  int SetOrder(std::string_view text);
  const std::string& OrderText() const { return order_text_; }
  // Sets the filter ("" for none); parsed here, evaluated per row. On
  // failure the filter in force stays. The view is positioned at its start.
  int SetFilter(std::string_view text);
  const std::string& FilterText() const { return filter_text_; }

  // Sets the row check (nullptr for none). `reads_memos`: the check looks
  // at memos or BLOBs, so rows are read whole before it runs; otherwise a
  // row it drops has no memos read. Neither positions the view; the sorted
  // list is built by the filter alone (its rows are checked when read).
  void SetRowCheck(RowCheck* check, bool reads_memos) {
    check_ = check;
    check_reads_memos_ = reads_memos;
  }

  // Also tells the primary driver that a page of page_size rows is read
  // after each positioning (kPropertyPageRows), so that it can read a page
  // in one go; rows read ahead by position start with a page as well.
  void SetBuffering(const ViewBuffering& buffering);
  const ViewBuffering& Buffering() const { return buffering_; }
  // Records the primary driver reads ahead per sequential read (0 off; at
  // most kMaxReadAhead); a driver without read-ahead ignores it.
  void SetReadAhead(uint32_t records);
  uint32_t ReadAhead() const { return read_ahead_; }

  // Positions before the first row: Next reads the first row, Previous the
  // last.
  int Set();
  // Positions at a row's view position (from Position()): the next read in
  // either direction gives that row when it still exists and passes the
  // filter, else its neighbour in the direction read.
  int Reset(std::string_view position);
  // Reads the next or previous row: 0, 33 past the end, or an error.
  int Next();
  int Previous();
  // Reads the row at a view position (from Position()) into the buffers
  // again, without moving the view: 0, or 35 when its primary record is
  // gone (a joined record that is gone leaves its buffer cleared). The
  // filter is not consulted. A driver whose reads by position move its
  // sequential position needs the view positioned again afterwards.
  int Reget(std::string_view position);

  // The view position of the current row (the record positions of every
  // file and the primary record's ordering values); "" before a read.
  std::string Position() const;
  // The view position of the primary file's current record (the one its
  // driver read or wrote last, whose values are in its buffer), without
  // joined records: to place the view at a record just added or changed
  // through the file. "" when the driver has no current record.
  std::string CurrentRecordPosition();

  // Drops the sorted list; the next positioning builds it again.
  void Flush();

  Access access() const { return access_; }
  int access_key() const { return key_; }
  // Times the sorted list has been built (for tests and tuning).
  int sorted_list_builds() const { return list_.builds(); }

 private:
  enum class State { kStart, kBeforeFirst, kAfterLast, kSeek, kOnRow };
  // Result of filling the joined files: a row, no row for this parent.
  static constexpr int kNoCombination = -1;

  struct JoinSlot {
    std::vector<uint32_t> domain;  // matching record positions
    int index = -1;                // in domain; -1 for the cleared (outer) record
    std::unique_ptr<Expression> expression;
  };

  FileDescriptor& File(int n) const { return *files_[static_cast<size_t>(n - 1)]; }
  int Call(FileOp op, int file, FileArgs& args);
  int Call(FileOp op, int file) {
    FileArgs args;
    return Call(op, file, args);
  }
  int Fail(int code);
  int ReadPosition(int file, uint32_t* position);
  // The position of the record a NEXT or PREVIOUS just read: what it
  // answered in `args`, or POINTERfile's.
  int ReadPositionAfter(const FileArgs& args, int file, uint32_t* position);
  // `nomemo`: the read is made with the args ArmNoMemo(args) armed.
  int GetByPosition(int file, uint32_t position, bool nomemo = false);
  void ClearBuffer(int file);

  // Parses `text` with every record field of the view bound by its label.
  int Parse(std::string_view text, std::unique_ptr<Expression>* out);
  void ChooseAccess();
  bool KeySupports(const KeyDesc& key, bool* reversed) const;
  // True when key `key` of the primary file holds as many entries as the
  // file has rows (a driver that cannot count answers false).
  bool KeyHoldsEveryRow(int key);
  const std::vector<int>& PlacementFields() const;
  bool HasInnerJoin() const;

  int Step(bool forward);
  int PrimaryStep(bool forward, bool from_start);
  int DriverRead(bool driver_forward);
  int ListStep(bool forward);
  int SeekPrimary(bool forward);
  // The filter, then the row check.
  bool Passes();
  bool FilterPasses();
  // A read that drops rows (the filter, INNER) passes records through the
  // buffers that the view never hands out. HoldBuffers copies what the
  // buffers hold before such a read (the memos only where the reads may
  // touch them); when the read ends at 33, RestoreBuffers puts it back, so
  // that the buffers hold the last row handed out (or, before any, what
  // they held), as a file's read past its end leaves its last record.
  void HoldBuffers();
  int RestoreBuffers(const std::string& last_position);
  // The driver's current record (the one a PUT on the file writes) is the
  // last record read, which after such a read is one the view dropped:
  // each file is told to take the record of the last row handed out
  // instead, or none when no row was handed out (a PUT then fails with 33
  // rather than writing over a dropped record). `read_again`: the records
  // of the row were just read again, which made them current already.
  int TakeCurrentRecords(const std::string& last_position, bool read_again);
  // Memos are left out of the primary file's reads when only a filter that
  // cannot see them, or a row check that does not look at them, decides on
  // the record (one file, memos declared, a driver that reads them
  // afterwards); ReadKeptMemos then reads those of a record kept.
  bool DefersMemos() const;
  // Before a read by position in the sorted list: when the entry is not
  // among those asked for already, tells the primary driver the positions
  // of the next entries in this direction (kPropertyRowsAhead), so that it
  // may read them together.
  void AskAhead(bool forward);
  // Arms NOMEMO for the primary read to be made with `read` when
  // DefersMemos(): in `read` itself for a driver that takes it there, else
  // by a NOMEMO call.
  void ArmNoMemo(FileArgs& read);
  // Reads the memos of the kept primary record. *again: the driver read the
  // record again (it changed since), so the filter must decide again.
  int ReadKeptMemos(bool* again);
  // Points the bound field objects at the record buffers again if a driver
  // replaced a buffer's storage since they were made.
  void RefreshBindings();

  int BuildDomain(int file);
  // NEXT on a joined file while its domain is built, without memos while
  // the driver can leave them out (*nomemo).
  int DomainRead(int file, bool* nomemo);
  int LoadJoin(int file);
  int FillJoins(int from, bool forward, const std::vector<uint32_t>* targets);
  int AdvanceJoins(bool forward);

  std::string EncodePosition() const;
  std::string EncodePosition(uint32_t row, bool joins) const;
  // EncodePosition(row, joins) into `*out`, reusing its storage and that of
  // position_parts_ (a row handed out allocates nothing for its position).
  void EncodePositionInto(uint32_t row, bool joins, std::string* out) const;

  int EnsureList();
  int BuildList();
  // The change count of every file; nullopt when a driver cannot tell.
  std::optional<std::vector<int64_t>> ChangeCounts();

  const View* view_;
  std::vector<FileDescriptor*> files_;
  uint32_t identity_;
  bool open_ = false;

  std::string order_text_;
  std::vector<OrderItem> order_;
  Access access_ = Access::kRecordOrder;
  int key_ = -1;
  std::vector<int> placement_fields_;  // fields whose values place a row (ChooseAccess)
  bool opt_key_asked_ = false;         // an OPT key could serve the order (ChooseAccess)

  std::string filter_text_;
  std::unique_ptr<Expression> filter_;
  bool filter_repeatable_ = false;  // it may run inside a driver's read too
  RowCheck* check_ = nullptr;
  bool check_reads_memos_ = true;
  bool memo_reads_ = true;         // the primary driver reads memos after a NOMEMO read
  bool memos_deferred_ = false;    // the last primary read left its memos out
  bool nomemo_with_read_ = false;  // the primary driver takes NOMEMO with its reads (Open)
  bool skip_with_read_ = false;    // ... and passes over records the filter drops (Open)
  // The filter as the check a primary driver passes records over by.
  struct FilterCheck final : RecordCheck {
    ViewEngine* engine = nullptr;
    bool Keep() override { return engine->FilterPasses(); }
  };
  FilterCheck filter_check_;
  // The check for a sequential read of the primary file, or none: the
  // filter, where it decides alone on a record whose memos are left out.
  RecordCheck* SkipCheck();
  // Field objects the expressions name, and where each points.
  struct Bound {
    std::string label;
    size_t file = 0;  // index in files_
    uint32_t offset = 0;
    std::unique_ptr<UFO> ufo;
  };
  std::vector<Bound> bound_;
  std::vector<const uint8_t*> bound_bases_;  // record buffer of each file when bound

  // The buffers as the view last left them (HoldBuffers).
  struct HeldBuffers {
    std::vector<std::vector<uint8_t>> records;  // per file
    std::vector<std::vector<std::string>> memos;
    bool memos_held = false;  // false: the reads were to leave the memos be
    bool taken = false;       // by the read under way
  };
  HeldBuffers held_;
  bool strayed_ = false;        // this read put a record it drops into a buffer
  bool memos_touched_ = false;  // ... or read memos for a record it drops

  ViewBuffering buffering_;
  uint32_t read_ahead_ = 0;

  std::vector<JoinSlot> joins_;  // per file; [0] unused
  State state_ = State::kStart;
  uint32_t primary_ = 0;  // position of the current primary record
  std::string current_position_;
  mutable ViewPosition position_parts_;  // EncodePositionInto's scratch

  // Seek target of Reset.
  std::vector<uint32_t> seek_positions_;
  size_t seek_lo_ = 0;  // sorted list: first entry at or after the target
  long seek_hi_ = -1;   // sorted list: last entry at or before the target

  // The sorted list and the place of the reading in it.
  SortedRowList list_;
  long cursor_ = -1;  // current entry in list_
  // The primary file's sequential position is on the record of entry
  // run_at_ (read by a sequential read), so that an entry whose record
  // follows it in record order is read by NEXT or PREVIOUS.
  bool run_ = false;
  long run_at_ = -1;
  // Entries whose positions the driver was asked to read ahead
  // (kPropertyRowsAhead): from ahead_from_ up to, not including, ahead_to_,
  // in direction ahead_dir_ (0: none asked).
  bool ahead_supported_ = true;
  int ahead_dir_ = 0;
  long ahead_from_ = 0;
  long ahead_to_ = 0;
  uint32_t ahead_rows_ = 0;

  // Sends the page size to the primary driver (kPropertyPageRows).
  void TellPageRows();
};

}  // namespace qzr

#endif  // QZR_DATA_VIEW_ENGINE_H_
