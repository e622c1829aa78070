// The rank model: no parameters, minimum segment length 2.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "cost/rank/rank_cost.hpp"
#include "cost/cost_descriptor.hpp"

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
  static constexpr std::string_view use_when = "changes in distribution whatever the scale, units or outliers";
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t d) const noexcept { return d; }
  Result<RankCost> fit(const Signal& signal) const { return RankCost::fit(signal); }
};

}  // namespace tarnwell
