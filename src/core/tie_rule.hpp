// The numeric policy every search applies when it compares objective values:
// when two values count as the same optimum, when one is clearly above
// another, and which of two tied sub-solutions wins.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "core/strided_matrix.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// Two finite values within a trillionth of each other, relative to the larger
// or to the problem's own scale, are the same optimum: round-off in prefix
// differences must not decide between segmentations, and the searches break
// such ties by a deterministic rule instead. The absolute part is
// proportional to the scale of the values a search compares (its penalty, or
// the typical cost per sample of the signal), so a signal in small units
// and the same signal in large ones (with penalties scaled alike) get the same
// answers. Exactly equal values, infinities included, always tie.
//
// The relative part is measured against at most 2^10 times the largest value
// the problem's scale makes typical (n samples at that scale): values far
// beyond it are sums sharing one huge term (a segment over a value that
// dwarfs the rest, in every candidate after it), and a trillionth of them
// would swallow the penalty and every other difference the search has to
// decide. Searches that add such values keep compensated totals, so their
// differences stay exact to well within the remaining tolerance.
class TieRule {
 public:
  static constexpr double relative = 1e-12;

  // The rule for values of the given typical magnitude; a zero scale leaves
  // only the relative part (exact ties still tie).
  static TieRule for_scale(double scale) noexcept {
    return TieRule(is_finite_value(scale) ? relative * std::fabs(scale) : 0.0);
  }
  // For values of order one: the absolute part is one trillionth.
  static TieRule unit() noexcept { return TieRule(relative); }
  // As for_scale, for a problem of n samples (which caps the relative part).
  static TieRule for_problem(double scale, std::uint64_t n_samples) noexcept {
    TieRule rule = for_scale(scale);
    const double typical_total = 0x1p10 * static_cast<double>(n_samples == 0 ? 1 : n_samples) * rule.absolute_;
    if (typical_total > 0.0 && is_finite_value(typical_total)) rule.largest_relative_magnitude_ = typical_total / relative;
    return rule;
  }

  // The scale of a search over a cost: the largest of a threshold it compares
  // against (a penalty or a budget, 0 when none), the mean cost per sample
  // of the whole signal as one segment, and the scale of the values the
  // cost's own sums are made of when it declares one (`value_scale`, 0 when
  // not: a kernel cost's mean K(i, i), whose round-off a nearly constant
  // signal's tiny costs cannot show).
  static TieRule for_search(double whole_signal_cost, std::uint64_t n_samples, double threshold = 0.0,
                            double value_scale = 0.0) noexcept {
    const double per_sample = std::fabs(whole_signal_cost) / static_cast<double>(n_samples == 0 ? 1 : n_samples);
    const double declared = is_finite_value(value_scale) ? std::fabs(value_scale) : 0.0;
    return for_problem(std::max({per_sample, is_finite_value(threshold) ? std::fabs(threshold) : 0.0, declared}),
                       n_samples);
  }

  // The rule of a search over a fitted cost: for_search with the cost's
  // typical cost per sample (below) in place of the whole signal's mean.
  template <class Cost>
  static Result<TieRule> for_cost(const Cost& cost, double threshold = 0.0, double value_scale = 0.0) {
    TARNWELL_TRY(per_sample, typical_cost_per_sample(cost));
    const std::uint64_t n = cost.n_samples();
    return for_search(per_sample * static_cast<double>(n), n, threshold, value_scale);
  }

  // The whole signal's mean cost per sample, as long as it is typical of the
  // signal. A few values that dwarf the rest (one sample at 1e10 in unit
  // noise) make it a measure of those values alone, and a tie band drawn
  // from it would swallow every difference the search has to decide, the
  // penalty's included. So when it exceeds 2^20 times the upper quartile of
  // the same measure over up to 64 short blocks (which such values cannot
  // move; the level changes of an ordinary signal stay far below that), the
  // quartile is the scale instead. A quartile of 0 (most blocks exactly
  // flat: noise-free steps, whose heights are the scale) or a block the
  // cost cannot evaluate leaves the whole signal's mean as it is.
  template <class Cost>
  static Result<double> typical_cost_per_sample(const Cost& cost) {
    const std::uint64_t n = cost.n_samples();
    TARNWELL_TRY(whole_signal_cost, cost.segment_cost(0, n));
    const double per_sample = std::fabs(whole_signal_cost) / static_cast<double>(n == 0 ? 1 : n);
    const std::uint64_t shortest = std::max<std::uint64_t>(cost.min_segment_length(), 2);
    const std::uint64_t blocks = std::min<std::uint64_t>(max_scale_blocks, n / shortest);
    if (blocks < 4 || !is_finite_value(per_sample) || per_sample == 0.0) return per_sample;
    std::array<double, max_scale_blocks> block_scales{};
    // Short blocks, evenly spread: a few thousand samples in all, so that a
    // cost whose single segments take quadratic time (a kernel without its
    // Gram matrix) pays little more than for the whole signal's one.
    const std::uint64_t spacing = n / blocks;
    const std::uint64_t length = std::min(spacing, std::max<std::uint64_t>(scale_block_length, 8 * shortest));
    for (std::uint64_t block = 0; block < blocks; ++block) {
      const std::uint64_t start = block * spacing;
      const std::uint64_t end = start + length;
      const Result<double> block_cost = cost.segment_cost(start, end);
      if (!block_cost) return per_sample;
      const double scale = std::fabs(*block_cost) / static_cast<double>(end - start);
      block_scales[block] = is_finite_value(scale) ? scale : std::numeric_limits<double>::infinity();
    }
    const auto quartile = block_scales.begin() + (3 * blocks) / 4;
    std::nth_element(block_scales.begin(), quartile, block_scales.begin() + blocks);
    return *quartile == 0.0 || per_sample <= typical_scale_cap * *quartile ? per_sample : *quartile;
  }

