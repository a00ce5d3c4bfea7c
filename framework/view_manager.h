// ViewManager: reads one view over a primary file in a chosen sort order,
// with range limits and named filters that it turns into the view's filter
// text, and a record-filter hook that a procedure overrides to skip rows the
// filter text cannot express.
//
// The manager keeps a list of sort orders (ORDER); the current one is in
// force. Each order carries its order text, the key it follows (MAINKEY),
// its range limit (LIMITTYPE and RANGELIST) and its named filters (FILTER,
// keyed by ID). Whenever the order, a range or a filter changes while the
// view is open, the order text and the range-and-filter text
// (framework/filter_text.h) are handed to the view again; a text the view
// refuses is reported once with error 43 ("View Open Error") through the
// primary file's manager and the manager carries on without it.
//
// Reading: Next and Previous read rows of the view and run ValidateRecord on
// each; a row it answers kFiltered is skipped, kOutOfRange ends the read as
// the end of the data would. So a derived manager filters by overriding one
// operation:
//
//   class FindView : public ViewManager {
//     RecordStatus ValidateRecord() override {
//       RecordStatus s = ViewManager::ValidateRecord();
//       if (s != RecordStatus::kOk) return s;
//       return Matches(*file) ? RecordStatus::kOk : RecordStatus::kFiltered;
//     }
//   };
//
// The view (a ViewEngine over a built View) and the file managers belong to
// the caller and must outlive the manager's use of them; the files must be
// open (or their manager able to open them on first use) before Open.
//
// Lifecycle: Init -> (AddSortOrder, AddRange, SetFilter ...) -> Open ->
// Next/Previous ... -> Close -> Kill. Kill closes the view the manager
// opened, frees ORDER when the manager made it, and drops saved buffers;
// the destructor runs Kill when it has not run.
//
// Threads: a manager, its view and its files belong to one thread (files
// are declared per thread); the filter text is parsed by that thread's
// evaluator.

#ifndef QZR_FRAMEWORK_VIEW_MANAGER_H_
#define QZR_FRAMEWORK_VIEW_MANAGER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/file_descriptor.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "framework/filter_text.h"
#include "framework/severity.h"

namespace qzr {

class FileManager;
class RelationManager;
class UFO;

// Framework error numbers the view manager uses.
inline constexpr int32_t kErrViewRecordRetrieval = 1;  // "Record Retrieval Error"
inline constexpr int32_t kErrViewOpen = 43;            // "View Open Error"

// The view's buffering a manager sets at Init.
inline constexpr uint16_t kViewPageSize = 20;
inline constexpr uint16_t kViewPagesBehind = 2;
inline constexpr uint16_t kViewPagesAhead = 0;
inline constexpr uint16_t kViewTimeout = 60;

// Longest filter ID kept (a STRING(30)).
inline constexpr size_t kFilterIdSize = 30;

// What the record filter answers for the row just read.
enum class RecordStatus : uint8_t {
  kOk = 0,          // the row is shown
  kFiltered = 1,    // the row is skipped; reading goes on
  kOutOfRange = 2,  // no further row can qualify: the read ends here
};

// A field of one of the view's files. `name` overrides the name the range
// text uses for it ("UPPER(PRE:NAME)"); empty: the manager derives it.
struct ViewField {
  FileDescriptor* file = nullptr;
  int field = -1;  // index in file->fields
  std::string name;

  bool valid() const {
    return file != nullptr && field >= 0 && static_cast<size_t>(field) < file->fields.size();
  }
};

// The value a range pair limits its field to. A field or a variable is read
// when the range text is built, so the limit follows it; the other forms
// hold their value.
class RangeValue {
 public:
  RangeValue();
  ~RangeValue();
  RangeValue(RangeValue&&) noexcept;
  RangeValue& operator=(RangeValue&&) noexcept;

