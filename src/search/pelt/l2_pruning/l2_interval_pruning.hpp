// Functional pruning of Pelt starts for the squared-error cost of one feature:
// each start keeps an interval of segment means.
//
// Seen as a function of the segment mean μ, the value of start τ at end t is
//   G_τ(μ) = F(τ) + Σ_{i∈[τ,t)} (y_i − μ)²,   and the search takes min_μ G_τ.
// For two starts τ < s the difference G_τ − G_s = F(τ) − F(s) + Σ_{[τ,s)} (y_i − μ)²
// does not depend on t, so one comparison made when s appears holds at every
// later end. τ is within `margin` of s only on the interval
//   (s − τ)(μ − m)² ≤ margin + F(s) − F(τ) − C(τ, s),   m the mean of [τ, s),
// and its predecessor e (the start of the last segment of its own optimum)
// beats it by more than `margin` on an open interval around the mean of [e, τ).
// Intersecting the intervals of the later starts and checking whether what is
// left lies inside the predecessor's interval proves, once it does, that at
// every μ some other start is lower by more than `margin`, hence at every end
// where those starts are usable. The arithmetic runs on the stored prefix
// sums, for which the identity above is exact; `margin` covers the tie
// tolerance at any value the search can reach, the round-off of the search's
// own cost evaluation and that of this test, and the test widens what it
// keeps, so a start is discarded only when the search would never pick it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "core/vector_paths.hpp"
#include "search/pelt/l2_pruning/l2_interval_passes.hpp"
#include "search/pelt/l2_pruning/l2_interval_sweep.hpp"
#include "search/pelt/l2_pruning/l2_sweep_list.hpp"

namespace tarnwell {

class L2IntervalPruning {
 public:
  // What is kept about one start, one column each so that the pass over the
  // starts reads contiguous memory: its prefix sums and position (as a
  // double, exact below 2^53), the interval of means where it still matches
  // every later start, and the interval where its predecessor beats it.
  enum Column : std::size_t { start_sum, start_square, start_position, low, high, hole_low, hole_high };
  static constexpr std::size_t fixed_state_columns = 7;
  static constexpr std::size_t state_columns() noexcept { return fixed_state_columns; }
  using Columns = std::span<double* const>;

  L2IntervalPruning(const double* prefix_sums, const double* prefix_squares, double margin) noexcept
      : sums_(prefix_sums),
        squares_(prefix_squares),
        margin_(margin),
        passes_(portable_paths_forced() ? &l2_interval_passes_portable() : &l2_interval_passes()),
        sweep_(portable_paths_forced() ? nullptr : l2_interval_sweep_avx2()) {}

  // The same pruning with the given passes (the portable ones, in tests).
  L2IntervalPruning(const double* prefix_sums, const double* prefix_squares, double margin,
                    const L2IntervalPasses& passes) noexcept
      : sums_(prefix_sums), squares_(prefix_squares), margin_(margin), passes_(&passes) {}

  double margin() const noexcept { return margin_; }

  // The fused passes over the start list, when this processor has them:
  // the search then keeps its starts in a swept list instead of running the
  // passes below.
  using SweepList = L2SweepList;
  const L2SweepPasses* sweep() const noexcept { return sweep_; }

  // The search the fused passes run over `grid`, writing the given tables.
  L2SweepSearch sweep_search(const SearchGrid& grid, std::uint64_t min_size, double pen, const TieRule& tie,
                             double* best, std::uint64_t* predecessor) const noexcept {
    return {sums_, squares_, grid, min_size, pen, margin_, tie, best, predecessor};
  }

  // The start at `position` with optimal value `best`, whose own optimum
  // ends with the segment [predecessor, position) after a value of
  // `predecessor_best` (no predecessor for the first start: position 0).
  // The entry before the first start of a list: an infinite position, so
  // that no start counts it as an earlier partner (its length to it is not
  // positive).
  void sentinel(double* state) const noexcept {
    for (std::size_t column = 0; column < fixed_state_columns; ++column) state[column] = 0.0;
    state[start_position] = infinity_;
  }

  // Writes its `state_columns` values to `state`.
  void admit(std::uint64_t position, double best, std::uint64_t predecessor, double predecessor_best,
             double* state) const noexcept {
    state[start_sum] = sums_[position];
    state[start_square] = squares_[position];
    state[start_position] = static_cast<double>(position);
    state[low] = -infinity_;
    state[high] = infinity_;
    state[hole_low] = infinity_;
    state[hole_high] = -infinity_;
    if (predecessor >= position) return;
    beaten_interval(static_cast<double>(position - predecessor), sums_[position] - sums_[predecessor],
                    squares_[position] - squares_[predecessor], best - predecessor_best, state[hole_low],
                    state[hole_high]);
  }

  // For an earlier start e and a later one τ, `length` samples apart, whose
  // samples in between have the given sum and sum of squares, and whose
  // optimal values differ by `best_gap` = F(τ) − F(e): the interval of means
  // on which e is lower than τ by more than the margin, narrowed for
  // round-off; left as it is (empty) when there is none.
  void beaten_interval(double length, double sum, double squares, double best_gap, double& interval_low,
                       double& interval_high) const noexcept {
    const double mean = sum / length;
    const double within = squares - sum * mean;
    // Where length (μ − mean)² < reach, e is lower by more than the margin.
    const double reach = (best_gap - within) - margin_;
    if (!(reach > 0.0)) return;
    const double radius = std::sqrt(reach / length);
    const double slack = relative_slack * (std::fabs(mean) + radius);
    if (radius <= slack) return;
    interval_low = mean - radius + slack;
    interval_high = mean + radius - slack;
  }

  // The endpoint costs at `end` of the first `count` starts, bit for bit
  // those of the cost's own batch (the same arithmetic on the same table
  // entries, read from the columns instead of scattered over the tables).
  // A value that needs the cost's own handling (a non-finite or negative
  // term) is NaN, for which the caller asks the cost for the batch.
  bool endpoint_costs(Columns state, std::size_t count, std::uint64_t end, double* out) const noexcept {
    passes_->costs(count, static_cast<double>(end), sums_[end], squares_[end], state[start_sum],
                      state[start_square], state[start_position], out);
    return true;
  }

  // Compares every start τ of the list (`size` of them, optimal values
  // `best`, columns `state`) with the new start s at `new_position`, beyond
  // all of them, whose optimal value is `new_best`, and with the start before
  // it in the list. Sets `dominated[i]` to 1 once τ can never again come
  // within the margin of the optimum at an end where s is usable, to 0
  // otherwise.
  void mark_dominated(std::size_t size, const double* best, Columns state, std::uint64_t new_position,
                      double new_best, double* dominated) const noexcept {
    if (size == 0) return;
    const L2IntervalStep step{static_cast<double>(new_position), sums_[new_position], squares_[new_position], new_best,
                    margin_};
    // Every start is compared with the entry before it; the first one's is
    // the list's sentinel, at an infinite position, which never beats it.
    passes_->mark(step, size, best, state[start_sum], state[start_square], state[start_position], state[low],
              state[high], state[hole_low], state[hole_high], dominated);
  }

 private:
  static constexpr double relative_slack = l2_interval_relative_slack;
  static constexpr double infinity_ = std::numeric_limits<double>::infinity();

  const double* sums_;
  const double* squares_;
  double margin_;
  const L2IntervalPasses* passes_;
  const L2SweepPasses* sweep_ = nullptr;
};

}  // namespace tarnwell
