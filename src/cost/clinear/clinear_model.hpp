// The continuous piecewise-linear model: no parameters, segments of at least 3 samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/clinear/clinear_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

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
  static constexpr std::string_view summary = "continuous piecewise-linear trend";
  static constexpr std::string_view use_when = "changes of slope in a continuous piecewise-linear trend";
  static constexpr bool describes_trend = true;
  static constexpr bool rewards_constant_runs = false;
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return CLinearCost::minimum_length; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  // A line through the previous sample needs two more points to leave a residual.
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 3; }
  // The joining line passes through single samples, so moving a cut to a
  // sample with little noise saves in proportion to the length of the
  // segments it anchors: on pure noise the penalty that keeps the whole grows
  // about like n (measured: 0.2 n sigma^2 at n = 100, 1.3 n sigma^2 at 600).
  // A floor of 0.5 n sigma^2 found the calibration series' slope changes best.
  PenaltyRule penalty_rule() const {
    return {.unit = NoiseUnit::marginal, .inflated = false, .gradual = false, .noise_floor_per_sample = 0.5};
  }
  // None: a split can raise the total by any amount (see CLinearCost).
  std::optional<double> split_bound(std::uint64_t) const noexcept { return std::nullopt; }
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("slope", d); }
  // Each feature's slope per sample: the joining line's, from the last
  // sample before the segment (its first sample at the start of the signal)
  // to its last sample.
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<CLinearCost> fit(const Signal& signal) const { return CLinearCost::fit(signal); }
};

}  // namespace tarnwell