  // The current value of a field of a record buffer.
  static RangeValue Field(FileDescriptor* file, int field);
  // The current value of a variable. REQUIRES: `variable` outlives the
  // range (it is read through a field object over the same storage).
  static RangeValue Variable(const UFO& variable);
  static RangeValue String(std::string_view text);
  static RangeValue Long(int32_t value);
  static RangeValue Real(double value);

  bool empty() const { return kind_ == Kind::kNone; }
  // The value as it stands now.
  FilterLiteral Read() const;

 private:
  enum class Kind : uint8_t { kNone, kField, kObject, kConstant };
  Kind kind_ = Kind::kNone;
  FileDescriptor* file_ = nullptr;
  int field_ = -1;
  std::unique_ptr<UFO> object_;
  FilterLiteral constant_;
};

// A pair of a range: the file field and its limiting value.
struct RangePair {
  ViewField LEFT;
  RangeValue RIGHT;
};

// A named filter of a sort order.
struct ViewFilterEntry {
  std::string ID;      // at most kFilterIdSize bytes, trailing blanks removed
  std::string FILTER;  // an expression over the view's fields
};

// One sort order. A browse derives its own entry (locator, thumb ...) and
// makes it through ViewManager::NewSortOrder.
struct SortOrder {
  virtual ~SortOrder() = default;

  std::vector<ViewFilterEntry> FILTER;
  ViewField FREEELEMENT;  // the key component a locator works on
  uint8_t LIMITTYPE = kRangeNone;
  int MAINKEY = -1;   // index in the primary file's keys; -1 none
  std::string ORDER;  // the order text (data/order_text.h)
  std::vector<RangePair> RANGELIST;
};

// The sort orders of a manager; `current` (1-based, 0 none) is in force.
struct SortOrderQueue {
  std::vector<std::unique_ptr<SortOrder>> entries;
  int current = 0;
};

// A saved record buffer of one of the view's files (SAVEDBUFFERS).
struct SavedViewBuffer {
  uint16_t BUFF = 0;  // the file manager's saved-buffer handle
  FileManager* FM = nullptr;
};

class ViewManager {
 public:
  ViewManager();
  virtual ~ViewManager();
  ViewManager(const ViewManager&) = delete;
  ViewManager& operator=(const ViewManager&) = delete;

  // INITED 1, KILLED 0; stores the view and the primary file's manager
  // (which may be null: errors are then recorded on the thread only); uses
  // `order` or makes one (DISPOSEORDER 1); buffering 20 per page, 2 pages
  // behind, none ahead, 60 seconds. A second Init kills the first.
  // `declaration` is the View the engine reads: with it, labels and saved
  // buffers reach the joined files too; without it, the primary file only.
  // REQUIRES: `view` is not null.
  virtual void Init(ViewEngine* view, FileManager* primary, SortOrderQueue* order = nullptr,
                    const View* declaration = nullptr);
  // The same with the primary file's relation manager (PRIMARY), whose
  // file manager (ME) reports the errors. A derived class that overrides
  // Init brings this one back with `using ViewManager::Init;`.
  void Init(ViewEngine* view, RelationManager* primary, SortOrderQueue* order = nullptr,
            const View* declaration = nullptr);
  // Closes the view if the manager opened it, frees ORDER when DISPOSEORDER,
  // drops saved buffers (without restoring them); INITED 0, KILLED 1. Once.
  virtual void Kill();

  // Opens the view unless OPENED (an already open view is accepted), sets
  // its buffering, then applies the order and the range-and-filter text.
  // SeverityNone while the view is open afterwards; SeverityInform after
  // error 43 when it could not be opened; SeverityHalt before Init.
  virtual Severity Open();
  // Closes the view when this manager opened it; OPENED 0.
  virtual void Close();

  // The next or previous row that passes ValidateRecord: SeverityNone;
  // SeverityInform at the end of the data (or kOutOfRange); SeverityHalt on
  // a hard read error, which is reported (error 1) through the primary
  // file's manager, or when the view is not open.
  virtual Severity Next();
  virtual Severity Previous();

