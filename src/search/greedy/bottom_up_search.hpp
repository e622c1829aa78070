// BottomUp's entry in the list of searches; its class is generated from it.
#pragma once

#include <string_view>

#include "cost/fitted_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/greedy/bottom_up_engine.hpp"
#include "search/greedy/greedy_capabilities.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {

struct BottomUpSearch {
  static constexpr std::string_view class_name = "BottomUp";
  static constexpr SearchCapabilities capabilities = greedy_capabilities;
  static constexpr std::string_view description =
      "Bottom-up segmentation: a greedy search that cuts the signal into short grid-aligned pieces, then "
      "repeatedly merges the adjacent pair whose merge raises the total cost least. Approximate and fast; "
      "starting from a fine split, it keeps short segments that a top-down search can miss.";
  static constexpr std::string_view predict_description =
      "The breakpoints left when merging stops: when n_bkps changes remain, when every remaining merge would "
      "raise the cost by more than pen, or before the total cost would exceed epsilon.";

  // Every built-in cost (greedy_builtin.cpp).
  static Result<Segmentation> run(const FittedCost& cost, const SearchParameters& parameters,
                                  const StoppingRule& rule);
  template <SegmentCost Cost>
  static Result<Segmentation> run(const Cost& cost, const SearchParameters& parameters, const StoppingRule& rule) {
    return run_bottom_up(cost, parameters, rule);
  }
};

}  // namespace tarnwell
