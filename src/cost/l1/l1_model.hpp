// The absolute-deviation model: no parameters, minimum segment length 2.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/l1/l1_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

namespace tarnwell {

struct L1Model {
  using Fitted = L1Cost;
  static constexpr std::string_view class_name = "CostL1";
  static constexpr std::string_view description =
      "Absolute-deviation segment cost: the sum over features of the absolute deviations from the segment's "
      "median.\n\n"
      "Robust to outliers and heavy tails; costs scale with the signal (not its square). Fitting keeps an owned "
      "copy of the signal and, per feature, an index that gives any segment's cost in O(log n) (about "
      "10.5 * log2(n) - 4 bytes per sample and feature, the signal's copy included); every cost is the correctly rounded sum.";
  static constexpr std::array<std::string_view, 1> model_names{"l1"};
  static constexpr CostScale scale = CostScale::absolute;
  static constexpr std::string_view summary = "changes in median, robust to outliers";
  static constexpr std::string_view use_when = "changes in median when the noise has outliers or heavy tails";
  static constexpr bool describes_trend = false;
  static constexpr bool rewards_constant_runs = false;
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2; }
  PenaltyRule penalty_rule() const { return {.unit = NoiseUnit::absolute}; }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("median", d); }
  // Each feature's median (the midpoint of the two middle values for an
  // even length: every point between them fits equally well).
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<L1Cost> fit(const Signal& signal) const { return L1Cost::fit(signal); }
  Result<L1Cost> fit(const StridedMatrix& view) const { return L1Cost::fit(view); }
};

}  // namespace tarnwell
