// The sort that orders a queue: a merge sort that hands short runs to a
// binary insertion sort.
//
// Works on any array of trivially copyable references (a queue sorts entry
// pointers) under a three-way comparison. The caller supplies the temporary
// array, so the sort itself never allocates and cannot fail halfway: the
// queue allocates the temporary first and leaves the order untouched when it
// cannot. The sort is stable: equal elements keep their relative order.
// Stateless; safe from any thread on distinct arrays.

#ifndef QZR_RUNTIME_QUEUE_SORT_H_
#define QZR_RUNTIME_QUEUE_SORT_H_

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace qzr {

// Runs of up to this many elements (last - first < kInsertionRunLimit) are
// sorted by insertion; longer ranges are split in halves and merged.
inline constexpr size_t kInsertionRunLimit = 9;

// Counts what the sort did; tests use it to see which path ran.
struct SortTrace {
  size_t insertion_runs = 0;  // ranges sorted by binary insertion
  size_t merges = 0;          // pairs of halves merged
  size_t comparisons = 0;
};

namespace queue_sort_internal {

// Sorts a[first..last] (inclusive) by binary insertion: each element goes
// after every element before it that is not greater, which keeps equal
// elements in order.
template <typename T, typename Compare>
void InsertionRun(T* a, size_t first, size_t last, Compare& compare, SortTrace* trace) {
  if (trace) ++trace->insertion_runs;
  for (size_t i = first + 1; i <= last; ++i) {
    T x = a[i];
    size_t lo = first;
    size_t hi = i;
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (trace) ++trace->comparisons;
      if (compare(x, a[mid]) < 0) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    if (lo != i) {
      std::memmove(static_cast<void*>(a + lo + 1), static_cast<const void*>(a + lo),
                   (i - lo) * sizeof(T));
      a[lo] = x;
    }
  }
}

template <typename T, typename Compare>
void SortRange(T* a, T* temp, size_t first, size_t last, Compare& compare, SortTrace* trace) {
  if (last - first < kInsertionRunLimit) {
    InsertionRun(a, first, last, compare, trace);
    return;
  }
  size_t middle = first + (last - first) / 2;
  SortRange(a, temp, first, middle, compare, trace);
  SortRange(a, temp, middle + 1, last, compare, trace);
  if (trace) ++trace->merges;
  // The lower half moves out to the temporary array; the merge then fills
  // a[first..] from the front, never overtaking the unread upper half.
  size_t left_count = middle - first + 1;
  std::memcpy(static_cast<void*>(temp + first), static_cast<const void*>(a + first),
              left_count * sizeof(T));
  size_t l = first;
  size_t l_end = middle + 1;
  size_t r = middle + 1;
  size_t out = first;
  while (l < l_end && r <= last) {
    if (trace) ++trace->comparisons;
    // Ties take the lower half first: that is what makes the sort stable.
    if (compare(a[r], temp[l]) < 0) {
      a[out++] = a[r++];
    } else {
      a[out++] = temp[l++];
    }
  }
  while (l < l_end) a[out++] = temp[l++];
}

}  // namespace queue_sort_internal

// Sorts a[0..count) under `compare(x, y)` (negative, 0 or positive).
// REQUIRES: `temp` has room for `count` elements; T is trivially copyable.
template <typename T, typename Compare>
void MergeInsertionSort(T* a, size_t count, T* temp, Compare compare, SortTrace* trace = nullptr) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (count < 2) return;
  queue_sort_internal::SortRange(a, temp, 0, count - 1, compare, trace);
}

}  // namespace qzr

#endif  // QZR_RUNTIME_QUEUE_SORT_H_
