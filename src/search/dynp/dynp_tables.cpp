#include "search/dynp/dynp_tables.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "core/strided_matrix.hpp"
#include "search/common/near_equal.hpp"
#include "search/dynp/dynp_memory.hpp"

namespace tarnwell {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr std::size_t no_start = std::numeric_limits<std::size_t>::max();

// A candidate above this bound is neither tied with `best` nor below it, so
// it can be passed over without the exact comparison. Proof sketch: with
// d = candidate - best > 4e-12 (|best| + 1) and |candidate| <= |best| + d,
// d exceeds 1e-12 max(|candidate|, |best|) + 1e-12 with a margin far wider
// than the rounding of either side. The choice of start is therefore exactly
// that of comparing every candidate in turn.
inline double clearly_worse_above(double best) noexcept { return best + 4e-12 * (std::fabs(best) + 1.0); }

template <class Vector, class Value>
Status assign_table(Vector& table, std::size_t size, Value initial, std::string_view context) {
  try {
    table.assign(size, initial);
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(context));
  } catch (const std::length_error&) {
    return errors::fail(errors::allocation_failed(context));
  }
  return {};
}

Status reserve_path(std::vector<std::uint64_t>& path, std::size_t capacity, std::string_view context) {
  try {
    path.reserve(capacity);
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(context));
  } catch (const std::length_error&) {
    return errors::fail(errors::allocation_failed(context));
  }
  return {};
}

}  // namespace

Result<DynpTiePaths> DynpTiePaths::allocate(std::size_t segment_count) {
  DynpTiePaths paths;
  TARNWELL_CHECK(reserve_path(paths.candidate, segment_count, "allocating a Dynp tie path"));
  TARNWELL_CHECK(reserve_path(paths.incumbent, segment_count, "allocating a Dynp tie path"));
  return paths;
}

Result<DynpTables> DynpTables::allocate(std::span<const std::uint64_t> grid, std::size_t segment_count) {
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
  return DynpTables(grid, segment_count, std::move(predecessors), std::move(scores));
}

Status DynpTables::relax_column(std::size_t column, std::span<const double> batch, DynpTiePaths& tie_paths) {
  const std::size_t count = batch.size();
  const double* costs = batch.data();
  const std::size_t last_row = std::min(column, segment_count_);
  for (std::size_t row = 1; row <= last_row; ++row) {
    const double* previous = scores_.data() + index(row - 1, 0);
    double best = infinity;
    std::size_t best_start = no_start;
    double cutoff = infinity;
    for (std::size_t start = 0; start < count; ++start) {
      const double candidate = previous[start] + costs[start];
      if (candidate > cutoff) [[likely]] {
        // +infinity here normally means the start is unreachable with
        // row - 1 segments; from a reachable one it is an overflowed sum.
        if (candidate == infinity && is_finite_value(previous[start])) [[unlikely]] {
          return errors::fail(errors::non_finite_objective(candidate));
        }
        continue;
      }
      if (!is_finite_value(previous[start])) continue;
      if (!is_finite_value(candidate)) [[unlikely]] return errors::fail(errors::non_finite_objective(candidate));
      bool take = true;
      if (best_start != no_start) {
        if (is_tie(candidate, best)) {
          TARNWELL_TRY(smaller, candidate_path_is_smaller(row - 1, start, best_start, tie_paths));
          take = smaller;
        } else {
          take = candidate < best;
        }
      }
      if (take) {
        best = candidate;
        best_start = start;
        cutoff = clearly_worse_above(best);
      }
    }
    if (best_start == no_start) continue;
    if (best_start >= no_dynp_predecessor) {
      return errors::fail(errors::numerical_failure("storing a compact Dynp predecessor"));
    }
    scores_[index(row, column)] = best;
    predecessors_[index(row, column)] = static_cast<std::uint32_t>(best_start);
  }
  return {};
}

Status DynpTables::write_path(std::size_t row, std::size_t column, std::vector<std::uint64_t>& path) const {
  path.clear();
  for (std::size_t level = row; level >= 1; --level) {
    path.push_back(grid_[column]);
    const std::uint32_t predecessor = predecessors_[index(level, column)];
    // Every sub-solution starts at sample 0, i.e. its first segment at column 0.
    if (predecessor == no_dynp_predecessor || (level == 1 && predecessor != 0)) {
      return errors::fail(errors::numerical_failure("comparing Dynp segmentation paths"));
    }
    column = predecessor;
  }
  std::reverse(path.begin(), path.end());
  return {};
}

// Among tied sub-solutions the one whose change points come first
// (lexicographically smallest) wins; equal paths keep the incumbent. Since
// every state keeps its smallest tied path, the final answer is the
// lexicographically smallest of the tied optima.
Result<bool> DynpTables::candidate_path_is_smaller(std::size_t row, std::size_t candidate, std::size_t incumbent,
                                                   DynpTiePaths& tie_paths) const {
  TARNWELL_CHECK(write_path(row, candidate, tie_paths.candidate));
  TARNWELL_CHECK(write_path(row, incumbent, tie_paths.incumbent));
  return std::lexicographical_compare(tie_paths.candidate.begin(), tie_paths.candidate.end(),
                                      tie_paths.incumbent.begin(), tie_paths.incumbent.end());
}

Result<std::vector<std::uint64_t>> DynpTables::backtrack() const {
  std::vector<std::uint64_t> breakpoints;
  try {
    breakpoints.reserve(segment_count_);
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed("allocating Dynp breakpoints"));
  }
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
