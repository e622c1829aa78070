// KernelCPD's own dynamic programmes over a fused kernel state: they fold one
// row at a time into running within-segment sums and read every segment cost
// ending at the current row in O(1), so no Gram matrix is ever stored.
#pragma once

#include <cstdint>

#include "kernel/fused_state.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

// Exactly n_bkps changes, minimal total cost.
Result<Segmentation> run_fused_fixed_count(const FusedKernelState& state, std::uint64_t n_bkps);

// Minimal total cost plus pen per change, with pruning of dominated starts.
Result<Segmentation> run_fused_penalized(const FusedKernelState& state, double pen);

// Whether the fixed-count programme updates four columns at a time. Set
// TARNWELL_KERNEL_SCALAR=1 before the first prediction to force the scalar
// form (read once per process; used to compare the two forms).
bool fused_vector_columns_available() noexcept;

}  // namespace tarnwell
