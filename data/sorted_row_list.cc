// The sorted row list (see sorted_row_list.h).

#include "data/sorted_row_list.h"

#include <algorithm>

namespace qzr {

namespace {

// Order values first, then record position: a strict total order over the
// rows of one list.
bool RowLess(const std::vector<OrderItem>& order, const SortedRow& a, const SortedRow& b) {
  const int c = CompareOrderKeys(order, a.key, b.key);
  return c != 0 ? c < 0 : a.position < b.position;
}

}  // namespace

void SortedRowList::Begin(std::optional<std::vector<int64_t>> counts) {
  valid_ = false;
  rows_.clear();
  index_.clear();
  counts_ = std::move(counts);
}

void SortedRowList::Finish(const std::vector<OrderItem>& order) {
  std::sort(rows_.begin(), rows_.end(),
            [&order](const SortedRow& a, const SortedRow& b) { return RowLess(order, a, b); });
  index_.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    index_.emplace(rows_[i].position, i);
    rows_[i].follows = i > 0 && rows_[i].scan == rows_[i - 1].scan + 1;
  }
  valid_ = true;
  built_ = std::chrono::steady_clock::now();
  ++builds_;
}

void SortedRowList::Clear() {
  valid_ = false;
  rows_.clear();
  index_.clear();
}

bool SortedRowList::Fresh(const std::optional<std::vector<int64_t>>& counts,
                          std::chrono::seconds timeout) const {
  if (!valid_) return false;
  if (counts_.has_value()) return counts.has_value() && *counts == *counts_;
  // The drivers cannot tell about changes: the list is trusted for as long
  // as buffered data is.
  return std::chrono::steady_clock::now() - built_ < timeout;
}

std::optional<size_t> SortedRowList::Find(uint32_t position) const {
  const auto found = index_.find(position);
  if (found == index_.end()) return std::nullopt;
  return found->second;
}

void SortedRowList::Bounds(const std::vector<OrderItem>& order, const SortedRow& probe, size_t* lo,
                           long* hi) const {
  const auto less = [&order](const SortedRow& a, const SortedRow& b) {
    return RowLess(order, a, b);
  };
  *lo = static_cast<size_t>(std::lower_bound(rows_.begin(), rows_.end(), probe, less) -
                            rows_.begin());
  *hi =
      static_cast<long>(std::upper_bound(rows_.begin(), rows_.end(), probe, less) - rows_.begin()) -
      1;
}

}  // namespace qzr
