#include "search/dynp/dynp_tables.hpp"

#include "core/fallible_allocation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "core/strided_matrix.hpp"
#include "search/dynp/dynp_memory.hpp"

namespace tarnwell {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// The largest magnitude in a batch, failing on its first non-finite entry:
// every admissible segment must have a finite cost, even one no optimum
// would use, since a non-finite cost means the model broke down on the data.
Result<double> largest_finite_magnitude(std::span<const double> batch) {
  double largest = 0.0;
  bool all_finite = true;
  for (const double value : batch) {
    largest = std::max(largest, std::fabs(value));
    all_finite &= is_finite_value(value);
  }
  if (all_finite) [[likely]] return largest;
  const auto first = std::find_if(batch.begin(), batch.end(), [](double value) { return !is_finite_value(value); });
  return errors::fail(errors::non_finite_objective(*first));
}

template <class Vector, class Value>
Status assign_table(Vector& table, std::size_t size, Value initial, std::string_view context) {
  return try_allocate(context, [&] { table.assign(size, initial); });
}


}  // namespace


Result<DynpTables> DynpTables::allocate(std::span<const std::uint64_t> grid, std::size_t segment_count, TieRule tie) {
  std::size_t states = 0;
  if (segment_count == std::numeric_limits<std::size_t>::max() ||
      __builtin_mul_overflow(segment_count + 1, grid.size(), &states)) {
    return errors::fail(errors::numerical_failure("allocating Dynp state tables"));
  }
  std::vector<std::uint32_t> predecessors;
  TARNWELL_CHECK(assign_table(predecessors, states, no_dynp_predecessor, "allocating Dynp predecessor states"));
  std::vector<double> scores;
  TARNWELL_CHECK(assign_table(scores, states, infinity, "allocating Dynp score states"));
  scores[0] = 0.0;
  return DynpTables(grid, segment_count, tie, std::move(predecessors), std::move(scores));
}

Result<DynpTables::RowOptimum> DynpTables::offer(std::size_t row, std::size_t start, double candidate,
                                                 RowOptimum optimum) const {
  if (tie_.tie(candidate, optimum.value)) {
    TARNWELL_TRY(smaller, candidate_path_is_smaller(row - 1, start, optimum.start));
    if (smaller) optimum.take(candidate, start, tie_);
  } else if (candidate < optimum.value) {
    optimum.take(candidate, start, tie_);
  }
  return optimum;
}

// The innermost loop of every Dynp search: started on a cache line of its
// own, so its speed does not depend on where the linker happens to place it
// (measured: 7 % either way between two builds of identical instructions).
template <bool may_overflow>
__attribute__((aligned(64))) Status DynpTables::relax_state(std::size_t row, std::size_t column, std::span<const double> batch) {
  const double* previous = scores_.data() + index(row - 1, 0);
  const double* costs = batch.data();
  // Only reachable starts (finite previous score) are candidates, and they
  // are easy to delimit: row 0 reaches column 0 alone, and from row 1 on the
  // reachable columns of a row form a suffix (lengthening the last segment
  // keeps a split valid), led by a short unreachable run.
  const std::size_t stop = row == 1 ? std::min<std::size_t>(batch.size(), 1) : batch.size();
  std::size_t start = 0;
  while (start < stop && !is_finite_value(previous[start])) ++start;
  RowOptimum optimum;
  for (; start < stop; ++start) {
    const double candidate = previous[start] + costs[start];
    if constexpr (may_overflow) {
      if (!is_finite_value(candidate)) [[unlikely]] {
        if (is_finite_value(previous[start])) return errors::fail(errors::non_finite_objective(candidate));
        continue;
      }
    }
    if (candidate > optimum.skip_above) continue;
    if (candidate < optimum.take_below) {
      // Also the first reachable candidate: both bounds start at +infinity.
      optimum.take(candidate, start, tie_);
      continue;
    }
    if (!is_finite_value(previous[start])) continue;
    // An exact tie whose sub-solution shares the incumbent's prefix differs
    // from it only in its last breakpoint, which is later (starts increase):
    // the incumbent's path is smaller. Constant stretches tie like this at
    // nearly every state, so it is settled here without walking any path.
    if (candidate == optimum.value && row >= 2 &&
        predecessors_[index(row - 1, start)] == predecessors_[index(row - 1, optimum.start)]) {
      continue;
    }
    TARNWELL_TRY(offered, offer(row, start, candidate, optimum));
    optimum = offered;
  }
  if (optimum.start == no_start) return {};
  if (optimum.start >= no_dynp_predecessor) {
    return errors::fail(errors::numerical_failure("storing a compact Dynp predecessor"));
  }
  scores_[index(row, column)] = optimum.value;
  predecessors_[index(row, column)] = static_cast<std::uint32_t>(optimum.start);
  largest_score_magnitude_ = std::max(largest_score_magnitude_, std::fabs(optimum.value));
  return {};
}

Status DynpTables::relax_column(std::size_t column, std::span<const double> batch) {
  TARNWELL_TRY(batch_magnitude, largest_finite_magnitude(batch));
  // When no score plus cost can leave the finite range (the bound rounds
  // monotonically), the per-candidate overflow test is dropped.
  const bool may_overflow = !(largest_score_magnitude_ + batch_magnitude < infinity);
  const std::size_t last_row = std::min(column, segment_count_);
  for (std::size_t row = 1; row <= last_row; ++row) {
    if (may_overflow) {
      TARNWELL_CHECK(relax_state<true>(row, column, batch));
    } else {
      TARNWELL_CHECK(relax_state<false>(row, column, batch));
    }
  }
  return {};
}

// Sub-solutions are numbered row * G + column, so every predecessor state
// (one row up) has a smaller number and the empty prefix is 0. Every
// sub-solution starts at sample 0: a first segment must start at column 0.
Result<bool> DynpTables::candidate_path_is_smaller(std::size_t row, std::size_t candidate,
                                                   std::size_t incumbent) const {
  const std::size_t width = grid_.size();
  return tarnwell::candidate_path_is_smaller(
      index(row, candidate), index(row, incumbent),
      [&](std::uint64_t node) -> std::optional<std::uint64_t> {
        const std::size_t level = node / width;
        const std::uint32_t predecessor = predecessors_[node];
        if (level == 0 || predecessor == no_dynp_predecessor || (level == 1 && predecessor != 0)) {
          return std::nullopt;
        }
        return index(level - 1, predecessor);
      },
      [&](std::uint64_t node) { return grid_[node % width]; }, "comparing Dynp segmentation paths");
}

Result<std::vector<std::uint64_t>> DynpTables::backtrack() const {
  TARNWELL_TRY(breakpoints, reserve_buffer<std::uint64_t>(segment_count_, "allocating Dynp breakpoints"));
  std::size_t column = grid_.size() - 1;
  for (std::size_t row = segment_count_; row >= 1; --row) {
    breakpoints.push_back(grid_[column]);
    const std::uint32_t predecessor = predecessors_[index(row, column)];
    if (predecessor == no_dynp_predecessor) {
      return errors::fail(errors::numerical_failure("backtracking a Dynp segmentation"));
    }
    column = predecessor;
  }
  if (column != 0) return errors::fail(errors::numerical_failure("backtracking a Dynp segmentation"));
  std::reverse(breakpoints.begin(), breakpoints.end());
  return breakpoints;
}

}  // namespace tarnwell
