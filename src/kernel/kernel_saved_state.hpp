// The saved form of a fitted kernel (pickling): the backend, the kernel
// family, the resolved bandwidth and the prepared rows. Restoring rebuilds the
// backend's state from the rows, exactly as fitting did after preparing them,
// so no Gram table is ever carried and no bandwidth is estimated again.
#pragma once

#include <cstdint>

#include "core/saved_state.hpp"
#include "kernel/prepare_kernel.hpp"

namespace tarnwell {

void save_prepared_kernel(const PreparedKernel& kernel, StateWriter& out);

// Fails unless the saved backend and family are the expected ones; min_size,
// jump and the Gram memory limit are the searching object's own.
Result<PreparedKernel> restore_prepared_kernel(StateReader& in, KernelBackend backend, KernelFamily family,
                                               std::uint64_t min_size, std::uint64_t jump,
                                               std::uint64_t max_gram_bytes);

}  // namespace tarnwell
