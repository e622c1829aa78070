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

namespace tarnwell {

class L2IntervalPruning {
 public:
  // What is kept about one start, one column each so that the pass over the
  // starts reads contiguous memory: its prefix sums and position (as a
  // double, exact below 2^53), the interval of means where it still matches
  // every later start, and the interval where its predecessor beats it.
  enum Column : std::size_t { start_sum, start_square, start_position, low, high, hole_low, hole_high };
  static constexpr std::size_t state_columns = 7;
  using Columns = std::span<double* const>;

  L2IntervalPruning(const double* prefix_sums, const double* prefix_squares, double margin) noexcept
      : sums_(prefix_sums), squares_(prefix_squares), margin_(margin) {}

  double margin() const noexcept { return margin_; }

  // The start at `position` with optimal value `best`, whose own optimum
  // ends with the segment [predecessor, position) after a value of
  // `predecessor_best` (no predecessor for the first start: position 0).
  // The entry before the first start of a list: an infinite position, so
  // that no start counts it as an earlier partner (its length to it is not
  // positive).
  void sentinel(double* state) const noexcept {
    for (std::size_t column = 0; column < state_columns; ++column) state[column] = 0.0;
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
    const double length = static_cast<double>(position - predecessor);
    const double sum = sums_[position] - sums_[predecessor];
    const double mean = sum / length;
    const double within = (squares_[position] - squares_[predecessor]) - sum * mean;
    // Where (position − predecessor)(μ − mean)² < reach, the predecessor is
    // lower by more than the margin. The interval is narrowed for round-off.
    const double reach = ((best - predecessor_best) - within) - margin_;
    if (!(reach > 0.0)) return;
    const double radius = std::sqrt(reach / length);
    const double slack = relative_slack * (std::fabs(mean) + radius);
    if (radius <= slack) return;
    state[hole_low] = mean - radius + slack;
    state[hole_high] = mean + radius - slack;
  }

  // The endpoint costs at `end` of the first `count` starts, bit for bit
  // those of the cost's own batch (the same arithmetic on the same table
  // entries, read from the columns instead of scattered over the tables).
  // False when one of them needs the cost's own handling (a non-finite or
  // clearly negative term), which the caller then asks the cost for.
  bool endpoint_costs(Columns state, std::size_t count, std::uint64_t end, double* out) const noexcept {
    return costs_span(count, static_cast<double>(end), sums_[end], squares_[end], state[start_sum],
                      state[start_square], state[start_position], out);
  }

  // Compares every start τ of the list (`size` of them, optimal values
  // `best`, columns `state`) with the new start s at `new_position`, beyond
  // all of them, whose optimal value is `new_best`, and with the start before
  // it in the list. Sets `dominated[i]` to 1 once τ can never again come
  // within the margin of the optimum at an end where s is usable; leaves it
  // otherwise.
  void mark_dominated(std::size_t size, const double* best, Columns state, std::uint64_t new_position,
                      double new_best, double* dominated) const noexcept {
    if (size == 0) return;
    const Step step{static_cast<double>(new_position), sums_[new_position], squares_[new_position], new_best,
                    margin_};
    // Every start is compared with the entry before it; the first one's is
    // the list's sentinel, at an infinite position, which never beats it.
    mark_span(step, size, best, state[start_sum], state[start_square], state[start_position], state[low],
              state[high], state[hole_low], state[hole_high], dominated);
  }

 private:
  // What the pass knows about the new start.
  struct Step {
    double end;
    double sum_end;
    double square_end;
    double new_best;
    double margin;
  };

  static bool costs_span(std::size_t count, double end, double sum_end, double square_end,
                         const double* __restrict sum_at, const double* __restrict square_at,
                         const double* __restrict position_at, double* __restrict out) noexcept {
    // A negative term (round-off, clamped or refused by the cost depending
    // on its size) or a non-finite one is left to the cost: marked NaN here,
    // which makes the whole batch fall back. One sample has no spread: 0
    // whatever its table difference.
    const double not_a_number = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < count; ++i) {
      const double length = end - position_at[i];
      const double sum_delta = sum_end - sum_at[i];
      const double mean_square = (sum_delta / length) * sum_delta;
      const double term = (square_end - square_at[i]) - mean_square;
      const double settled = std::fabs(term) <= largest_ ? term : not_a_number;
      const double checked = term >= 0.0 ? settled : not_a_number;
      out[i] = length == 1.0 ? 0.0 : checked;
    }
    bool failed = false;
    for (std::size_t i = 0; i < count; ++i) failed |= out[i] != out[i];
    return !failed;
  }

