// The checks a Dynp prediction makes before it allocates anything: that the
// requested number of changes fits the grid at all, that the grid can be
// counted, and that the tables stay within the memory limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/error/error_kind.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

struct DynpTableShape {
  std::size_t grid_length = 0;    // G: grid positions including 0 and n
  std::size_t segment_count = 0;  // K: n_bkps + 1
};

// True when some grid-aligned segmentation of n samples has exactly n_bkps
// changes with every segment at least min_size long. Needs n >= min_size.
bool dynp_is_feasible(std::uint64_t n_samples, std::uint64_t n_bkps, SearchParameters parameters) noexcept;

// For n_bkps >= 1 and n >= min_size: feasibility, the grid count, then the
// memory estimate against `max_memory_bytes`, in that order.
Result<DynpTableShape> plan_dynp_tables(std::uint64_t n_samples, std::uint64_t n_bkps, SearchParameters parameters,
                                        std::uint64_t max_memory_bytes);

}  // namespace tarnwell
