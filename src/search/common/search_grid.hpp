// The search grid: 0, jump, 2 jump, ... strictly below n, then n. Every
// change point and every segment start of a grid search is a grid position.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// `context` names the allocation in a memory failure.
inline Result<std::vector<std::uint64_t>> build_search_grid(std::uint64_t n_samples, std::uint64_t jump,
                                                            std::string_view context) {
  // (n - 1) / jump + 2 cannot overflow for n >= 1, jump >= 1.
  TARNWELL_TRY(grid, reserve_buffer<std::uint64_t>((n_samples - 1) / jump + 2, context));
  // The multiples stop early if the next one would overflow; the reservation
  // holds them all, so the pushes never allocate.
  for (std::uint64_t position = 0; position < n_samples;) {
    grid.push_back(position);
    if (position > UINT64_MAX - jump) break;
    position += jump;
  }
  grid.push_back(n_samples);
  return grid;
}

// The same grid without storing it: entry k is computed when asked for, so
// a search over every sample does not hold n + 1 positions.
class SearchGrid {
 public:
  // n_samples >= 1 and jump >= 1. Every multiple below n is at most n - 1,
  // so no entry overflows.
  SearchGrid(std::uint64_t n_samples, std::uint64_t jump) noexcept
      : n_samples_(n_samples), jump_(jump), size_((n_samples - 1) / jump + 2) {}

  std::size_t size() const noexcept { return size_; }
  std::uint64_t operator[](std::size_t k) const noexcept { return k + 1 < size_ ? k * jump_ : n_samples_; }

  // Number of indices k < limit with end - (*this)[k] >= min_size, a prefix.
  std::size_t admissible_start_count(std::size_t limit, std::uint64_t end, std::uint64_t min_size) const noexcept {
    if (end < min_size) return 0;
    const std::uint64_t latest_start = end - min_size;
    std::uint64_t count = std::min<std::uint64_t>(latest_start / jump_ + 1, size_ - 1);
    if (count == size_ - 1 && n_samples_ <= latest_start) ++count;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, limit));
  }

 private:
  std::uint64_t n_samples_;
  std::uint64_t jump_;
  std::size_t size_;
};

// Number of grid indices k < limit with end - grid[k] >= min_size: since the
// grid increases these form a prefix, found by binary search.
inline std::size_t admissible_start_count(const std::vector<std::uint64_t>& grid, std::size_t limit,
                                          std::uint64_t end, std::uint64_t min_size) {
  if (end < min_size) return 0;
  const std::uint64_t latest_start = end - min_size;
  return static_cast<std::size_t>(
      std::upper_bound(grid.begin(), grid.begin() + static_cast<std::ptrdiff_t>(limit), latest_start) - grid.begin());
}

}  // namespace tarnwell
