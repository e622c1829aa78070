// Exact penalised search: minimises the sum of segment costs plus `pen` per
// change over grid-aligned segmentations with segments of at least min_size.
// Pruned mode drops start candidates that can never again be optimal (valid
// for costs that declare a pruning constant); exhaustive mode tries every
// admissible start. Both return the same optimum.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "cost/segment_cost.hpp"
#include "search/common/near_equal.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

enum class PeltPruning : std::uint8_t {
  as_declared,  // prune exactly when the cost declares a pruning constant
  never,        // always exhaustive (used to cross-check the pruned mode)
};

namespace pelt_detail {

inline constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();

// The optimal-path tables of one run, with the tie-break between two
// predecessors of one grid entry.
class PeltTables {
 public:
  PeltTables(const std::vector<std::uint64_t>& grid, double pen)
      : grid_(grid),
        best_(grid.size(), std::numeric_limits<double>::infinity()),
        predecessor_(grid.size(), no_predecessor) {
    best_[0] = -pen;
  }

  double best(std::size_t index) const noexcept { return best_[index]; }
  std::uint64_t predecessor(std::size_t index) const noexcept { return predecessor_[index]; }

  // Offers the candidate "last segment starts at grid index k, value d" to entry j.
  Status offer(std::size_t j, std::size_t k, double value) {
    if (!std::isfinite(value)) [[unlikely]] return errors::fail(errors::non_finite_objective(value));
    const double incumbent = best_[j];
    if (std::isinf(incumbent)) {
      take(j, k, value);
      return {};
    }
    if (!is_tie(value, incumbent)) {
      if (value < incumbent) take(j, k, value);
      return {};
    }
    if (predecessor_[j] == no_predecessor) {
      take(j, k, value);
      return {};
    }
    TARNWELL_TRY(candidate_wins, candidate_path_is_smaller(j, k));
    if (candidate_wins) take(j, k, value);
    return {};
  }

  // Breakpoints of the optimum of [0, grid[last]), in increasing order.
  Result<std::vector<std::uint64_t>> backtrack(std::size_t last) const {
    std::vector<std::uint64_t> breakpoints;
    for (std::uint64_t index = last; index != 0; index = predecessor_[index]) {
      if (index == no_predecessor) {
        return errors::fail(errors::numerical_failure("backtracking a penalized segmentation"));
      }
      breakpoints.push_back(grid_[index]);
    }
    std::reverse(breakpoints.begin(), breakpoints.end());
    return breakpoints;
  }

 private:
  void take(std::size_t j, std::size_t k, double value) noexcept {
    best_[j] = value;
    predecessor_[j] = k;
  }

  Status path_through(std::uint64_t start, std::size_t j, std::vector<std::uint64_t>& path) const {
    path.clear();
    for (std::uint64_t index = start; index != 0; index = predecessor_[index]) {
      if (index == no_predecessor) {
        return errors::fail(errors::numerical_failure("comparing penalized segmentation paths"));
      }
      path.push_back(grid_[index]);
    }
    std::reverse(path.begin(), path.end());
    path.push_back(grid_[j]);
    return {};
  }

  // Among tied optima the earliest differing change point wins; a path that is
  // a prefix of the other wins; identical paths keep the incumbent.
  Result<bool> candidate_path_is_smaller(std::size_t j, std::size_t k) {
    TARNWELL_CHECK(path_through(k, j, candidate_path_));
    TARNWELL_CHECK(path_through(predecessor_[j], j, incumbent_path_));
    return std::lexicographical_compare(candidate_path_.begin(), candidate_path_.end(), incumbent_path_.begin(),
                                        incumbent_path_.end());
  }

  const std::vector<std::uint64_t>& grid_;
  std::vector<double> best_;
  std::vector<std::uint64_t> predecessor_;
  std::vector<std::uint64_t> candidate_path_;
  std::vector<std::uint64_t> incumbent_path_;
};

inline std::uint64_t saturating_add(std::uint64_t left, std::uint64_t right) noexcept {
  return left > std::numeric_limits<std::uint64_t>::max() - right ? std::numeric_limits<std::uint64_t>::max()
                                                                  : left + right;
}

}  // namespace pelt_detail

