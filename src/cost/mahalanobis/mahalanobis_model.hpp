// The Mahalanobis model: a caller's metric (the class's required `metric`), or
// none for the search models "mahalanobis" and "ml", which use the identity.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>
#include <string>
#include <string_view>
#include <tuple>

#include "core/dense_matrix.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"
#include "cost/mahalanobis/mahalanobis_cost.hpp"

namespace tarnwell {

struct MahalanobisModel {
  using Fitted = MahalanobisCost;
  static constexpr std::string_view class_name = "CostMahalanobis";
  static constexpr std::string_view alias_class_name = "CostMl";
  static constexpr std::string_view description =
      "Mahalanobis segment cost: the sum of squared deviations from the segment mean in the metric\n"
      "given as a square float64 NumPy array, checked at fit (finite, symmetric, positive semidefinite).";
  static constexpr std::array<std::string_view, 2> model_names{"mahalanobis", "ml"};
  static constexpr CostScale scale = CostScale::squared;
  static constexpr std::string_view summary = "changes in mean in a metric, the identity for the names";
  static constexpr std::string_view use_when = "changes in mean measured in a metric of your own";
  static constexpr bool describes_trend = false;
  static constexpr bool rewards_constant_runs = false;

  std::optional<DenseMatrix> metric;

  std::uint64_t metric_dimension() const noexcept { return metric ? metric->rows : 0; }

  static constexpr auto parameters =
      std::tuple{ModelParameter<MahalanobisModel, std::optional<DenseMatrix>>{"metric", &MahalanobisModel::metric, ""}};
  static constexpr auto properties =
      std::tuple{ModelProperty{"metric_dimension", &MahalanobisModel::metric_dimension,
                            "The size d of the d x d metric: the number of features a fitted signal must have."}};

  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2; }
  // The squared deviations weigh feature f by the metric's diagonal entry.
  PenaltyRule penalty_rule() const {
    PenaltyRule rule{.unit = NoiseUnit::squared};
    if (metric && metric->rows == metric->columns) {
      for (std::uint64_t f = 0; f < metric->rows; ++f) {
        rule.feature_weights.push_back(metric->values[f * metric->columns + f]);
      }
    }
    return rule;
  }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("mean", d); }
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const {
    return fit_segment_means(signal, breakpoints, out);
  }
  Result<MahalanobisCost> fit(const Signal& signal) const { return MahalanobisCost::fit(signal, metric); }
  std::string repr(const MahalanobisCost*) const {
    return "CostMahalanobis(metric_dimension=" + std::to_string(metric_dimension()) + ")";
  }
};

}  // namespace tarnwell
