#include "kernel/prepare_kernel.hpp"

#include <utility>

#include "kernel/bandwidth.hpp"
#include "kernel/prepared_rows.hpp"
#include "core/tie_rule.hpp"

namespace tarnwell {

Result<PreparedKernel> prepare_kernel(const Signal& signal, const KernelSpec& kernel_choice, KernelBackend backend,
                                      std::uint64_t min_size, std::uint64_t jump, std::uint64_t max_gram_bytes) {
  const KernelFamily family = family_of(kernel_choice);
  TARNWELL_TRY(rows, prepare_rows(signal, family));
  double gamma = 1.0;
  if (family == KernelFamily::rbf) {
    TARNWELL_TRY(resolved, resolve_gamma(signal, kernel_choice));
    gamma = resolved;
  }
  return build_prepared_kernel(std::move(rows), family, gamma, backend, min_size, jump, max_gram_bytes);
}

Result<PreparedKernel> build_prepared_kernel(PreparedRows rows, KernelFamily family, double gamma,
                                             KernelBackend backend, std::uint64_t min_size, std::uint64_t jump,
                                             std::uint64_t max_gram_bytes) {
  switch (backend) {
    case KernelBackend::full: {
      TARNWELL_TRY(state, KernelGramState::build_full(std::move(rows), family, gamma, max_gram_bytes));
      return PreparedKernel(std::move(state));
    }
    case KernelBackend::streaming: {
      TARNWELL_TRY(state, KernelGramState::build_streaming(std::move(rows), family, gamma));
      return PreparedKernel(std::move(state));
    }
    case KernelBackend::fused:
      break;
  }
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  auto state = std::make_shared<FusedKernelState>();
  state->family = family;
  state->n = rows.n;
  state->width = rows.width;
  state->rows = std::move(rows.values);
  state->gamma = gamma;
  state->min_size = min_size;
  state->jump = jump;
  state->tie_floor = TieRule::relative * mean_kernel_diagonal(state->rows, state->n, state->width, family);
  return PreparedKernel(std::shared_ptr<const FusedKernelState>(std::move(state)));
}

}  // namespace tarnwell