template <SegmentCost Cost>
Result<Segmentation> run_pelt(const Cost& cost, SearchParameters parameters, double pen,
                              PeltPruning pruning = PeltPruning::as_declared, SearchCounters* counters = nullptr) {
  using pelt_detail::PeltTables;
  TARNWELL_CHECK(check_penalty(pen));
  const std::uint64_t min_size = parameters.min_size;
  const std::uint64_t minimum = cost.min_segment_length();
  if (min_size < minimum) return errors::fail(errors::min_size_below_cost(min_size, minimum));
  const std::uint64_t n = cost.n_samples();
  if (n < min_size) return errors::fail(errors::segment_too_short(0, n, n, min_size));

  TARNWELL_TRY(grid, build_search_grid(n, parameters.jump, "allocating the Pelt search grid"));
  const std::size_t grid_size = grid.size();
  const std::optional<double> pruning_constant =
      pruning == PeltPruning::as_declared ? cost.pelt_pruning_constant() : std::nullopt;

  std::optional<PeltTables> tables_storage;
  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> active;
  std::vector<std::uint64_t> expiry;
  EndpointBatch batch;
  try {
    tables_storage.emplace(grid, pen);
    starts.reserve(grid_size);
    active.reserve(grid_size);
    if (pruning_constant) expiry.assign(grid_size, std::numeric_limits<std::uint64_t>::max());
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed("allocating Pelt search tables"));
  }
  PeltTables& tables = *tables_storage;
  if (pruning_constant) active.push_back(0);

  for (std::size_t j = 1; j < grid_size; ++j) {
    const std::uint64_t end = grid[j];
    if (!pruning_constant) {
      const std::size_t count = admissible_start_count(grid, j, end, min_size);
      starts.assign(grid.begin(), grid.begin() + static_cast<std::ptrdiff_t>(count));
      TARNWELL_CHECK(cost.endpoint_costs(starts, end, batch));
      if (batch.size() != count) {
        return errors::fail(errors::numerical_failure("evaluating an unpruned Pelt endpoint cost batch"));
      }
      for (std::size_t k = 0; k < count; ++k) {
        const double previous = tables.best(k);
        if (!std::isfinite(previous)) continue;
        TARNWELL_CHECK(tables.offer(j, k, (previous + batch[k]) + pen));
      }
    } else {
      // Expired candidates leave; the order of the rest is kept.
      std::erase_if(active, [&](std::uint64_t k) { return expiry[k] <= end; });
      // Active indices increase, so the starts far enough from `end` form a prefix.
      std::size_t count = 0;
      starts.clear();
      while (count < active.size() && end - grid[active[count]] >= min_size) {
        starts.push_back(grid[active[count]]);
        ++count;
      }
      TARNWELL_CHECK(cost.endpoint_costs(starts, end, batch));
      if (batch.size() != count) {
        return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
      }
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t k = active[i];
        TARNWELL_CHECK(tables.offer(j, k, (batch[i] + tables.best(k)) + pen));
      }
      const double optimum = tables.best(j);
      if (std::isinf(optimum)) continue;
      // A start whose value already exceeds the optimum at `end` (beyond the
      // tie tolerance) cannot win once `end` itself becomes a start, which
      // happens min_size samples later.
      const std::uint64_t expires_at = pelt_detail::saturating_add(end, min_size);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t k = active[i];
        const double value = (batch[i] + tables.best(k)) + *pruning_constant;
        if (!std::isfinite(value)) return errors::fail(errors::non_finite_objective(value));
        if (optimum < value && !near_equal(optimum, value)) expiry[k] = std::min(expiry[k], expires_at);
      }
      active.push_back(j);
    }
    if (counters != nullptr) {
      counters->candidate_segments += batch.size();
      ++counters->end_positions;
    }
  }

  if (!std::isfinite(tables.best(grid_size - 1))) {
    return errors::fail(errors::numerical_failure("finding a feasible penalized segmentation"));
  }
  TARNWELL_TRY(breakpoints, tables.backtrack(grid_size - 1));
  double total = 0.0;
  std::uint64_t previous = 0;
  for (const std::uint64_t breakpoint : breakpoints) {
    TARNWELL_TRY(segment, cost.segment_cost(previous, breakpoint));
    total += segment;
    previous = breakpoint;
  }
  const double objective = total + pen * static_cast<double>(breakpoints.size() - 1);
  return make_segmentation(std::move(breakpoints), n, min_size, total, objective);
}

}  // namespace tarnwell
