#include "search/l1_potts/l1_potts_programme.hpp"

#include <cmath>
#include <utility>

#include "core/strided_matrix.hpp"
#include "search/l1_potts/l1_potts_row.hpp"

namespace tarnwell {

// The row step stores a byte per double compare. Baseline x86-64 (SSE2) has
// no vector form of that narrowing, nor of the 64-bit integer compare of the
// row minimum, so GCC leaves those loops scalar there; the clones for SSE4.2
// and AVX2 machines are vectorised and chosen when the module loads. Every
// lane does the same IEEE operations as the scalar loop (no floating-point
// reduction, no contraction), so all clones give identical results.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNWELL_LEVEL_LOOPS __attribute__((target_clones("avx2", "arch=x86-64-v2", "default")))
#else
#define TARNWELL_LEVEL_LOOPS
#endif

TARNWELL_LEVEL_LOOPS
L1PottsProgress run_l1_potts_rows(const L1PottsProblem& problem, double*& prev, double*& cur, std::uint8_t* flags,
                                  std::uint32_t* best) noexcept {
  const std::size_t K = problem.K;
  const std::size_t lanes = padded_level_count(K);
  const TieRule tie_rule = problem.tie_rule;
  for (std::uint64_t i = 1; i < problem.n; ++i) {
    const double base = prev[best[i - 1]] + problem.pen;
    if (!is_finite_value(base)) return {i, true};
    if (!advance_row(prev, cur, problem.levels, lanes, problem.values[i], problem.weights[i], base, tie_rule)) {
      return {i, false};
    }
    store_parent_flags(prev, flags + i * K, K, base, tie_rule);
    best[i] = arg_min(cur, lanes, tie_rule);
    std::swap(prev, cur);
  }
  return {};
}

std::uint32_t l1_potts_arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept {
  return arg_min(row, K, tie_rule);
}

}  // namespace tarnwell
