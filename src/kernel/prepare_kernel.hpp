// Fitting a kernel: prepared rows, the resolved bandwidth, then the state of
// the chosen backend. Runs without the interpreter lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "core/signal.hpp"
#include "kernel/fused_state.hpp"
#include "kernel/gram_state.hpp"
#include "kernel/kernel_spec.hpp"
#include "kernel/prepared_rows.hpp"

namespace tarnwell {

using PreparedKernel = std::variant<std::shared_ptr<const KernelGramState>, std::shared_ptr<const FusedKernelState>>;

Result<PreparedKernel> prepare_kernel(const Signal& signal, const KernelSpec& kernel_choice, KernelBackend backend,
                                      std::uint64_t min_size, std::uint64_t jump, std::uint64_t max_gram_bytes);

// The backend's state from prepared rows and a resolved bandwidth (also how
// a saved kernel is rebuilt).
Result<PreparedKernel> build_prepared_kernel(PreparedRows rows, KernelFamily family, double gamma,
                                             KernelBackend backend, std::uint64_t min_size, std::uint64_t jump,
                                             std::uint64_t max_gram_bytes);

}  // namespace tarnwell
