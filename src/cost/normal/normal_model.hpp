// The Gaussian model with its ridge (1e-6 for the search model "normal").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "core/strided_matrix.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"
#include "cost/normal/normal_cost.hpp"
#include "core/error/message.hpp"

namespace tarnwell {

struct NormalModel {
  using Fitted = NormalCost;
  static constexpr std::string_view class_name = "CostNormal";
  static constexpr std::string_view description =
      "Gaussian segment cost: the segment length times the log-determinant of the segment's sample\n"
      "covariance plus ridge times the identity. Costs can be negative.\n\n"
      "The searches over the model \"normal\" consider only segments of at least n_features + 1 samples\n"
      "(shorter ones have a singular covariance), whatever their min_size.";
  static constexpr std::array<std::string_view, 1> model_names{"normal"};
  static constexpr CostScale scale = CostScale::likelihood;
  static constexpr std::string_view summary = "changes in mean and covariance";
  static constexpr std::string_view use_when = "changes in mean or in spread (variance, covariance)";
  static constexpr bool describes_trend = false;
  // The log-determinant of a run of equal values is bounded only by the
  // ridge, so a search isolates such runs whatever the penalty.
  static constexpr bool rewards_constant_runs = true;

  double ridge = 1.0e-6;

  static constexpr auto parameters = std::tuple{ModelParameter<NormalModel, double>{"ridge", &NormalModel::ridge, "1.0e-6"}};
  static constexpr auto properties = std::tuple{ModelProperty{
      "ridge", &NormalModel::ridge,
      "The ridge added to every segment covariance (finite and positive): it keeps the log-determinant finite for "
      "constant or collinear segments; larger values make the cost less sensitive to changes in spread."}};

  // Positive subnormal ridges are accepted.
  Status check() const {
    if (!is_finite_value(ridge) || !(ridge > 0.0)) return errors::fail(errors::invalid_ridge(ridge));
    return {};
  }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d + d * (d + 1) / 2; }
  // A covariance estimate is singular below d + 1 samples.
  std::uint64_t default_min_size(std::uint64_t d) const noexcept { return d + 2; }
  PenaltyRule penalty_rule() const { return {.unit = NoiseUnit::likelihood}; }
  std::optional<double> split_bound(std::uint64_t d) const noexcept { return NormalCost::split_bound(d); }
  // The means, then the covariance's upper triangle row by row.
  std::vector<std::string> parameter_names(std::uint64_t d) const;
  // The covariance is the one the cost takes the log-determinant of: divisor
  // length - 1, the ridge added to its diagonal.
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<NormalCost> fit(const Signal& signal) const {
    TARNWELL_CHECK(check());
    return NormalCost::fit(signal, ridge);
  }
  std::string repr(const NormalCost*) const { return "CostNormal(ridge=" + format_repr_float(ridge) + ")"; }
};

}  // namespace tarnwell
