// The shared Pelt and Dynp engines instantiated for the kernel Gram states,
// behind plain functions so that the binding layer compiles no engine.
#pragma once

#include <cstdint>

#include "kernel/gram_state.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

// The Dynp table limit of a kernel search; the Gram limit is separate.
inline constexpr std::uint64_t kernel_dynp_memory_limit = 536870912;

// Dynp engine: exactly n_bkps changes.
Result<Segmentation> search_gram_fixed_count(const KernelGramState& state, SearchParameters parameters,
                                             std::uint64_t n_bkps);
// Pelt engine, pruned with the constant 0.
Result<Segmentation> search_gram_penalized(const KernelGramState& state, SearchParameters parameters, double pen);

}  // namespace tarnwell
