// Functional pruning of Pelt starts for the squared-error cost of one feature.
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

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tarnwell {

class L2FunctionalPruning {
 public:
  // What is known about one start: the interval of means where it still
  // matches every later start, and the interval where its predecessor beats it.
  struct Candidate {
    double low;
    double high;
    double hole_low;
    double hole_high;
  };

  L2FunctionalPruning(const double* prefix_sums, const double* prefix_squares, double margin) noexcept
      : sums_(prefix_sums), squares_(prefix_squares), margin_(margin) {}

  double margin() const noexcept { return margin_; }

  // The start at `position` with optimal value `best`, whose own optimum
  // ends with the segment [predecessor, position) after a value of
  // `predecessor_best` (no predecessor for the first start: position 0).
  Candidate admit(std::uint64_t position, double best, std::uint64_t predecessor,
                  double predecessor_best) const noexcept {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    Candidate candidate{-infinity, infinity, infinity, -infinity};
    if (predecessor >= position) return candidate;
    const double length = static_cast<double>(position - predecessor);
    const double sum = sums_[position] - sums_[predecessor];
    const double mean = sum / length;
    const double within = (squares_[position] - squares_[predecessor]) - sum * mean;
    // Where (position − predecessor)(μ − mean)² < reach, the predecessor is
    // lower by more than the margin. The interval is narrowed for round-off.
    const double reach = ((best - predecessor_best) - within) - margin_;
    if (!(reach > 0.0)) return candidate;
    const double radius = std::sqrt(reach / length);
    const double slack = relative_slack * (std::fabs(mean) + radius);
    if (radius <= slack) return candidate;
    candidate.hole_low = mean - radius + slack;
    candidate.hole_high = mean + radius - slack;
    return candidate;
  }

  // Compares the start τ (`candidate`, at `position` with value `best`) with
  // the new start s at `new_position` > `position` with value `new_best`, and
  // with one earlier start e (`partner`, `partner_position` < `position`,
  // `partner_best`; pass `position` itself for none). True once τ can never
  // again come within the margin of the optimum at an end where s is usable.
  bool dominated_by(Candidate& candidate, std::uint64_t position, double best, std::uint64_t new_position,
                    double new_best, const Candidate& partner, std::uint64_t partner_position,
                    double partner_best) const noexcept {
    // Straight-line arithmetic (no early exits) so the loop over the
    // candidates pipelines. Lengths stay far below 2^63, where the signed
    // conversion is exact and cheaper.
    const double inverse_length = 1.0 / static_cast<double>(static_cast<std::int64_t>(new_position - position));
    const double sum = sums_[new_position] - sums_[position];
    const double mean = sum * inverse_length;
    const double within = (squares_[new_position] - squares_[position]) - sum * mean;
    const double reach = (margin_ + (new_best - best)) - within;
    // reach ≤ 0: s is lower everywhere (the square root is then of 0 and the
    // bounds below are not used). An overflowed or NaN reach proves nothing:
    // its bounds are infinite or NaN, and std::max/std::min keep the old ones.
    const double radius = std::sqrt(std::max(reach, 0.0) * inverse_length);
    const double slack = relative_slack * (std::fabs(mean) + radius);
    const double low = std::max(candidate.low, mean - radius - slack);
    const double high = std::min(candidate.high, mean + radius + slack);
    candidate.low = low;
    candidate.high = high;
    const bool outside = (low > high) | ((low >= candidate.hole_low) & (high <= candidate.hole_high));
    return (reach <= 0.0) | outside |
           beaten_on_interval(candidate, position, best, partner, partner_position, partner_best);
  }

 private:
  // Whether the earlier start e beats τ by more than the margin on all of
  // τ's interval: there G_τ − G_e = F(τ) − F(e) − q(μ), with q the convex
  // quadratic Σ_{[e,τ)} (y_i − μ)², so its two ends decide. q is evaluated
  // without division; its rounding is bounded from the magnitudes of its terms.
  bool beaten_on_interval(const Candidate& candidate, std::uint64_t position, double best,
                          [[maybe_unused]] const Candidate& partner, std::uint64_t partner_position,
                          double partner_best) const noexcept {
    const double length = static_cast<double>(static_cast<std::int64_t>(position - partner_position));
    const double sum = sums_[position] - sums_[partner_position];
    const double squares = squares_[position] - squares_[partner_position];
    const double at_low = (squares - 2.0 * candidate.low * sum) + length * candidate.low * candidate.low;
    const double at_high = (squares - 2.0 * candidate.high * sum) + length * candidate.high * candidate.high;
    const double extent = std::max(std::fabs(candidate.low), std::fabs(candidate.high));
    const double size = std::fabs(squares) + extent * (2.0 * std::fabs(sum) + length * extent);
    const double rounding = relative_slack * size;
    const double advantage = (best - partner_best) - margin_;
    // Before τ met any later start its interval is unbounded; overflowed
    // terms give infinite or NaN values, for which the comparisons fail.
    const bool bounded = (candidate.low > -infinity_) & (candidate.high < infinity_);
    return bounded & (position > partner_position) & (advantage > at_low + rounding) &
           (advantage > at_high + rounding);
  }

  // Relative widening of every interval end for the rounding of its mean and
  // radius (a few units in the last place; far more than needed).
  static constexpr double relative_slack = 0x1p-40;
  static constexpr double infinity_ = std::numeric_limits<double>::infinity();

  const double* sums_;
  const double* squares_;
  double margin_;
};

}  // namespace tarnwell
