// Pelt's pruning test for the regression costs (linear, autoregressive): a
// segment's cost is the least residual sum of squares over the coefficients,
//   C(a, b) = min_Θ Σ_{i∈[a,b)} ‖y_i − Θ^T x_i‖² = min_Θ tr(Θ^T G Θ) − 2 tr(Θ^T B) + T
// with G, B, T the range's sums of x x^T, x y^T and ‖y‖². For a later start s
// and an earlier one e, h_s = F(τ) − F(s) + (the range [τ, s)'s sum) and
// h_e = F(τ) − F(e) − (the range [e, τ)'s sum) are quadratics in Θ, and for
// every μ ≥ 0 the minimum of h_s + μ h_e is
//   A_s + μ A_e + (T_s − μ T_e) − tr(B(μ)^T G(μ)⁻¹ B(μ)),  G(μ) = G_s − μ G_e,
// finite where G(μ) is positive definite: a positive value proves that at
// every Θ one of the two starts beats τ by the margin (the dual bound of the
// pair; with μ = 0, the later start alone). The bound is concave in μ and is
// maximised by a golden-section search.
//
// The costs are monotone and superadditive (a minimum over Θ of sums), which
// chains the block costs with floors of 0. The margin covers the search's
// own costs: the normal equations lose digits in proportion to G's
// condition, which for every segment of two blocks or more is bounded from
// the signal's blocks (the least eigenvalue of a block's G, against the
// largest row), and the exact solver's answers are far closer.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/tie_rule.hpp"
#include "cost/linear/regression_model.hpp"
#include "cost/pruning_query.hpp"

namespace tarnwell {

class RegressionPruningTest {
 public:
  // `cost` answers segment costs (its own batch's values for long segments);
  // the caller turns an allocation failure into its error.
  template <class Cost>
  static std::optional<RegressionPruningTest> create(const Cost& cost, const RegressionModel& model, double pen,
                                                     std::uint64_t minimum, const TieRule& tie) {
    const Result<double> whole = cost.segment_cost(0, cost.n_samples());
    if (!whole) return std::nullopt;
    RegressionPruningTest test(model, minimum);
    if (!test.prepare(*whole, pen, tie)) return std::nullopt;
    return test;
  }

  bool dominated(const PruningQuery& query);
  double floor_prefix(std::uint64_t) const noexcept { return 0.0; }
  double chain_bound(std::uint64_t a, std::uint64_t b) const;
  double chain_slack() const noexcept { return 2.0 * error_; }
  std::uint64_t expiry_delay() const noexcept { return delay_; }
  // A test solves a few dozen small systems: from the age of 256 on (younger
  // starts fall to the inequality rule when changes are frequent), whenever
  // the age has grown by half.
  std::pair<std::uint64_t, std::uint64_t> test_schedule() const noexcept { return {256, 2}; }

 private:
  RegressionPruningTest(const RegressionModel& model, std::uint64_t minimum);
  bool prepare(double whole_cost, double pen, const TieRule& tie);

  struct Sums {
    std::vector<double> gram;   // p x p, lower triangle
    std::vector<double> cross;  // p x k
    double total = 0.0;
  };
  void sums_of(std::uint64_t a, std::uint64_t b, Sums& out) const noexcept;
  // min over Θ of (plus) − mu (minus), less the room for its rounding; −∞
  // where G(mu) is not positive definite.
  double combined_minimum(const Sums& plus, const Sums* minus, double mu);
  double best_pair_bound(double offset_plus, const Sums& plus, double offset_minus, const Sums& minus);

  const RegressionModel* model_;
  std::uint64_t p_;
  std::uint64_t k_;
  std::uint64_t minimum_;
  std::uint64_t delay_;
  double condition_ = 0.0;   // bound on G's condition for segments of two blocks or more
  double error_ = 0.0;       // of any cost the search compares where a dominated start is dropped
  double margin_ = 0.0;
  double total_ = 0.0;       // the whole signal's sum of |y|^2 (shifted rows)
  Sums later_;
  Sums earlier_;
  Sums piece_;  // a chain piece's (the chain is read through const)
  std::vector<double> factor_;  // p x p
  std::vector<double> solved_;  // p x k
};

}  // namespace tarnwell
