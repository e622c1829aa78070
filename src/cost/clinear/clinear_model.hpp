// The continuous piecewise-linear model: no parameters, segments of at least 3 samples.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "cost/clinear/clinear_cost.hpp"
#include "cost/cost_descriptor.hpp"

namespace tarnwell {

struct CLinearModel {
  using Fitted = CLinearCost;
  static constexpr std::string_view class_name = "CostCLinear";
  static constexpr std::string_view description =
      "Continuous piecewise-linear segment cost: every feature is compared with the line joining\n"
      "the sample before the segment (or its first sample at the start of the signal) to the\n"
      "segment's last sample; the cost is the sum of squared deviations.\n\n"
      "Fitting keeps an owned copy of the signal and its prefix sums, from which a segment costs O(d).";
  static constexpr std::array<std::string_view, 1> model_names{"clinear"};
  static constexpr CostScale scale = CostScale::squared;
  static constexpr std::string_view use_when = "changes of slope in a continuous piecewise-linear trend";
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return CLinearCost::minimum_length; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  Result<CLinearCost> fit(const Signal& signal) const { return CLinearCost::fit(signal); }
};

}  // namespace tarnwell
