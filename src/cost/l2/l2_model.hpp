// The squared-error model: no parameters, any segment length has a cost.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/l2/l2_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

namespace tarnwell {

struct L2Model {
  using Fitted = L2Cost;
  static constexpr std::string_view class_name = "CostL2";
  static constexpr std::string_view description =
      "Squared-error segment cost fitted from a one- or two-dimensional float64 NumPy array.\n\n"
      "Fitting retains only owned prefix statistics; it does not retain the input array.";
  static constexpr std::array<std::string_view, 1> model_names{"l2"};
  static constexpr CostScale scale = CostScale::squared;
  static constexpr std::string_view summary = "changes in mean";
  static constexpr std::string_view use_when = "changes in mean with roughly Gaussian noise; the fastest";
  static constexpr bool describes_trend = false;
  static constexpr bool rewards_constant_runs = false;
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return 1; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  // One sample is an outlier, not a segment.
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2; }
  PenaltyRule penalty_rule() const { return {.unit = NoiseUnit::squared}; }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("mean", d); }
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const {
    return fit_segment_means(signal, breakpoints, out);
  }
  Result<L2Cost> fit(const Signal& signal) const { return L2Cost::fit(signal); }
  // Straight from the caller's array in any layout, without a copy.
  Result<L2Cost> fit(const StridedMatrix& view) const { return L2Cost::fit(view); }
};

}  // namespace tarnwell
