// What the greedy searches share in the list of searches: the three stopping
// rules of the greedy frame, any cost model or a custom cost, approximate.
#pragma once

#include "search/search_descriptor.hpp"

namespace tarnwell {

inline constexpr SearchCapabilities greedy_capabilities{
    .penalized = true, .fixed_count = true, .threshold = true, .exact = false, .custom_cost = true, .model = true};

}  // namespace tarnwell
