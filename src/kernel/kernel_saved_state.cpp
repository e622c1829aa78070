#include "kernel/kernel_saved_state.hpp"

#include <utility>

namespace tarnwell {
namespace {

void save_fields(StateWriter& out, KernelBackend backend, KernelFamily family, std::uint64_t n, std::uint64_t width,
                 double gamma, std::span<const double> rows) {
  out.put(static_cast<std::uint64_t>(backend));
  out.put(static_cast<std::uint64_t>(family));
  out.put(gamma);
  out.put(n);
  out.put(width);
  out.put(rows);
}

}  // namespace

void save_prepared_kernel(const PreparedKernel& kernel, StateWriter& out) {
  if (const auto* gram = std::get_if<std::shared_ptr<const KernelGramState>>(&kernel)) {
    const KernelGramState& state = **gram;
    save_fields(out, state.backend(), state.family(), state.n_samples(), state.width(), state.gamma().value_or(1.0),
                state.rows());
    return;
  }
  const FusedKernelState& state = *std::get<std::shared_ptr<const FusedKernelState>>(kernel);
  save_fields(out, KernelBackend::fused, state.family, state.n, state.width, state.gamma, state.rows);
}

Result<PreparedKernel> restore_prepared_kernel(StateReader& in, KernelBackend backend, KernelFamily family,
                                               std::uint64_t min_size, std::uint64_t jump,
                                               std::uint64_t max_gram_bytes) {
  std::uint64_t saved_backend = 0;
  std::uint64_t saved_family = 0;
  TARNWELL_CHECK(in.get(saved_backend));
  TARNWELL_CHECK(in.get(saved_family));
  if (saved_backend != static_cast<std::uint64_t>(backend)) {
    return errors::fail(in.invalid("it was fitted with another backend"));
  }
  if (saved_family != static_cast<std::uint64_t>(family)) {
    return errors::fail(in.invalid("it was fitted with another kernel"));
  }
  PreparedRows rows;
  double gamma = 0.0;
  TARNWELL_CHECK(in.get(gamma));
  if (!(gamma > 0.0)) return errors::fail(in.invalid("the bandwidth is not positive"));
  TARNWELL_CHECK(in.get_count(rows.n, "the sample count"));
  TARNWELL_CHECK(in.get_count(rows.width, "the row width"));
  TARNWELL_TRY(size, in.product(rows.n, rows.width));
  TARNWELL_CHECK(in.get(rows.values, size, "the prepared rows"));
  return build_prepared_kernel(std::move(rows), family, gamma, backend, min_size, jump, max_gram_bytes);
}

}  // namespace tarnwell
