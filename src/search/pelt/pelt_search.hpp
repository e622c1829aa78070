// Pelt's entry in the list of searches: exact, penalized, over any cost model or a custom cost.
#pragma once

#include <string_view>

#include "search/search_descriptor.hpp"

namespace tarnwell {

struct PeltSearch {
  static constexpr std::string_view class_name = "Pelt";
  static constexpr SearchCapabilities capabilities{
      .penalized = true, .exact = true, .custom_cost = true, .model = true};
};

}  // namespace tarnwell
