// Pelt's pruning test for the Gaussian cost with a ridge.
//
// The cost len · log det(S/(len − 1) + rI) is not itself a minimum over
// parameters, but the maximum-likelihood form beside it is:
//   f(len) = len · log det(S/len + rI) = min over (m, Σ) of Σ_i ℓ_i,
//   ℓ_i = log det Σ + (y_i − m)^T Σ⁻¹ (y_i − m) + r tr Σ⁻¹ − d,
// and the cost exceeds it by len log(1 + ρ/(len − 1)) per eigenvalue λ of S,
// ρ = λ/(λ + len r): between ρ and 1 times len ln(len/(len − 1)), which falls
// from 2 ln 2 towards 1 as the segment grows. So a start τ is dominated when
// at every (m, Σ) some partner's ℓ-sum function is below τ's by more than
// the margin plus what the partner's excess can exceed τ's at the ends that
// matter: dropping τ only once every partner's segment is at least 64 samples
// long (the search keeps it listed until then), a later partner's excess is
// at most 64 ln(64/63) ≈ 1.008 per feature against τ's at least ρ, and an
// earlier partner's (a longer segment) at most τ's own bound, against at
// least ρ of it; ρ is bounded below from the signal's least block scatter,
// and is about 1 unless the signal holds a nearly constant stretch. A single partner gives the inequality rule in the f form; a later
// start s and an earlier one e give the dual bound of the pair: for every
// μ ≥ 0, min over (m, Σ) of h_s + μ h_e is a weighted likelihood with weights
// 1 on [τ, s) and −μ on [e, τ), whose minimum is W log det(S_w/W + rI)
// (W the total weight, S_w the weighted scatter about the weighted mean)
// when W > 0 and that matrix is positive definite, −∞ otherwise; a positive
// value for some μ proves h_s or h_e positive at every (m, Σ). The bound is
// concave in μ and maximised by a golden-section search.
//
// One feature has a sharper test over the plane of (m, v = σ²): for a fixed v
// the region where a later start s does not beat τ by the required amount is
// an interval of m around the mean μ of [τ, s),
//   n (m − μ)² ≤ v (n − off − n log v) − W − n r   (n, μ, W of [τ, s)),
// and the region where an earlier start beats τ by it is an open interval
// around the mean of [e, τ) likewise. The test bounds v by the roots of the
// first inequality at m = μ (a convex function of log v, its roots found by
// Newton's method from outside, so every iterate bounds them), then walks
// slices of that range of v: at the slice's middle the intervals are exact,
// and τ is alive there when the later intervals are not covered by the
// earlier ones; over the whole slice the later intervals are widened to
// their widest and the earlier ones narrowed to their narrowest (the right
// sides are concave in v, so the extremes lie at the ends or at one interior
// point), and a slice whose widened intervals are covered is done; others are
// halved, a few times at most.
//
// Floors: ℓ_i ≥ d log r (the ridge bounds Σ⁻¹'s trace term from below), and
// f is superadditive, which chains the block costs (with δ once as slack).
// The scatter tables are compensated sums, so a segment's scatter is within
// a few roundings of the largest prefix entries whatever its length; the
// ridge bounds how much that moves a log-determinant.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/tie_rule.hpp"
#include "cost/normal/normal_cost.hpp"
#include "cost/pruning_query.hpp"

namespace tarnwell {

class NormalPruningTest {
 public:
  NormalPruningTest(const NormalCost& cost, double pen, std::uint64_t min_size, const TieRule& tie);

  bool dominated(const PruningQuery& query);
  double floor_prefix(std::uint64_t position) const noexcept {
    const double p = static_cast<double>(position);
    return p * floor_ - 0x1p-40 * p * std::fabs(floor_);
  }
  double chain_bound(std::uint64_t a, std::uint64_t b) const;
  double chain_slack() const noexcept { return excess_ + 2.0 * cost_error(0.0, cost_->n_samples()); }
  // A dominated start is dropped this many samples after the newest start.
  std::uint64_t expiry_delay() const noexcept { return delay_; }
  // A test costs many evaluations (logarithms and exponentials per slice):
  // from the age of 256 on, whenever the age has grown by half. Younger
  // starts fall to the inequality rule when changes are frequent (tests
  // from 32 on made those searches three times slower), and the lazy
  // evaluation keeps the ones a long segment holds cheap until then.
  std::pair<std::uint64_t, std::uint64_t> test_schedule() const noexcept { return {256, 2}; }

 private:
  struct Range {
    double length;
    const double* sums_a;
    const double* sums_b;
    const double* products_a;
    const double* products_b;
  };
  Range range(std::uint64_t a, std::uint64_t b) const noexcept;
  double cost_error(double variance, std::uint64_t length) const noexcept;
  // W log det(S_w / W + rI) for weights 1 on `plus` and −mu on `minus` (no
  // `minus` when mu is 0); −∞ where it is unbounded below.
  double weighted_minimum(const Range& plus, const Range* minus, double mu) const;
  double pair_bound(double offset_plus, const Range& plus, double offset_minus, const Range& minus) const;
  // For one feature: the coefficients of a range's loss sum.
  struct Moments {
    double n, mean, k;  // k = scatter + n r
  };
  Moments moments(const Range& between) const noexcept;
  bool covered_slice(double u_low, double u_high, int depth);
  bool dominated_single_feature(const PruningQuery& query);

  const NormalCost* cost_;
  const ScatterStatistics* scatter_;
  std::size_t d_;
  double ridge_;
  double floor_;   // d log r
  double excess_;  // the largest cost − f the search can meet
  std::uint64_t delay_;
  double later_slack_ = 0.0;    // of a later partner's excess over τ's
  double earlier_slack_ = 0.0;  // of an earlier partner's
  double error_;   // of the costs compared at the ends where a dominated start is dropped
  double margin_;
  double entry_ = 0.0;           // the error of a segment scatter's entry
  double spread_ = 0.0;          // a bound on a covariance's entries
  double log_scale_ = 0.0;       // on the logarithms' magnitudes
  double block_variance_ = 0.0;  // least covariance of an aligned block (one feature)
  double long_variance_ = 0.0;   // of a segment of two blocks or more
  double largest_value_;  // of the centred samples
  mutable std::vector<double> work_;  // d + d x d
  // The partners of the current question (one feature): their moments and
  // offsets, and where a later one's interval is widest.
  struct Partner {
    double n, mean, k, off, peak_at, peak;
  };
  std::vector<Partner> later_;
  std::vector<Partner> earlier_;
  std::vector<std::pair<double, double>> intervals_;
};

std::optional<NormalPruningTest> pelt_pruning_test(const NormalCost& cost, double pen, std::uint64_t min_size,
                                                   std::uint64_t jump, const TieRule& tie);

}  // namespace tarnwell