  // Every start against the entry before it.
  // Unaliased pointer parameters and straight-line arithmetic without early
  // exits, so the loop vectorises.
  static void mark_span(const Step step, std::size_t size,
                        const double* __restrict best, const double* __restrict sum_at,
                        const double* __restrict square_at, const double* __restrict position_at,
                        double* __restrict lows, double* __restrict highs, const double* __restrict hole_lows,
                        const double* __restrict hole_highs, double* __restrict dominated) noexcept {
    const double end = step.end;
    const double sum_end = step.sum_end;
    const double square_end = step.square_end;
    const double new_best = step.new_best;
    const double margin = step.margin;
    for (std::size_t i = 0; i < size; ++i) {
      // Entry -1 is the sentinel.
      const std::ptrdiff_t partner = static_cast<std::ptrdiff_t>(i) - 1;
      const double inverse_length = 1.0 / (end - position_at[i]);
      const double sum = sum_end - sum_at[i];
      const double mean = sum * inverse_length;
      const double within = (square_end - square_at[i]) - sum * mean;
      // τ is within the margin of s where (s − τ)(μ − mean)² ≤ reach.
      // reach ≤ 0: s is lower everywhere (the square root is then of 0 and
      // the bounds are not used). An overflowed or NaN reach proves nothing:
      // its bounds are infinite or NaN, and the comparisons keep the old ones.
      const double reach = (margin + (new_best - best[i])) - within;
      const double radius = std::sqrt((reach > 0.0 ? reach : 0.0) * inverse_length);
      const double slack = relative_slack * (std::fabs(mean) + radius);
      const double candidate_low = mean - radius - slack;
      const double candidate_high = mean + radius + slack;
      const double low_bound = lows[i] < candidate_low ? candidate_low : lows[i];
      const double high_bound = highs[i] > candidate_high ? candidate_high : highs[i];
      lows[i] = low_bound;
      highs[i] = high_bound;
      const bool outside = (low_bound > high_bound) | ((low_bound >= hole_lows[i]) & (high_bound <= hole_highs[i]));
      // The partner e beats τ by more than the margin on all of τ's interval
      // when G_τ − G_e = F(τ) − F(e) − q(μ) exceeds it at both ends, q being
      // the convex quadratic Σ_{[e,τ)} (y_i − μ)², evaluated without
      // division; its rounding is bounded from the magnitudes of its terms.
      // Before τ met any later start its interval is unbounded; overflowed
      // terms give infinite or NaN values, for which the comparisons fail.
      const double length = position_at[i] - position_at[partner];
      const double partner_sum = sum_at[i] - sum_at[partner];
      const double partner_squares = square_at[i] - square_at[partner];
      const double at_low = (partner_squares - 2.0 * low_bound * partner_sum) + length * low_bound * low_bound;
      const double at_high = (partner_squares - 2.0 * high_bound * partner_sum) + length * high_bound * high_bound;
      const double low_magnitude = std::fabs(low_bound);
      const double high_magnitude = std::fabs(high_bound);
      const double extent = low_magnitude > high_magnitude ? low_magnitude : high_magnitude;
      const double magnitude = std::fabs(partner_squares) + extent * (2.0 * std::fabs(partner_sum) + length * extent);
      const double rounding = relative_slack * magnitude;
      const double advantage = (best[i] - best[partner]) - margin;
      const bool bounded = (low_bound > -infinity_) & (high_bound < infinity_);
      const bool beaten =
          bounded & (length > 0.0) & (advantage > at_low + rounding) & (advantage > at_high + rounding);
      dominated[i] = (reach <= 0.0) | outside | beaten ? 1.0 : dominated[i];
    }
  }

  // Relative widening of every interval end for the rounding of its mean and
  // radius (a few units in the last place; far more than needed).
  static constexpr double relative_slack = 0x1p-40;
  static constexpr double infinity_ = std::numeric_limits<double>::infinity();
  static constexpr double largest_ = std::numeric_limits<double>::max();

  const double* sums_;
  const double* squares_;
  double margin_;
};

}  // namespace tarnwell
