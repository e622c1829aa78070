// How a pruned Pelt step settles its entry from the values of the starts it
// evaluated: the smallest wins outright when the runner-up is well outside
// the tie tolerance, otherwise the starts are offered one by one in list
// order, as the exhaustive search offers them.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/error/error_kind.hpp"
#include "search/pelt/pelt_tables.hpp"

namespace tarnwell::pelt_detail {

// The smallest and second smallest candidate value of one step, and whether
// every value was finite.
struct StepSelection {
  double lowest;
  double runner_up;
  std::size_t lowest_at;
  bool all_finite;
};

// Without branches on the values, which come in no predictable order.
inline StepSelection select_lowest(const double* __restrict costs, const double* __restrict best, std::size_t count,
                                   double pen) noexcept {
  double lowest = std::numeric_limits<double>::infinity();
  double runner_up = lowest;
  std::size_t lowest_at = 0;
  // Stays 0 while every value is finite (infinity or NaN times 0 is NaN).
  double non_finite = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = (costs[i] + best[i]) + pen;
    non_finite += value * 0.0;
    const bool lower = value < lowest;
    runner_up = lower ? lowest : (value < runner_up ? value : runner_up);
    lowest_at = lower ? i : lowest_at;
    lowest = lower ? value : lowest;
  }
  return {lowest, runner_up, lowest_at, non_finite == 0.0};
}

// Entry j of a pruned run: the smallest candidate value wins. When the
// runner-up is well outside the tie tolerance of the smallest, offering the
// candidates one by one would end with the smallest as well, whatever came
// before it; only near-ties and non-finite values need the sequential offers
// with their path comparison.
inline Status choose_pruned_optimum(PeltTables& tables, const std::uint64_t* index, const double* best,
                                    const double* costs, std::size_t count, std::size_t j, double pen,
                                    const StepSelection& selection) {
  if (count == 0) return {};
  if (selection.all_finite &&
      (std::isinf(selection.runner_up) || tables.tie_rule().well_separated(selection.runner_up, selection.lowest))) {
    const std::uint64_t winner = index[selection.lowest_at];
    tables.take(j, winner, tables.candidate(winner, costs[selection.lowest_at], pen));
    return {};
  }
  (void)best;  // the tables hold the same optima, with their low parts
  for (std::size_t i = 0; i < count; ++i) {
    TARNWELL_CHECK(tables.offer(j, index[i], tables.candidate(index[i], costs[i], pen)));
  }
  return {};
}

}  // namespace tarnwell::pelt_detail
