// What the three greedy searches share around their own loops: the checks
// made before any cost is evaluated, and the construction of the result.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/tie_rule.hpp"
#include "cost/segment_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/segmentation_cost.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {

// In this order: the cost's minimum segment length, the rule's value, then a
// signal too short for even one segment (reported as that segment's length,
// not as an infeasible change count). Returns the rule with its tie tolerance
// scaled to the problem.
template <SegmentCost Cost>
Result<StoppingRule> check_greedy_start(const Cost& cost, const SearchParameters& parameters,
                                        const StoppingRule& rule) {
  const std::uint64_t minimum = cost.min_segment_length();
  if (parameters.min_size < minimum) return errors::fail(errors::min_size_below_cost(parameters.min_size, minimum));
  TARNWELL_CHECK(rule.check());
  const std::uint64_t n = cost.n_samples();
  if (n < parameters.min_size) return errors::fail(errors::segment_too_short(0, n, n, parameters.min_size));
  TARNWELL_TRY(per_sample, TieRule::typical_cost_per_sample(cost));
  return rule.calibrated(per_sample * static_cast<double>(n), n);
}

// Builds the validated result from the final breakpoints (increasing, last n).
// The cost is recomputed from the segments rather than taken from the running
// total, which has accumulated one rounding per step.
template <SegmentCost Cost>
Result<Segmentation> finish_greedy(const Cost& cost, const SearchParameters& parameters, const StoppingRule& rule,
                                   std::vector<std::uint64_t> breakpoints) {
  const std::uint64_t n = cost.n_samples();
  const std::uint64_t changes = breakpoints.empty() ? 0 : breakpoints.size() - 1;
  if (rule.kind() == StoppingRule::Kind::change_count && changes != rule.n_bkps()) {
    return errors::fail(errors::infeasible(n, rule.n_bkps(), parameters.min_size, parameters.jump));
  }
  TARNWELL_TRY(total, recompute_segmentation_cost(cost, breakpoints));
  const double objective = total + rule.penalty_term(changes);
  return make_segmentation(std::move(breakpoints), n, parameters.min_size, total, objective);
}

// Runs a search body whose containers grow as it goes; running out of memory
// there is reported as an allocation failure naming `context`.
template <class Body>
Result<Segmentation> with_allocation_context(std::string_view context, Body&& body) {
  Result<Segmentation> outcome = errors::fail(errors::allocation_failed(context));
  TARNWELL_CHECK(try_allocate(context, [&] { outcome = body(); }));
  return outcome;
}

}  // namespace tarnwell
