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
// pruning for Pelt, `pelt_functional_pruning(pen, min_size, jump, tie_rule)` returning an optional
// pruner (nothing where it does not apply). The pruner keeps a
// `Candidate` state per start and offers
//   admit(position, best, predecessor position, predecessor best) -> Candidate
//   dominated_by(candidate, position, best, new position, new best,
//                earlier candidate, its position, its best) -> bool,
// true once the start can never again be optimal (nor tie the optimum) at an
// end where the new start is usable; the earlier start is one more it may be
// compared with (its own position for none). The search detects the capability at
// compile time; costs without it are pruned by the inequality alone.
template <class Cost>
concept OffersPeltFunctionalPruning = requires(const Cost& cost, double pen, std::uint64_t size, const TieRule& tie) {
  { *cost.pelt_functional_pruning(pen, size, size, tie) };
  requires requires(std::remove_cvref_t<decltype(*cost.pelt_functional_pruning(pen, size, size, tie))> pruner,
                    typename std::remove_cvref_t<decltype(*cost.pelt_functional_pruning(pen, size, size, tie))>::Candidate state,
                    std::uint64_t position, double best) {
    { pruner.admit(position, best, position, best) } -> std::same_as<decltype(state)>;
    { pruner.dominated_by(state, position, best, position, best, state, position, best) } -> std::same_as<bool>;
  };
};

}  // namespace tarnwell