  // The record filter, run on every row read; the row is in the buffers of
  // the view's files. The base version lets every row through.
  virtual RecordStatus ValidateRecord();
  // Whether ValidateRecord looks at memos or BLOBs (true unless a derived
  // manager says otherwise). When it does not, the view runs it on each row
  // before the row's memos are read, and a row it filters out has none read.
  void SetRecordFilterReadsMemos(bool reads) { filter_reads_memos_ = reads; }
  bool RecordFilterReadsMemos() const { return filter_reads_memos_; }

  // Positions before the first row of the current order (Next reads the
  // first row, Previous the last), or at a row's view position.
  Severity PositionAtStart();
  Severity PositionAt(std::string_view position);
  // The view position of the current row.
  std::string Position() const;

  // ---- Sort orders. Each makes its change and, when the view is open,
  // applies the order and the range-and-filter text again.

  // Appends a sort order and makes it current; returns its number (1-based).
  // With a key (an index in the primary file's keys) the order text follows
  // that key's components; without one (-1) the order is the view's
  // natural order until an order text is given.
  int AddSortOrder(int key = -1);
  // The same for the key labelled `label`; an unknown label adds an order
  // without a key.
  int AddSortOrder(std::string_view key_label);
  // Makes sort order `n` current; false (nothing changed) when there is no
  // such order. Nothing is re-applied when `n` is current already.
  bool SetSortOrder(int n);
  // The current sort order; nullptr when there is none.
  SortOrder* CurrentOrder() const;
  // The order text of `key`: its components with "+" or "-", a NOCASE
  // key's strings as "UPPER(" label ")".
  std::string KeyOrderText(int key) const;

  // Replaces the current order's text (an empty text restores its key's
  // order, or the natural order without a key).
  void SelectOrderText(std::string_view text);
  void SetOrder(std::string_view text) { SelectOrderText(text); }
  // Appends items after the current order's text ("+PRE:A,-PRE:B").
  void AppendOrder(std::string_view text);

  // ---- Range limits of the current order. Each AddRange replaces the
  // order's range.

  // kRangeCurrent: `field` equals the value it holds when the text is built.
  void AddRange(const ViewField& field);
  // kRangeSingle: `field` equals `value`.
  void AddRange(const ViewField& field, RangeValue value);
  // kRangePair: low <= field <= high.
  void AddRange(const ViewField& field, RangeValue low, RangeValue high);
  // kRangeFile: each field equals its partner, a field of a related file.
  void AddRange(std::vector<std::pair<ViewField, ViewField>> fields);
  // The same by label ("PRE:NAME" of any of the view's files); an unknown
  // label adds nothing and returns false.
  bool AddRange(std::string_view label);
  bool AddRange(std::string_view label, RangeValue value);
  bool AddRange(std::string_view label, RangeValue low, RangeValue high);
  // Appends an equality pair to the current range: in front of the two
  // bounds of a kRangePair range, else at the end (a range without limits
  // becomes kRangeSingle).
  void AppendRangeLimit(const ViewField& field, RangeValue value);
  // Removes the current order's range.
  void ClearRange();

  // ---- Named filters of the current order. A filter is an expression over
  // the view's fields; IDs are kept to 30 bytes without trailing blanks.

  // Sets the filter `id` (replacing its text in place, or appending it); a
  // blank text removes it.
  void SetNamedFilter(std::string_view text, std::string_view id = {});
  void SetFilter(std::string_view text, std::string_view id = {}) { SetNamedFilter(text, id); }
  // The text of filter `id`; "" when there is none.
  std::string GetFilter(std::string_view id = {}) const;
  // Removes every filter of the current order.
  void ClearFilters();

  // ---- The texts.

