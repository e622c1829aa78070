// L1Potts's entry in the list of searches: exact, penalized, its own cost
// (weighted absolute deviations of a scalar signal from each segment's level).
#pragma once

#include <cstdint>
#include <string_view>

#include "cost/cost_descriptor.hpp"
#include "search/search_descriptor.hpp"

namespace tarnwell {

struct L1PottsSearch {
  static constexpr std::string_view class_name = "L1Potts";
  static constexpr SearchCapabilities capabilities{.penalized = true, .exact = true};

  // Its own cost's default penalty: one level per segment, absolute units.
  static PenaltyRule penalty_rule() { return {.unit = NoiseUnit::absolute}; }
  static std::uint64_t segment_parameters(std::uint64_t) noexcept { return 1; }
};

}  // namespace tarnwell
