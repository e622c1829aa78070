// The linear-regression model: no parameters, segments of at least 2 samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/linear/linear_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

namespace tarnwell {

struct LinearModel {
  using Fitted = LinearCost;
  static constexpr std::string_view class_name = "CostLinear";
  static constexpr std::string_view description =
      "Linear-regression segment cost: the first feature is regressed on the other features\n"
      "(no intercept) and the cost of a segment is the residual sum of squares.\n\n"
      "Fitting needs at least two features and keeps an owned copy of the response and design.";
  static constexpr std::array<std::string_view, 1> model_names{"linear"};
  static constexpr CostScale scale = CostScale::squared;
  static constexpr std::string_view summary = "a linear relation between the first feature and the others";
  static constexpr std::string_view use_when = "changes in a linear relation between the first feature and the others";
  static constexpr bool describes_trend = true;
  static constexpr bool rewards_constant_runs = false;
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return LinearCost::minimum_length; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d > 1 ? d - 1 : 1; }
  // The residuals are those of the one response.
  std::uint64_t residual_coordinates(std::uint64_t) const noexcept { return 1; }
  // One more sample than the d - 1 coefficients, and at least three.
  std::uint64_t default_min_size(std::uint64_t d) const noexcept { return d + 1 > 3 ? d + 1 : 3; }
  PenaltyRule penalty_rule() const { return {.unit = NoiseUnit::regression}; }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  // The coefficient of every other feature in the regression of the first.
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("coefficient", d, 1); }
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<LinearCost> fit(const Signal& signal) const { return LinearCost::fit(signal); }
};

}  // namespace tarnwell
