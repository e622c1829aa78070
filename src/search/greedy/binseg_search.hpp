// Binseg's entry in the list of searches; its class is generated from it.
#pragma once

#include <string_view>

#include "cost/fitted_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/greedy/binseg_engine.hpp"
#include "search/greedy/greedy_capabilities.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {

struct BinsegSearch {
  static constexpr std::string_view class_name = "Binseg";
  static constexpr SearchCapabilities capabilities = greedy_capabilities;
  static constexpr std::string_view description =
      "Binary segmentation: a greedy search that starts from the whole signal and repeatedly splits the segment "
      "whose best split lowers the total cost most. Approximate (a split, once made, is never moved) and fast, "
      "about n_samples * log(n_samples) cost evaluations: use it for long signals, or for a quick first look "
      "before an exact search.";
  static constexpr std::string_view predict_description =
      "The breakpoints found by splitting until the stopping rule refuses the best remaining split.";

  // Every built-in cost (greedy_builtin.cpp).
  static Result<Segmentation> run(const FittedCost& cost, const SearchParameters& parameters,
                                  const StoppingRule& rule);
  template <SegmentCost Cost>
  static Result<Segmentation> run(const Cost& cost, const SearchParameters& parameters, const StoppingRule& rule) {
    return run_binseg(cost, parameters, rule);
  }
};

}  // namespace tarnwell
