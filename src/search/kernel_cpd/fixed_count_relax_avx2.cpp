// The four-column form of the fixed-count relaxation. Everything this unit
// includes is included before the AVX2 target is switched on, so no shared
// inline function is compiled for AVX2 here; the loop itself is private to
// this unit and runs only after the processor check.
#include <cmath>
#include <cstdint>

#include "search/kernel_cpd/fixed_count_relax.hpp"
#include "search/kernel_cpd/fused_cost.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")
#include "search/kernel_cpd/fixed_count_relax_body.hpp"

namespace tarnwell {
namespace {

// Lane for lane the scalar rule: take h where h < V and V - h > tol, with the
// same IEEE comparisons (ordered, so NaN never takes) and the new tolerance
// h * 1e-12 + floor as a separate multiply and add, exactly as scalar code.
void relax_columns_avx2(const double* row_s, double* row_t, std::uint64_t* pred_t, double* tolerance,
                        std::uint64_t count, double cost, std::uint64_t start, double tie_floor) {
  const __m256d costs = _mm256_set1_pd(cost);
  const __m256d scale = _mm256_set1_pd(1e-12);
  const __m256d floor = _mm256_set1_pd(tie_floor);
  const __m256d starts = _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(start)));
  std::uint64_t k = 1;
  for (; k + 3 <= count; k += 4) {
    const __m256d h = _mm256_add_pd(_mm256_loadu_pd(row_s + k - 1), costs);
    const __m256d current = _mm256_loadu_pd(row_t + k);
    const __m256d allowance = _mm256_loadu_pd(tolerance + k);
    const __m256d below = _mm256_cmp_pd(h, current, _CMP_LT_OQ);
    const __m256d margin = _mm256_cmp_pd(_mm256_sub_pd(current, h), allowance, _CMP_GT_OQ);
    const __m256d take = _mm256_and_pd(below, margin);
    if (_mm256_movemask_pd(take) == 0) continue;
    _mm256_storeu_pd(row_t + k, _mm256_blendv_pd(current, h, take));
    const __m256d new_allowance = _mm256_add_pd(_mm256_mul_pd(h, scale), floor);
    _mm256_storeu_pd(tolerance + k, _mm256_blendv_pd(allowance, new_allowance, take));
    double* pred = reinterpret_cast<double*>(pred_t + k);
    _mm256_storeu_pd(pred, _mm256_blendv_pd(_mm256_loadu_pd(pred), starts, take));
  }
  relax_columns_scalar(row_s, row_t, pred_t, tolerance, k, count, cost, start, tie_floor);
}

}  // namespace

UnsettledCost relax_end_avx2(const FixedCountTables& tables, const FixedCountEnd& end, std::uint64_t from,
                             const double* settled) {
  return relax_end_with(tables, end, from, settled, relax_columns_avx2);
}

}  // namespace tarnwell
#pragma GCC pop_options

#else

namespace tarnwell {
// Never selected: cpu_has_avx2() is false off x86-64.
UnsettledCost relax_end_avx2(const FixedCountTables& tables, const FixedCountEnd& end, std::uint64_t from,
                             const double* settled) {
  return relax_end_scalar(tables, end, from, settled);
}
}  // namespace tarnwell

#endif
