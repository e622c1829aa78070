// KernelCPD's own dynamic programmes over a fused kernel state: they fold one
// row at a time into running within-segment sums and read every segment cost
// ending at the current row in O(1), so no Gram matrix is ever stored.
#pragma once

#include <cstdint>

#include "kernel/fused_state.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell {

// How the fixed-count programme updates its columns: four at a time with AVX2
// when n_bkps > 3 and the processor has it, or always one at a time (for
// comparisons; both give identical values, predecessors and ties).
enum class ColumnForm : std::uint8_t { automatic, scalar };

// Exactly n_bkps changes, minimal total cost.
Result<Segmentation> run_fused_fixed_count(const FusedKernelState& state, std::uint64_t n_bkps,
                                           ColumnForm form = ColumnForm::automatic);

// Minimal total cost plus pen per change, with pruning of dominated starts.
Result<Segmentation> run_fused_penalized(const FusedKernelState& state, double pen);

// Whether the processor runs the four-column form.
bool fused_vector_columns_available() noexcept;

}  // namespace tarnwell
