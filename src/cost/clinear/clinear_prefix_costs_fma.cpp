// The fused multiply-add form of the continuous-linear endpoint batch.
// Everything this unit includes is included before the target is switched
// on, so no shared inline function is compiled for it here; the batch runs
// only after the processor check.
#include <cmath>
#include <cstddef>
#include <limits>

#include "cost/clinear/clinear_prefix_costs.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#pragma GCC push_options
#pragma GCC target("fma")
#include "cost/clinear/clinear_prefix_body.hpp"

namespace tarnwell {
namespace {

void fused_prefix_costs(const CLinearTables& tables, std::span<const std::uint64_t> starts, std::uint64_t end,
                        double* out) noexcept {
  prefix_costs<ProductForm::fused>(tables, starts, end, out);
}

}  // namespace
}  // namespace tarnwell
#pragma GCC pop_options

namespace tarnwell {

CLinearPrefixBatch clinear_prefix_costs_fused() noexcept {
  return __builtin_cpu_supports("fma") ? &fused_prefix_costs : nullptr;
}

}  // namespace tarnwell
#else
namespace tarnwell {

CLinearPrefixBatch clinear_prefix_costs_fused() noexcept { return nullptr; }

}  // namespace tarnwell
#endif
