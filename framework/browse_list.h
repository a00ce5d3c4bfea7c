// The two interfaces through which a browse reaches its list: the list
// queue (the rows it holds) and the list control (what the window shows),
// and the standard list queue over a QUEUE whose columns are filled from the
// view's fields by pairs.
//
// The browse never touches the QUEUE or the window directly, so its paging
// runs the same over a window's list, a test's fake list, or nothing at all.
//
// BrowseListRows keeps, besides the QUEUE, the view position of each row
// (in the QUEUE's position column when one is named, else beside it) and a
// snapshot of each row's records as the view read them, so that making the
// selected row's record current needs no second read of the file.
//
// Threads: a list belongs to the thread of its window.

#ifndef QZR_FRAMEWORK_BROWSE_LIST_H_
#define QZR_FRAMEWORK_BROWSE_LIST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/file_descriptor.h"
#include "runtime/values/queue.h"

namespace qzr {

// The list queue as the browse sees it (LISTQUEUE). Rows are 1-based.
class BrowseListQueue {
 public:
  virtual ~BrowseListQueue() = default;
  virtual int32_t Records() = 0;
  // Appends the row last filled (FillRow) as the last row, or inserts it at
  // `row` (1 .. Records() + 1).
  virtual void Add() = 0;
  virtual void AddAt(int32_t row) = 0;
  // Makes `row` current (its values in the QUEUE's buffer).
  virtual void Get(int32_t row) = 0;
  // Deletes the current row.
  virtual void Delete() = 0;
  virtual void Free() = 0;
  // The view position of the current row.
  virtual std::string ViewPosition() = 0;
  // Fills the row to be added from the view's current row, at view position
  // `position`.
  virtual void FillRow(std::string_view position) = 0;
  // Makes the current row's records current again: the view's buffers get
  // the values they had when the row was read. False when the list keeps no
  // such copy (the caller reads the record again).
  virtual bool RestoreRecords() { return false; }
};

// The list control as the browse sees it (ILC).
class BrowseListControl {
 public:
  virtual ~BrowseListControl() = default;
  // The selected row (1-based, 0 none) and setting it.
  virtual int32_t Choice() = 0;
  virtual void SetChoice(int32_t row) = 0;
  // Rows the list can show at its present size.
  virtual int32_t Items() = 0;
  // The list can be seen: not hidden, on the selected tab, its window open
  // and not iconized.
  virtual bool Visible() = 0;
  // Where the browse stands in the whole result, for the scroll bar's
  // thumb: 0 at the start, 100 at the end, 50 in between.
  virtual void SetThumb(int percent) { (void)percent; }
};

// A column of the list filled from a field of one of the view's files (a
// record field, or a memo when `memo` is set).
struct BrowseFieldPair {
  FileDescriptor* file = nullptr;
  int field = -1;  // index in file->fields, or in file->memos when memo
  bool memo = false;
  int queue_field = 0;  // 1-based field of the list QUEUE
};

// The standard list queue: a QUEUE whose columns are copied from the view's
// fields. Each row also keeps a copy of the records it was read from (the
// record buffer and memos of each file of the view).
class BrowseListRows : public BrowseListQueue {
 public:
  // `queue` belongs to the caller and outlives this object. `position_field`
  // is the QUEUE's view-position column (a STRING, 1-based; 0 none).
  // `files` are the view's files whose records each row keeps.
  BrowseListRows(QUEUE* queue, int position_field, std::vector<FileDescriptor*> files);
  ~BrowseListRows() override;

  // Declares a column filled from a field or memo.
  void AddField(FileDescriptor* file, int field, int queue_field);
  void AddMemo(FileDescriptor* file, int memo, int queue_field);
  const std::vector<BrowseFieldPair>& fields() const { return fields_; }

  QUEUE* queue() const { return queue_; }

  int32_t Records() override;
  void Add() override;
  void AddAt(int32_t row) override;
  void Get(int32_t row) override;
  void Delete() override;
  void Free() override;
  std::string ViewPosition() override;
  void FillRow(std::string_view position) override;
  bool RestoreRecords() override;

  // The column values of the row to be added are in the QUEUE's buffer
  // after FillRow; a derived list fills its own columns after calling it.

 private:
  struct Snapshot {
    std::string position;
    std::vector<std::vector<uint8_t>> records;
    std::vector<std::vector<std::string>> memos;
  };
  Snapshot Take(std::string_view position) const;

  QUEUE* queue_;
  int position_field_;
  std::vector<FileDescriptor*> files_;
  std::vector<BrowseFieldPair> fields_;
  // Row n's snapshot at [n - 1], in step with the QUEUE's rows.
  std::vector<Snapshot> rows_;
  Snapshot pending_;  // filled, not yet added
  int32_t current_ = 0;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_BROWSE_LIST_H_
