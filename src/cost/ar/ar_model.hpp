// The autoregressive model: its one parameter is the number of lags.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/ar/ar_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

namespace tarnwell {

struct ARModel {
  using Fitted = ARCost;
  static constexpr std::string_view class_name = "CostAR";
  static constexpr std::string_view description =
      "Autoregressive segment cost: every sample is regressed on an intercept and the previous\n"
      "`order` samples of the whole signal, and the cost of a segment is the residual sum of squares.\n\n"
      "Fitting keeps an owned lagged design and a copy of the signal.";
  static constexpr std::array<std::string_view, 1> model_names{"ar"};
  static constexpr CostScale scale = CostScale::squared;
  static constexpr std::string_view summary = "autoregressive dynamics";
  static constexpr std::string_view use_when = "changes in dynamics (autoregressive coefficients) of a correlated signal";
  static constexpr bool describes_trend = true;
  static constexpr bool rewards_constant_runs = false;

  std::uint64_t order = 4;

  static constexpr auto parameters = std::tuple{ModelParameter<ARModel, std::uint64_t>{"order", &ARModel::order, "4"}};
  static constexpr auto properties = std::tuple{ModelProperty{
      "order", &ARModel::order,
      "The number of previous samples each sample is regressed on (at least 1, and at most the number of "
      "samples of the fitted signal); segments need at least max(order + 1, 5) samples."}};

  Status check() const {
    if (order == 0) return errors::fail(errors::invalid_ar_order(order));
    return {};
  }
  std::uint64_t min_segment_length() const noexcept { return autoregressive_min_size(order); }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d * (1 + order * d); }
  // The lagged regression needs more equations than coefficients.
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2 * (order + 1); }
  // It models the correlation itself: the noise unit is its innovations', not inflated.
  PenaltyRule penalty_rule() const {
    return {.unit = NoiseUnit::innovations, .inflated = false, .autoregression_order = order};
  }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  // Per feature f (the equation of f): its intercept, then the coefficient
  // of every feature g at every lag.
  std::vector<std::string> parameter_names(std::uint64_t d) const;
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<ARCost> fit(const Signal& signal) const { return ARCost::fit(signal, order); }
  std::string repr(const ARCost*) const { return "CostAR(order=" + std::to_string(order) + ")"; }
};

}  // namespace tarnwell
