// The optimal-path tables of one Pelt run and the tie rule between two
// predecessors of one grid entry.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "python/error/error_kind.hpp"
#include "search/common/near_equal.hpp"

namespace tarnwell::pelt_detail {

inline constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();

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

  void take(std::size_t j, std::size_t k, double value) noexcept {
    best_[j] = value;
    predecessor_[j] = k;
  }

  // Offers the candidate "last segment starts at grid index k, value d" to
  // entry j: a clearly smaller value wins; among near-equal values the
  // candidate wins only with a lexicographically smaller breakpoint path.
  Status offer(std::size_t j, std::size_t k, double value) {
    if (!std::isfinite(value)) return errors::fail(errors::non_finite_objective(value));
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

  // The earliest differing change point decides; a path that is a prefix of
  // the other wins; identical paths keep the incumbent.
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

}  // namespace tarnwell::pelt_detail
