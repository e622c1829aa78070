#include "search/l1_potts/l1_potts_programme.hpp"

#include <cfloat>
#include <cmath>
#include <utility>

#include "core/strided_matrix.hpp"
#include "core/vector_paths.hpp"
#include "search/l1_potts/l1_potts_row.hpp"
#include "search/l1_potts/l1_potts_rows_avx2.hpp"

namespace tarnwell {
namespace {

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

// The portable rows, checking every value: they also serve the rare problems
// whose values might overflow, and report the first that does.
TARNWELL_LEVEL_LOOPS
L1PottsProgress run_checked_rows(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last,
                                 double*& prev, double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept {
  const std::size_t K = problem.K;
  const std::size_t lanes = padded_level_count(K);
  const TieRule tie_rule = problem.tie_rule;
  for (std::uint64_t i = first; i < last; ++i) {
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

}  // namespace

L1PottsProgress run_l1_potts_rows(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last,
                                  double*& prev, double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept {
  const bool vectorised = problem.values_stay_finite && l1_potts_avx2_rows_available() && !portable_paths_forced();
  record_vector_path(VectorPath::l1_potts_rows, vectorised);
  if (vectorised) {
    run_l1_potts_rows_avx2(problem, first, last, prev, cur, flags, best);
    return {};
  }
  return run_checked_rows(problem, first, last, prev, cur, flags, best);
}

bool l1_potts_values_stay_finite(std::uint64_t n, double largest_deviation, double pen,
                                 const TieRule& tie_rule) noexcept {
  constexpr std::uint64_t longest = 100'000'000'000;
  if (n > longest) return false;
  const double growth = largest_deviation + pen + 3.0 * tie_rule.absolute();
  // Four times the bound leaves room for the roundings of this estimate.
  const double bound = 4.0 * static_cast<double>(n) * growth;
  return is_finite_value(growth) && bound <= DBL_MAX;
}

std::uint32_t l1_potts_arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept {
  return arg_min(row, K, tie_rule);
}

}  // namespace tarnwell
