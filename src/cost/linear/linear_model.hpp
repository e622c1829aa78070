// The linear-regression model: no parameters, segments of at least 2 samples.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "cost/linear/linear_cost.hpp"
#include "cost/cost_descriptor.hpp"

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
  static constexpr std::string_view use_when = "changes in a linear relation between the first feature and the others";
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return LinearCost::minimum_length; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d > 1 ? d - 1 : 1; }
  // The residuals are those of the one response.
  std::uint64_t residual_coordinates(std::uint64_t) const noexcept { return 1; }
  Result<LinearCost> fit(const Signal& signal) const { return LinearCost::fit(signal); }
};

}  // namespace tarnwell
