// The rank model: no parameters, minimum segment length 2.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>
#include <tuple>

#include "cost/rank/rank_cost.hpp"
#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"

namespace tarnwell {

struct RankModel {
  using Fitted = RankCost;
  static constexpr std::string_view class_name = "CostRank";
  static constexpr std::string_view description =
      "Rank-based segment cost: every feature is replaced by its centred ranks over the whole signal; a segment "
      "of length len with mean rank vector m costs -len * m^T P m, P the pseudo-inverse of the rank covariance.\n\n"
      "Nonparametric: costs are never positive and do not change under a strictly increasing transform of any "
      "feature, so changes in distribution are found whatever the scale or outliers.";
  static constexpr std::array<std::string_view, 1> model_names{"rank"};
  static constexpr CostScale scale = CostScale::likelihood;
  static constexpr std::string_view summary = "changes in distribution, through ranks";
  static constexpr std::string_view use_when = "changes in distribution whatever the scale, units or outliers";
  static constexpr bool describes_trend = false;
  static constexpr bool rewards_constant_runs = false;
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2; }
  // Ranks bound the pull of extreme values, so the excursions are measured on them.
  PenaltyRule penalty_rule() const { return {.unit = NoiseUnit::ranks}; }
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 0.0; }
  std::vector<std::string> parameter_names(std::uint64_t d) const { return feature_names("mean_rank", d); }
  // Each feature's mean centred rank (ranks over the whole signal, ties
  // averaged, centred on (n + 1) / 2).
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const;
  Result<RankCost> fit(const Signal& signal) const { return RankCost::fit(signal); }
};

}  // namespace tarnwell
