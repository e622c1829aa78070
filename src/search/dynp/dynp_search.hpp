// Dynp's entry in the list of searches: exact, a fixed number of changes,
// over any cost model or a custom cost.
#pragma once

#include <string_view>

#include "search/search_descriptor.hpp"

namespace tarnwell {

struct DynpSearch {
  static constexpr std::string_view class_name = "Dynp";
  static constexpr SearchCapabilities capabilities{
      .fixed_count = true, .exact = true, .custom_cost = true, .model = true};
};

}  // namespace tarnwell
