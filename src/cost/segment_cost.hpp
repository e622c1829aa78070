// The interface through which every search reaches a cost. Searches are
// templates over a type satisfying SegmentCost, instantiated per concrete cost
// so that the cost arithmetic inlines into their loops.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "cost/endpoint_batch.hpp"
#include "python/error/error_kind.hpp"
#include "search/common/tie_rule.hpp"

namespace tarnwell {

template <class Cost>
concept SegmentCost = requires(const Cost& cost, std::uint64_t start, std::uint64_t end,
                               std::span<const std::uint64_t> starts, EndpointBatch& out) {
  { cost.n_samples() } -> std::same_as<std::uint64_t>;
  { cost.min_segment_length() } -> std::same_as<std::uint64_t>;
  { cost.segment_cost(start, end) } -> std::same_as<Result<double>>;
  { cost.endpoint_costs(starts, end, out) } -> std::same_as<Status>;
  // Pelt's pruning constant, or nothing when pruning is not valid for the cost.
  { cost.pelt_pruning_constant() } -> std::same_as<std::optional<double>>;
};

}  // namespace tarnwell

namespace tarnwell {

// Optional capability of a cost with a pruning constant: a functional
// pruning for Pelt, `pelt_functional_pruning(pen, min_size, jump, tie_rule)`
// returning an optional pruner (nothing where it does not apply). The pruner
// keeps `state_columns()` doubles per start, one array per column, and offers
//   sentinel(state), the values of the entry kept before a list's first;
//   admit(position, best, predecessor position, predecessor best, state),
//     writing a new start's values;
//   mark_dominated(size, bests, columns, new position, new best, flags),
//     setting to 1 the flag of every listed start that can never again be
//     optimal (nor tie the optimum) at an end where the new start is usable;
//   endpoint_costs(columns, count, end, values) -> bool,
//     the cost's own endpoint batch for the first listed starts from their
//     state (false where the cost must compute it).
// The search detects the capability at compile time; costs without it are
// pruned by the inequality alone.
template <class Cost>
concept OffersPeltFunctionalPruning = requires(const Cost& cost, double pen, std::uint64_t size, const TieRule& tie) {
  { *cost.pelt_functional_pruning(pen, size, size, tie) };
  requires requires(std::remove_cvref_t<decltype(*cost.pelt_functional_pruning(pen, size, size, tie))> pruner,
                    std::span<double* const> columns, std::uint64_t position, double best, const double* bests,
                    double* values) {
    { pruner.state_columns() } -> std::same_as<std::size_t>;
    { pruner.sentinel(values) };
    { pruner.admit(position, best, position, best, values) };
    { pruner.mark_dominated(size, bests, columns, position, best, values) };
    { pruner.endpoint_costs(columns, size, position, values) } -> std::same_as<bool>;
  };
};

}  // namespace tarnwell

