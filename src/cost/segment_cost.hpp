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
#include "core/error/error_kind.hpp"

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
