// How a greedy search decides when to stop: after a given number of changes,
// while a change pays more than a penalty, or while the total cost stays above
// a reconstruction budget. Exactly one rule drives a search.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "core/error/error_kind.hpp"
#include "core/tie_rule.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

class StoppingRule {
 public:
  enum class Kind : std::uint8_t { change_count, penalty, budget };

  static StoppingRule change_count(std::uint64_t n_bkps) noexcept { return {Kind::change_count, n_bkps, 0.0}; }
  static StoppingRule penalty(double pen) noexcept { return {Kind::penalty, 0, pen}; }
  static StoppingRule budget(double epsilon) noexcept { return {Kind::budget, 0, epsilon}; }

  Kind kind() const noexcept { return kind_; }
  std::uint64_t n_bkps() const noexcept { return n_bkps_; }
  double pen() const noexcept { return threshold_; }
  double epsilon() const noexcept { return threshold_; }

  // The value checks made at the start of every search. -0 and +0 are both
  // refused as penalties (a change must cost something) and both accepted as
  // budgets (a perfect reconstruction is a legitimate target).
  Status check() const {
    if (kind_ == Kind::penalty) return check_penalty(threshold_);
    if (kind_ == Kind::budget && !(std::isfinite(threshold_) && threshold_ >= 0.0)) {
      return errors::fail(errors::invalid_budget(threshold_));
    }
    return {};
  }

  // The penalty term of the objective.
  double penalty_term(std::uint64_t changes) const noexcept {
    return kind_ == Kind::penalty ? threshold_ * static_cast<double>(changes) : 0.0;
  }

  // Only the budget rule looks at the running total.
  bool reads_total() const noexcept { return kind_ == Kind::budget; }

  // The rule with its tie tolerance scaled to the problem: the threshold or
  // the typical cost per sample (TieRule::typical_cost_per_sample, here as
  // the total it gives over the whole signal), whichever is larger.
  StoppingRule calibrated(double whole_signal_cost, std::uint64_t n_samples) const noexcept {
    StoppingRule rule = *this;
    rule.tie_ = TieRule::for_search(whole_signal_cost, n_samples, kind_ == Kind::change_count ? 0.0 : threshold_);
    return rule;
  }

  // Near-equality decides at the thresholds: a value within the tolerance of
  // `pen` or `epsilon` is not "clearly" on either side, so round-off in the
  // prefix statistics cannot flip a decision that is exact in real arithmetic.
  bool clearly_above(double value, double threshold) const noexcept {
    return value > threshold && !tie_.near(value, threshold);
  }
  bool clearly_below(double value, double threshold) const noexcept {
    return value < threshold && !tie_.near(value, threshold);
  }
  bool at_most_nearly(double value, double limit) const noexcept { return value <= limit || tie_.near(value, limit); }

  // Growing searches (Binseg, Window): whether a split that lowers the cost
  // by `gain` is made, with `changes` changes so far and the cost at `total`.
  bool accepts_split(std::uint64_t changes, double gain, double total) const noexcept {
    switch (kind_) {
      case Kind::change_count: return changes < n_bkps_;
      case Kind::penalty: return clearly_above(gain, threshold_);
      case Kind::budget: return clearly_above(total, threshold_);
    }
    return false;
  }

  // Shrinking search (BottomUp): whether a merge that raises the cost by
  // `delta` is made, with `segments` segments now and the cost at `total`.
  // The budget admits a total that reaches it within the tolerance.
  enum class MergeDecision : std::uint8_t { merge, stop, infeasible };
  MergeDecision merge_decision(std::uint64_t segments, double delta, double total) const noexcept {
    switch (kind_) {
      case Kind::change_count:
        if (segments - 1 == n_bkps_) return MergeDecision::stop;
        return segments - 1 < n_bkps_ ? MergeDecision::infeasible : MergeDecision::merge;
      case Kind::penalty: return clearly_below(delta, threshold_) ? MergeDecision::merge : MergeDecision::stop;
      case Kind::budget: return at_most_nearly(total + delta, threshold_) ? MergeDecision::merge : MergeDecision::stop;
    }
    return MergeDecision::stop;
  }

 private:
  StoppingRule(Kind kind, std::uint64_t n_bkps, double threshold) noexcept
      : kind_(kind), n_bkps_(n_bkps), threshold_(threshold), tie_(TieRule::unit()) {}

  Kind kind_;
  std::uint64_t n_bkps_;
  double threshold_;  // pen or epsilon
  TieRule tie_;
};

// The rule from the three optional arguments of predict: exactly one given.
inline Result<StoppingRule> choose_stopping_rule(std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                                                 std::optional<double> epsilon) {
  const int given = int(n_bkps.has_value()) + int(pen.has_value()) + int(epsilon.has_value());
  if (given != 1) return errors::fail(errors::stopping_rule_count());
  if (n_bkps) return StoppingRule::change_count(*n_bkps);
  if (pen) return StoppingRule::penalty(*pen);
  return StoppingRule::budget(*epsilon);
}

}  // namespace tarnwell