  // The range-and-filter text of the current order as it would be applied
  // now (current values read now).
  std::string RangeFilterText() const;
  // Hands the current order's text to the view; a refused text throws 43
  // once (the view keeps its previous order). SeverityNone when applied.
  virtual Severity ApplyOrder();
  // Builds the range-and-filter text and hands it to the view unless it
  // equals the view's filter already; a refused text (or a filter that
  // escapes its parentheses) throws 43 and the view goes on unfiltered.
  // The same refused text built again is not reported a second time.
  virtual Severity ApplyRange();

  // The field labelled `label` in any of the view's files (the primary
  // first); invalid when there is none.
  ViewField FieldOf(std::string_view label) const;
  // The name the range text uses for `field`: its own name when given;
  // else, for a component of the current order's key, the component's name
  // as the primary file's manager keeps it; else the field's label. A
  // case-folding wrapper on a field that is not a string is left out
  // (folding changes nothing on a number, and comparing numbers as texts
  // would put 10 before 9).
  virtual std::string FieldName(const ViewField& field) const;

  // ---- Saved record buffers of the view's files (through their file
  // managers; a file without one is skipped).

  void SaveBuffers();
  // Restores the buffers saved last and drops them.
  void RestoreBuffers();

  // Makes a new, empty sort-order entry; a derived manager returns its own
  // entry type.
  virtual std::unique_ptr<SortOrder> NewSortOrder();

  // The primary file's manager (may be null) and descriptor.
  FileManager* PrimaryFile() const { return primary_file_; }
  FileDescriptor* PrimaryDescriptor() const;
  // The view's files, primary first (the primary alone without the
  // declaration).
  std::vector<FileDescriptor*> ViewFiles() const;
  // True iff `field` is a field the view reads: a field of one of its files
  // that the file's level projects (every field of a level without
  // PROJECT; every field of the primary file without the declaration).
  bool ProjectsField(const ViewField& field) const;

  // Fields, in declaration order.
  uint8_t DISPOSEORDER = 0;
  uint8_t OPENED = 0;
  SortOrderQueue* ORDER = nullptr;
  uint16_t PAGESAHEAD = kViewPagesAhead;
  uint16_t PAGESBEHIND = kViewPagesBehind;
  uint16_t PAGESIZE = kViewPageSize;
  RelationManager* PRIMARY = nullptr;  // set by a caller that has one
  uint16_t TIMEOUT = kViewTimeout;
  ViewEngine* VIEW = nullptr;
  std::vector<SavedViewBuffer> SAVEDBUFFERS;
  uint8_t INITED = 0;
  uint8_t KILLED = 0;
  uint8_t USED = 0;

 protected:
  // Reads one row forward or backward through ValidateRecord.
  Severity Read(bool forward);
  // Throws `id` through the primary file's manager with the runtime error
  // of the moment; without a manager the error stays posted on the thread.
  Severity ThrowError(int32_t id);
  // Applies both texts when the view is open.
  void Refresh();

 private:
  FileManager* primary_file_ = nullptr;
  const View* declaration_ = nullptr;
  std::unique_ptr<SortOrderQueue> own_order_;
  bool closes_view_ = false;  // this manager opened the view
  // The last order and range-and-filter texts the view refused.
  std::optional<std::string> refused_order_;
  std::optional<std::string> refused_filter_;
  // Sizes of SAVEDBUFFERS at each SaveBuffers, for RestoreBuffers.
  std::vector<size_t> saved_marks_;

  // ValidateRecord as the view's row check, for a record filter that reads
  // no memos: the view runs it before reading a row's memos, and Read takes
  // the verdict it gave on the row handed out.
  class Check final : public RowCheck {
   public:
    explicit Check(ViewManager* manager) : manager_(manager) {}
    bool Keep() override;
    RecordStatus status = RecordStatus::kOk;
    bool ran = false;

   private:
    ViewManager* manager_;
  };
  Check check_{this};
  bool filter_reads_memos_ = true;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_VIEW_MANAGER_H_
