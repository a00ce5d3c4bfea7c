// The sorted row list (see sorted_row_list.h).

#include "data/sorted_row_list.h"

#include <algorithm>

#include "runtime/core/string_compare.h"

namespace qzr {

namespace {

// Order values first, then record position: a strict total order over the
// rows of one list.
bool RowLess(const std::vector<OrderItem>& order, const SortedRow& a, const SortedRow& b) {
  const int c = CompareOrderKeys(order, a.key, b.key);
  return c != 0 ? c < 0 : a.position < b.position;
}

// An entry of the sort: a row's first order value as eight bytes that
// order as the value does in the item's direction, and whether equal ones
// mean equal values. Most comparisons of a sort end at the prefixes, and
// the entries are small to move; the rows follow their entries once sorted.
struct SortEntry {
  uint64_t prefix = 0;
  uint32_t row = 0;
  bool whole = false;
};

// The prefix of `v` for `item`, for integers and texts; false for the
// classes without one.
bool PrefixOf(const OrderItem& item, const OrderValue& v, SortEntry* e) {
  switch (v.cls) {
    case ValueClass::Integer:
      e->prefix = static_cast<uint64_t>(v.l) ^ (uint64_t{1} << 63);
      e->whole = true;
      break;
    case ValueClass::String:
      e->prefix = DefaultCollation().SortPrefix(v.s, &e->whole);
      break;
    default:
      return false;
  }
  if (item.descending) e->prefix = ~e->prefix;
  return true;
}

}  // namespace

void SortedRowList::Begin(std::optional<std::vector<int64_t>> counts) {
  valid_ = false;
  rows_.clear();
  index_.clear();
  counts_ = std::move(counts);
}

void SortedRowList::Finish(const std::vector<OrderItem>& order) {
  std::vector<SortEntry> entries(rows_.size());
  bool prefixed = !order.empty();
  for (size_t i = 0; prefixed && i < rows_.size(); ++i) {
    entries[i].row = static_cast<uint32_t>(i);
    prefixed = rows_[i].key.size() == order.size() && rows_[i].key[0].cls == rows_[0].key[0].cls &&
               PrefixOf(order[0], rows_[i].key[0], &entries[i]);
  }
  index_.clear();
  if (!prefixed) {
    std::sort(rows_.begin(), rows_.end(),
              [&order](const SortedRow& a, const SortedRow& b) { return RowLess(order, a, b); });
    for (size_t i = 0; i < rows_.size(); ++i) {
      index_.emplace_back(rows_[i].position, static_cast<uint32_t>(i));
    }
  } else {
    std::sort(entries.begin(), entries.end(), [&](const SortEntry& a, const SortEntry& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      const SortedRow& ra = rows_[a.row];
      const SortedRow& rb = rows_[b.row];
      // Equal whole prefixes: the first values are equal.
      for (size_t i = a.whole && b.whole ? 1 : 0; i < order.size(); ++i) {
        const int c = CompareOrderValues(order[i], ra.key[i], rb.key[i]);
        if (c != 0) return c < 0;
      }
      return ra.position < rb.position;
    });
    // The index in the rows' pass order, which is by position when the
    // pass read in record order.
    index_.resize(rows_.size());
    for (size_t j = 0; j < entries.size(); ++j) {
      index_[entries[j].row] = {rows_[entries[j].row].position, static_cast<uint32_t>(j)};
    }
    std::vector<SortedRow> sorted;
    sorted.reserve(rows_.size());
    for (const SortEntry& e : entries) sorted.push_back(std::move(rows_[e.row]));
    rows_.swap(sorted);
  }
  if (!std::is_sorted(index_.begin(), index_.end())) std::sort(index_.begin(), index_.end());
  for (size_t i = 0; i < rows_.size(); ++i) {
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
  const auto found =
      std::lower_bound(index_.begin(), index_.end(), std::pair<uint32_t, uint32_t>(position, 0));
  if (found == index_.end() || found->first != position) return std::nullopt;
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