  // A cost's declared value scale (see for_search), 0 for costs without one.
  // Dynp takes it; Pelt does not need it (its penalty sets the scale, and a
  // wider tie band than its pruning assumes would let pruning drop a start
  // the exhaustive search keeps as the earliest of tied optima).
  template <class Cost>
  static double value_scale_of(const Cost& cost) noexcept {
    if constexpr (requires { cost.value_scale(); }) {
      return cost.value_scale();
    } else {
      return 0.0;
    }
  }

  // The absolute part of the tolerance.
  double absolute() const noexcept { return absolute_; }

  double tolerance(double left, double right) const noexcept {
    return relative * std::min(std::max(std::fabs(left), std::fabs(right)), largest_relative_magnitude_) + absolute_;
  }
  bool near(double left, double right) const noexcept {
    if (!is_finite_value(left) || !is_finite_value(right)) return false;
    return std::fabs(left - right) <= tolerance(left, right);
  }
  bool tie(double left, double right) const noexcept { return left == right || near(left, right); }
  // As tie, for two compensated totals: `difference` is left - right from
  // their low parts too, more exact than the difference of their values.
  bool tie(double left, double right, double difference) const noexcept {
    if (!is_finite_value(left) || !is_finite_value(right)) return left == right;
    return std::fabs(difference) <= tolerance(left, right);
  }

  // Above `reference` beyond the tie tolerance (both finite).
  bool clearly_above(double value, double reference) const noexcept {
    return value - reference > tolerance(value, reference);
  }
  // Above `reference` by more than the tolerance plus the rounding of a
  // value that is the plain sum of a few doubles (a cost, an optimum and a
  // penalty): clearly above whichever way the sums were rounded.
  bool clearly_above_sum(double value, double reference) const noexcept {
    return value - reference > tolerance(value, reference) + sum_rounding(value, reference);
  }
  // Beyond twice the tolerance and such rounding: no tie, whatever the
  // rounding of the values and of the test itself.
  bool well_separated(double value, double reference) const noexcept {
    return value - reference > 2.0 * tolerance(value, reference) + sum_rounding(value, reference);
  }
  // Half-width of a band around `best` outside which a candidate can be
  // neither tied with it nor decided by the tie-break: with
  // d = |candidate - best| > 4 tolerance(best, 0) and |candidate| <= |best| + d,
  // d exceeds the tolerance with a margin far wider than the rounding of
  // either side (the sums' own rounding added for capped tolerances).
  double decision_band(double best) const noexcept {
    return 4.0 * tolerance(best, 0.0) + sum_rounding(best, 0.0);
  }

 private:
  static constexpr std::uint64_t max_scale_blocks = 64;
  static constexpr std::uint64_t scale_block_length = 64;
  static constexpr double typical_scale_cap = 0x1p20;
  explicit TieRule(double absolute) noexcept : absolute_(absolute) {}
  // A few roundings of the larger value (far below the uncapped relative
  // part, so it only counts where the cap applies).
  static double sum_rounding(double left, double right) noexcept {
    return 0x1p-49 * std::max(std::fabs(left), std::fabs(right));
  }
  double absolute_;
  double largest_relative_magnitude_ = std::numeric_limits<double>::infinity();
};

// The tie-break between two tied sub-solutions: the one whose breakpoint list
// is lexicographically smaller wins (its changes come earlier), so that the
// final answer is the smallest of the tied optima; identical lists keep the
// incumbent.
//
// Sub-solutions are nodes of the search's predecessor forest, numbered so that
// every node's parent has a smaller number and the empty prefix is node 0;
// `parent(node)` returns the parent or nothing for a broken link, and
// `position(node)` the breakpoint the node adds. Both lists are compared as if
// followed by the same next breakpoint, so a list that is a proper prefix of
// the other is the larger one. Only the parts below the nodes' last common
// ancestor are walked: tied sub-solutions usually share all but their last
// few breakpoints, so a tie costs a few steps instead of two whole paths.
template <class Parent, class Position>
Result<bool> candidate_path_is_smaller(std::uint64_t candidate, std::uint64_t incumbent, Parent&& parent,
                                       Position&& position, std::string_view context) {
  std::optional<std::uint64_t> below_candidate;  // the child of the common ancestor on each path
  std::optional<std::uint64_t> below_incumbent;
  while (candidate != incumbent) {
    if (candidate > incumbent) {
      const std::optional<std::uint64_t> up = parent(candidate);
      if (!up || *up >= candidate) return errors::fail(errors::numerical_failure(context));
      below_candidate = candidate;
      candidate = *up;
    } else {
      const std::optional<std::uint64_t> up = parent(incumbent);
      if (!up || *up >= incumbent) return errors::fail(errors::numerical_failure(context));
      below_incumbent = incumbent;
      incumbent = *up;
    }
  }
  if (!below_candidate) return false;  // the candidate's list is a prefix of the incumbent's, or equal
  if (!below_incumbent) return true;   // the incumbent's list is a proper prefix of the candidate's
  return position(*below_candidate) < position(*below_incumbent);
}

}  // namespace tarnwell
