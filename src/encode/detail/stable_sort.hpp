// A stable sort that needs no strict weak order.
//
// The writers' key orders are not strict weak orders (an Int against a Float
// compares through a double, so "equal" is not transitive), which makes
// std::sort and std::stable_sort undefined behaviour on them. Insertion sort
// and merge sort only ever ask less(b, a) to decide whether b moves before a,
// so any comparator gives a deterministic, stable result.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace ostrevane::detail {

// Lists up to this long are sorted by insertion.
inline constexpr std::size_t kInsertionSortMax = 20;

template <class T, class Less>
void insertion_sort(std::span<T> items, Less& less) {
  for (std::size_t i = 1; i < items.size(); ++i) {
    T moving = items[i];
    std::size_t j = i;
    while (j > 0 && less(moving, items[j - 1])) {
      items[j] = items[j - 1];
      --j;
    }
    items[j] = moving;
  }
}

// Bottom-up merge sort on trivially copyable items (pointers, small records).
template <class T, class Less>
void stable_sort_items(std::span<T> items, Less less) {
  const std::size_t n = items.size();
  if (n <= kInsertionSortMax) {
    insertion_sort(items, less);
    return;
  }
  // Sorted runs of kInsertionSortMax, then merges of doubling width.
  for (std::size_t lo = 0; lo < n; lo += kInsertionSortMax) {
    const std::size_t len = lo + kInsertionSortMax < n ? kInsertionSortMax : n - lo;
    insertion_sort(items.subspan(lo, len), less);
  }
  std::vector<T> buffer(n);
  T* src = items.data();
  T* dst = buffer.data();
  for (std::size_t width = kInsertionSortMax; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      const std::size_t mid = lo + width < n ? lo + width : n;
      const std::size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
      std::size_t a = lo, b = mid, k = lo;
      while (a < mid && b < hi) {
        // Take from the right only when it is strictly less: ties keep order.
        dst[k++] = less(src[b], src[a]) ? src[b++] : src[a++];
      }
      while (a < mid) dst[k++] = src[a++];
      while (b < hi) dst[k++] = src[b++];
    }
    T* t = src;
    src = dst;
    dst = t;
  }
  if (src != items.data()) {
    for (std::size_t i = 0; i < n; ++i) items[i] = src[i];
  }
}

}  // namespace ostrevane::detail
