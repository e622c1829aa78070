// The score and predecessor tables of one Dynp prediction. Row r, column j
// holds the least cost of splitting [0, grid[j]) into exactly r grid-aligned
// segments and the grid index where the last of them starts. Rows are stored
// one after another (row r starts at r * G) so that one relaxation pass reads
// a contiguous prefix of the previous row alongside the endpoint batch.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/tie_rule.hpp"

namespace tarnwell {

class DynpTables {
 public:
  // The predecessor table, then the score table; every score starts at
  // +infinity except row 0, column 0 (the empty prefix), which is 0.
  static Result<DynpTables> allocate(std::span<const std::uint64_t> grid, std::size_t segment_count, TieRule tie);

  // Offers column j the costs batch[i] of [grid[i], grid[j]) for the
  // admissible starts i < batch.size(), in every row 1 .. min(j, K).
  Status relax_column(std::size_t column, std::span<const double> batch);

  // The optimum for K segments over the whole signal.
  double final_score() const noexcept { return scores_[index(segment_count_, grid_.size() - 1)]; }

  // Breakpoints of the optimum in increasing order, ending with n.
  Result<std::vector<std::uint64_t>> backtrack() const;

 private:
  DynpTables(std::span<const std::uint64_t> grid, std::size_t segment_count, TieRule tie,
             std::vector<std::uint32_t> predecessors, std::vector<double> scores)
      : grid_(grid),
        segment_count_(segment_count),
        tie_(tie),
        predecessors_(std::move(predecessors)),
        scores_(std::move(scores)) {}

  static constexpr std::size_t no_start = std::numeric_limits<std::size_t>::max();

  // The best start found so far for one state, with the two bounds that let
  // most candidates be settled by one comparison: below `take_below` a
  // candidate is clearly better (no tie), above `skip_above` clearly worse.
  struct RowOptimum {
    double value = std::numeric_limits<double>::infinity();
    std::size_t start = no_start;
    double take_below = std::numeric_limits<double>::infinity();
    double skip_above = std::numeric_limits<double>::infinity();

    void take(double candidate, std::size_t candidate_start, const TieRule& tie) noexcept {
      value = candidate;
      start = candidate_start;
      const double band = tie.decision_band(candidate);
      take_below = candidate - band;
      skip_above = candidate + band;
    }
  };

  std::size_t index(std::size_t row, std::size_t column) const noexcept { return row * grid_.size() + column; }

  // A candidate between the two bounds of `optimum`: a near-tie goes to the
  // lexicographically smaller path, otherwise the smaller value wins.
  Result<RowOptimum> offer(std::size_t row, std::size_t start, double candidate, RowOptimum optimum) const;

  // Chooses the best start of (row, column). Without `may_overflow` every
  // previous score plus cost is known to be finite.
  template <bool may_overflow>
  Status relax_state(std::size_t row, std::size_t column, std::span<const double> batch);

  // Whether the sub-solution of (row, candidate) has a lexicographically
  // smaller breakpoint list than that of (row, incumbent).
  Result<bool> candidate_path_is_smaller(std::size_t row, std::size_t candidate, std::size_t incumbent) const;

  std::span<const std::uint64_t> grid_;
  std::size_t segment_count_;
  TieRule tie_;
  std::vector<std::uint32_t> predecessors_;
  std::vector<double> scores_;
  double largest_score_magnitude_ = 0.0;  // over every finite score stored so far
};

}  // namespace tarnwell
