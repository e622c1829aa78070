// The optimal-path tables of one Pelt run and the tie rule between two
// predecessors of one grid entry.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "core/double_double.hpp"
#include "core/large_table.hpp"
#include "core/error/error_kind.hpp"
#include "search/common/search_grid.hpp"
#include "core/tie_rule.hpp"

namespace tarnwell::pelt_detail {

inline constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();

inline std::uint64_t saturating_add(std::uint64_t left, std::uint64_t right) noexcept {
  return left > std::numeric_limits<std::uint64_t>::max() - right ? std::numeric_limits<std::uint64_t>::max()
                                                                  : left + right;
}

// A candidate's value F(s) + C(s, t) + pen with F(s) = best + best_low, as a
// compensated total: after a segment over a value that dwarfs the rest, every
// optimum carries that segment's huge cost, and plain sums would round away
// the differences (penalties included) the later steps decide on.
inline DoubleDouble candidate_total(double cost, double best, double best_low, double pen) noexcept {
  const DoubleDouble partial = double_double_detail::two_sum(best, cost);
  const DoubleDouble total = double_double_detail::two_sum(partial.hi, pen);
  return double_double_detail::two_sum(total.hi, (partial.lo + total.lo) + best_low);
}

class PeltTables {
 public:
  PeltTables(const SearchGrid& grid, double pen, TieRule tie)
      : grid_(grid),
        tie_(tie),
        best_(grid.size(), std::numeric_limits<double>::infinity()),
        best_low_(grid.size(), 0.0),
        predecessor_(grid.size(), no_predecessor) {
    best_[0] = -pen;
  }

  const TieRule& tie_rule() const noexcept { return tie_; }
  double best(std::size_t index) const noexcept { return best_[index]; }
  // The low part of the compensated optimum (0 where a search took a plain value).
  double best_low(std::size_t index) const noexcept { return best_low_[index]; }
  // The candidate "last segment [grid[k], grid[j]) of cost `cost`" as a compensated total.
  DoubleDouble candidate(std::size_t k, double cost, double pen) const noexcept {
    return candidate_total(cost, best_[k], best_low_[k], pen);
  }
  std::uint64_t predecessor(std::size_t index) const noexcept { return predecessor_[index]; }

  // The tables themselves, for a search that decides many entries in a
  // row without the rules above (each of its decisions is a `take`).
  double* best_table() noexcept { return best_.data(); }
  std::uint64_t* predecessor_table() noexcept { return predecessor_.data(); }

  void take(std::size_t j, std::size_t k, double value) noexcept {
    best_[j] = value;
    best_low_[j] = 0.0;
    predecessor_[j] = k;
  }
  void take(std::size_t j, std::size_t k, DoubleDouble value) noexcept {
    best_[j] = value.hi;
    best_low_[j] = value.lo;
    predecessor_[j] = k;
  }

  // Offers the candidate "last segment starts at grid index k, value d" to
  // entry j: a clearly smaller value wins; among near-equal values the
  // candidate wins only with a lexicographically smaller breakpoint path.
  Status offer(std::size_t j, std::size_t k, DoubleDouble value) {
    if (!std::isfinite(value.hi)) return errors::fail(errors::non_finite_objective(value.hi));
    const double incumbent = best_[j];
    if (std::isinf(incumbent)) {
      take(j, k, value);
      return {};
    }
    // Exact for near values (Sterbenz), and the low parts carry what the
    // high parts rounded away.
    const double difference = (value.hi - incumbent) + (value.lo - best_low_[j]);
    if (!tie_.tie(value.hi, incumbent, difference)) {
      if (difference < 0.0) take(j, k, value);
      return {};
    }
    if (predecessor_[j] == no_predecessor) {
      take(j, k, value);
      return {};
    }
    TARNWELL_TRY(candidate_wins,
                 candidate_path_is_smaller(
                     k, predecessor_[j],
                     [&](std::uint64_t node) -> std::optional<std::uint64_t> {
                       if (predecessor_[node] == no_predecessor) return std::nullopt;
                       return predecessor_[node];
                     },
                     [&](std::uint64_t node) { return grid_[node]; }, "comparing penalized segmentation paths"));
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
  SearchGrid grid_;
  TieRule tie_;
  LargeTable<double> best_;
  LargeTable<double> best_low_;
  LargeTable<std::uint64_t> predecessor_;
};

}  // namespace tarnwell::pelt_detail
