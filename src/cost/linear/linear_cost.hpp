// Linear-regression cost: within a segment the first feature is regressed by
// least squares on the other features (no intercept); the cost is the
// residual sum of squares.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>

#include "core/signal.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/linear/regression_model.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class LinearCost {
 public:
  static constexpr std::uint64_t minimum_length = 2;

  // Needs at least two features: the response and one regressor.
  static Result<LinearCost> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return regression_.n_rows(); }
  double value_scale() const noexcept { return regression_.value_scale(); }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return minimum_length; }
  // Pruning constant 0: splitting a segment never raises the total. Each part
  // refits its own coefficients on its own rows; the whole's coefficients are
  // one admissible choice for both parts, so the parts' residual sums of
  // squares add up to at most the whole's.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  const RegressionModel& regression() const noexcept { return regression_; }
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
    return regression_.endpoint_costs(starts, end, minimum_length, out);
  }

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's checks.
  void save(StateWriter& out) const;
  static Result<LinearCost> restore(StateReader& in);

 private:
  LinearCost(RegressionModel regression, std::uint64_t n_features)
      : regression_(std::move(regression)), n_features_(n_features) {}

  RegressionModel regression_;
  std::uint64_t n_features_;
};

}  // namespace tarnwell
