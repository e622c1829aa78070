// Autoregressive cost: within a segment every sample (all features at once)
// is regressed by least squares on an intercept and the previous `order`
// samples; the cost is the residual sum of squares. The lags come from the
// whole signal, so the first rows of a segment look back into the previous
// one; lags before sample 0 read as zeros.
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

// max(5, order + 1), saturating at the largest 64-bit value.
constexpr std::uint64_t autoregressive_min_size(std::uint64_t order) noexcept {
  if (order == UINT64_MAX) return UINT64_MAX;
  return order + 1 < 5 ? 5 : order + 1;
}

struct ARModel;

class ARCost {
 public:
  static Result<ARCost> fit(const Signal& signal, std::uint64_t order);

  std::uint64_t n_samples() const noexcept { return regression_.n_rows(); }
  double value_scale() const noexcept { return regression_.value_scale(); }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t order() const noexcept { return order_; }
  std::uint64_t min_segment_length() const noexcept { return minimum_length_; }
  // Pruning constant 0: splitting a segment never raises the total. The rows
  // of the parts are exactly the rows of the whole (the lags come from the
  // whole signal, not from the segment), and each part refits its own
  // coefficients, for which the whole's are one admissible choice.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  const RegressionModel& regression() const noexcept { return regression_; }
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
    return regression_.endpoint_costs(starts, end, minimum_length_, out);
  }

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's checks.
  void save(StateWriter& out) const;
  // The saved order must be the model's: it sizes the lagged design.
  static Result<ARCost> restore(StateReader& in, const ARModel& model);

 private:
  ARCost(RegressionModel regression, std::uint64_t n_features, std::uint64_t order)
      : regression_(std::move(regression)),
        n_features_(n_features),
        order_(order),
        minimum_length_((order < 4 ? 4 : order) + 1) {}

  RegressionModel regression_;
  std::uint64_t n_features_;
  std::uint64_t order_;
  std::uint64_t minimum_length_;
};

}  // namespace tarnwell
