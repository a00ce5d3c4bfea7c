// The sorted row list: the list of (order values, record position) that
// serves a view order no key supports. The view engine fills it by one pass
// over the primary file (Begin, Add per record kept, Finish), reads it by
// entry, and asks whether it may still be used: a list stamped with the
// files' change counts holds while they have not moved; one built over a
// driver that cannot count holds for the buffering time-out.
//
// Entries sort by their order values in the order's directions, then by
// record position, so equal values keep record order and a row's place is
// unique. Each entry remembers whether its record came right after the
// previous entry's in record order during the pass, so that a reader can
// take such runs with sequential reads.
//
// Threads: a list belongs to its engine's thread.

#ifndef QZR_DATA_SORTED_ROW_LIST_H_
#define QZR_DATA_SORTED_ROW_LIST_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "data/order_text.h"

namespace qzr {

struct SortedRow {
  std::vector<OrderValue> key;  // one value per order item
  uint32_t position = 0;        // the record's position
  uint32_t scan = 0;            // its place in record order during the pass (from 1)
  bool follows = false;         // Finish: it came right after the previous entry's record
};

class SortedRowList {
 public:
  // Starts a new list (the old one is dropped and the list is not valid
  // until Finish). `counts`: the files' change counts taken before the
  // pass, so that a change made during it shows; nullopt when a driver
  // cannot tell.
  void Begin(std::optional<std::vector<int64_t>> counts);
  void Add(SortedRow row) { rows_.push_back(std::move(row)); }
  // Sorts by `order`, indexes the rows by position and makes the list valid.
  void Finish(const std::vector<OrderItem>& order);

  // Drops the entries.
  void Clear();
  // The next use builds the list again; the entries stay until then.
  void Invalidate() { valid_ = false; }
  bool valid() const { return valid_; }

  // True iff the valid list may still be used: its change counts equal
  // `counts` (nullopt: the drivers cannot tell now), or, for a list built
  // without counts, it is younger than `timeout`.
  bool Fresh(const std::optional<std::vector<int64_t>>& counts, std::chrono::seconds timeout) const;
  // True iff the list was stamped with change counts.
  bool counted() const { return counts_.has_value(); }

  size_t size() const { return rows_.size(); }
  const SortedRow& row(size_t i) const { return rows_[i]; }
  // The entry of the record at `position`; nullopt when it is not listed.
  std::optional<size_t> Find(uint32_t position) const;
  // Where a row that is not listed would stand: `*lo` the first entry at
  // or after it, `*hi` the last at or before it (-1 for none).
  void Bounds(const std::vector<OrderItem>& order, const SortedRow& probe, size_t* lo,
              long* hi) const;
  // True iff entry `b` is the one after `a` and its record followed `a`'s
  // in record order when the list was built.
  bool Linked(long a, long b) const {
    return b > 0 && b < static_cast<long>(rows_.size()) && a == b - 1 &&
           rows_[static_cast<size_t>(b)].follows;
  }

  // Times a list has been finished (for tests and tuning).
  int builds() const { return builds_; }

 private:
  std::vector<SortedRow> rows_;
  // (record position, entry) of every entry, by position: Find's index.
  std::vector<std::pair<uint32_t, uint32_t>> index_;
  bool valid_ = false;
  std::optional<std::vector<int64_t>> counts_;
  std::chrono::steady_clock::time_point built_;
  int builds_ = 0;
};

}  // namespace qzr

#endif  // QZR_DATA_SORTED_ROW_LIST_H_
