// The functional pruning Pelt can run for a cost, beside the inequality
// pruning every cost with a pruning constant gets. A cost offers one through
// an overload `pelt_functional_pruning(cost, pen, min_size, jump, tie_rule)`
// in the search's folder, built from what the cost exposes (its statistics
// and the margin its own round-off needs), returning an optional pruner
// (nothing where it does not apply) or a choice between pruners offering
// `visit(f)`, which calls f with the one that applies (the search picks it
// once, not per step). A pruner keeps `state_columns()` doubles per start,
// one array per column (a compile-time `fixed_state_columns` lets the search
// unroll its copies), and offers
//   sentinel(state), the values of the entry kept before a list's first;
//   admit(position, best, predecessor position, predecessor best, state),
//     writing a new start's values;
//   mark_dominated(size, bests, columns, new position, new best, flags),
//     setting the flag of every listed start to 1 when it can never again be
//     optimal (nor tie the optimum) at an end where the new start is usable,
//     to 0 otherwise;
//   endpoint_costs(columns, count, end, values) -> bool,
//     the cost's own endpoint batch for the first listed starts from their
//     state, a non-finite value where the cost must handle one itself (false
//     where the cost must compute the whole batch).
// A pruner may also offer a fused sweep (`sweep()`, non-null where the
// processor runs it, with a `SweepList` type and `sweep_search`): the
// passes then run the search's steps, settling and costing its starts in
// one pass per step instead of the separate passes above.
// The search detects the capability at compile time; costs without it are
// pruned by the inequality alone.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>

#include "core/tie_rule.hpp"
#include "cost/mahalanobis/mahalanobis_cost.hpp"
#include "search/pelt/l2_pruning/l2_functional_pruning.hpp"

namespace tarnwell {

template <class Pruner>
concept PeltFunctionalPruner = requires(const Pruner& pruner, std::span<double* const> columns, std::size_t size,
                                        std::uint64_t position, double best, const double* bests, double* values) {
  { pruner.state_columns() } -> std::same_as<std::size_t>;
  { pruner.sentinel(values) };
  { pruner.admit(position, best, position, best, values) };
  { pruner.mark_dominated(size, bests, columns, position, best, values) };
  { pruner.endpoint_costs(columns, size, position, values) } -> std::same_as<bool>;
};

template <class Cost>
concept OffersPeltFunctionalPruning = requires(const Cost& cost, double pen, std::uint64_t size, const TieRule& tie) {
  { *pelt_functional_pruning(cost, pen, size, size, tie) };
};

// The Mahalanobis cost with the identity metric is the squared-error cost
// and answers through its statistics: the same pruning applies.
inline std::optional<L2IntervalPruning> pelt_functional_pruning(const MahalanobisCost& cost, double pen,
                                                                std::uint64_t min_size, std::uint64_t jump,
                                                                const TieRule& tie) {
  if (cost.squared_error() == nullptr) return std::nullopt;
  return pelt_functional_pruning(*cost.squared_error(), pen, min_size, jump, tie);
}

static_assert(OffersPeltFunctionalPruning<L2Cost>);
static_assert(OffersPeltFunctionalPruning<MahalanobisCost>);
static_assert(PeltFunctionalPruner<L2IntervalPruning>);

}  // namespace tarnwell
