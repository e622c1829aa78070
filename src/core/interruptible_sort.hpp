// Sorting millions of elements takes seconds; std::sort cannot be
// interrupted. This sorts runs of a bounded length with std::sort and merges
// them pairwise, checking for interruption between runs and between merges,
// so a Ctrl-C ends it within a fraction of a second. The result is the
// order std::sort would give for a strict weak ordering without equal
// elements; equal elements keep no particular order, as with std::sort.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <new>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/interruption.hpp"

namespace tarnwell {

template <class Element, class Less>
Status interruptible_sort(std::vector<Element>& values, Less less) {
  constexpr std::size_t run = std::size_t{1} << 16;
  const std::size_t n = values.size();
  if (n <= run) {
    std::sort(values.begin(), values.end(), less);
    return {};
  }
  for (std::size_t first = 0; first < n; first += run) {
    TARNWELL_CHECK(check_interruption());
    std::sort(values.begin() + first, values.begin() + std::min(first + run, n), less);
  }
  std::vector<Element> buffer;
  try {
    buffer.resize(n);
  } catch (const std::bad_alloc&) {  // no room for the merges: one uninterrupted sort
    std::sort(values.begin(), values.end(), less);
    return {};
  }
  for (std::size_t width = run; width < n; width *= 2) {
    for (std::size_t first = 0; first < n; first += 2 * width) {
      TARNWELL_CHECK(check_interruption());
      const auto begin = values.begin() + first;
      const auto middle = values.begin() + std::min(first + width, n);
      const auto end = values.begin() + std::min(first + 2 * width, n);
      std::merge(begin, middle, middle, end, buffer.begin() + first, less);
    }
    values.swap(buffer);
  }
  return {};
}

}  // namespace tarnwell
