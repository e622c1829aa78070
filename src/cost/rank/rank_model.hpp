// The rank model: no parameters, minimum segment length 2.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "cost/rank/rank_cost.hpp"

namespace tarnwell {

struct RankModel {
  using Fitted = RankCost;
  static constexpr std::string_view class_name = "CostRank";
  static constexpr std::string_view description = "";
  static constexpr std::array<std::string_view, 1> model_names{"rank"};
  static constexpr auto parameters = std::tuple{};
  static constexpr auto properties = std::tuple{};

  std::uint64_t min_segment_length() const noexcept { return 2; }
  Result<RankCost> fit(const Signal& signal) const { return RankCost::fit(signal); }
};

}  // namespace tarnwell
