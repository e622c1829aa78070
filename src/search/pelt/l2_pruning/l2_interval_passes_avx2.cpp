// The AVX2 form of the interval pruning passes. Everything this unit includes
// is included before the target is switched on, so no shared inline function
// is compiled for AVX2 here; the passes run only after the processor check.
#include <cmath>
#include <cstddef>
#include <limits>

#include "search/pelt/l2_pruning/l2_interval_passes.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#pragma GCC push_options
#pragma GCC target("avx2")
#include "search/pelt/l2_pruning/l2_interval_passes_body.hpp"
#pragma GCC pop_options

namespace tarnwell {

const L2IntervalPasses* l2_interval_passes_avx2() noexcept {
  static constexpr L2IntervalPasses passes{costs_span, mark_span};
  return __builtin_cpu_supports("avx2") ? &passes : nullptr;
}

}  // namespace tarnwell
#else
namespace tarnwell {

const L2IntervalPasses* l2_interval_passes_avx2() noexcept { return nullptr; }

}  // namespace tarnwell
#endif
