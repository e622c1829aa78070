#include "search/l1_potts/l1_potts_rows_avx2.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#include "search/l1_potts/l1_potts_row.hpp"

#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWELL_HAS_AVX2_ROWS 1
#include <immintrin.h>
#else
#define TARNWELL_HAS_AVX2_ROWS 0
#endif

namespace tarnwell {

#if TARNWELL_HAS_AVX2_ROWS
namespace {

#define TARNWELL_AVX2 __attribute__((target("avx2")))

// The four flag bytes of a compare mask (lanes of all ones or all zeros):
// the byte mask has 8 bits per lane, and bit 8 j, the lowest of lane j,
// becomes byte j of the result.
TARNWELL_AVX2 inline std::uint32_t flag_bytes(__m256d starts) noexcept {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_castpd_si256(starts))) & 0x01010101u;
}

// Of values none of which is NaN: the smallest.
TARNWELL_AVX2 inline double horizontal_min(__m256d v) noexcept {
  const __m128d halves = _mm_min_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1));
  return _mm_cvtsd_f64(_mm_min_sd(halves, _mm_unpackhi_pd(halves, halves)));
}

}  // namespace

bool l1_potts_avx2_rows_available() noexcept {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

// Row values are finite and >= 0 (or -0.0), base finite and > 0, so
//  - the keep rule "not clearly above" needs the tolerance of (p, base) only
//    when p > base, where it is relative * p + absolute; when p <= base both
//    tolerances are >= 0 >= p - base, so testing p - base against
//    relative * p + absolute decides every level exactly as the scalar rule;
//  - rows held in registers compute (start ? base : p) + deviation as
//    start ? base + deviation : p + deviation, the same sums: one more
//    addition, but only it and the select wait for base, which waits for the
//    previous row's minimum; short rows are bound by that chain, long ones by
//    the number of operations;
//  - min_pd is the exact minimum (it may return +0.0 for -0.0, which changes
//    neither the band test nor base, as -0.0 + pen == +0.0 + pen);
//  - the arg-min's fast path is the first index of the minimum, found with a
//    running minimum of lane indices (held as doubles, exact below 2^53).
namespace {

TARNWELL_AVX2
void rows_in_memory(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last, double*& prev,
                    double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept {
  const std::size_t K = problem.K;
  const std::size_t lanes = padded_level_count(K);
  const TieRule tie_rule = problem.tie_rule;
  const double* levels = problem.levels;
  const __m256d relative = _mm256_set1_pd(TieRule::relative);
  const __m256d absolute = _mm256_set1_pd(tie_rule.absolute());
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(std::numeric_limits<std::int64_t>::max()));
  const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256d first_lanes = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
  const __m256d lane_step = _mm256_set1_pd(static_cast<double>(level_block));
  double* before = prev;
  double* row = cur;
  double base = before[best[first - 1]] + problem.pen;
  for (std::uint64_t i = first; i < last; ++i) {
    const __m256d start_value = _mm256_set1_pd(base);
    const __m256d y = _mm256_set1_pd(problem.values[i]);
    const __m256d w = _mm256_set1_pd(problem.weights[i]);
    std::uint8_t* row_flags = flags + i * K;
    __m256d smallest = infinity;
    for (std::size_t k = 0; k < lanes; k += level_block) {
      const __m256d p = _mm256_loadu_pd(before + k);
      const __m256d tolerance = _mm256_add_pd(_mm256_mul_pd(relative, p), absolute);
      const __m256d starts = _mm256_cmp_pd(_mm256_sub_pd(p, start_value), tolerance, _CMP_GT_OQ);
      const __m256d kept = _mm256_blendv_pd(p, start_value, starts);
      const __m256d deviation =
          _mm256_mul_pd(w, _mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(levels + k), y), magnitude));
      const __m256d value = _mm256_add_pd(kept, deviation);
      _mm256_storeu_pd(row + k, value);
      smallest = _mm256_min_pd(smallest, value);
      const std::uint32_t bytes = flag_bytes(starts);
      std::memcpy(row_flags + k, &bytes, sizeof bytes);
    }
    const double minimum = horizontal_min(smallest);
    const __m256d low = _mm256_set1_pd(minimum);
    const __m256d reach = _mm256_set1_pd(minimum + tie_rule.decision_band(minimum));
    __m256d near_ties = _mm256_setzero_pd();
    __m256d first_index = infinity;
    __m256d index = first_lanes;
    for (std::size_t k = 0; k < lanes; k += level_block) {
      const __m256d value = _mm256_loadu_pd(row + k);
      const __m256d inside =
          _mm256_and_pd(_mm256_cmp_pd(value, low, _CMP_GT_OQ), _mm256_cmp_pd(value, reach, _CMP_LE_OQ));
      near_ties = _mm256_or_pd(near_ties, inside);
      first_index = _mm256_min_pd(first_index, _mm256_blendv_pd(infinity, index, _mm256_cmp_pd(value, low, _CMP_EQ_OQ)));
      index = _mm256_add_pd(index, lane_step);
    }
    // See arg_min: without a value inside the band, the scan rule ends at the
    // first minimum; otherwise the scan itself runs.
    if (_mm256_movemask_pd(near_ties) == 0) [[likely]] {
      best[i] = static_cast<std::uint32_t>(horizontal_min(first_index));
      base = minimum + problem.pen;
    } else {
      best[i] = scan_arg_min(row, lanes, tie_rule);
      base = row[best[i]] + problem.pen;
    }
    std::swap(before, row);
  }
  prev = before;
  cur = row;
}

// The same rows for at most 4 Blocks of levels, held in registers from one
// row to the next: no loads or stores of row values, no loop over blocks.
template <std::size_t Blocks>
TARNWELL_AVX2 void rows_in_registers(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last,
                                     double* prev, double* scratch, std::uint8_t* flags,
                                     std::uint32_t* best) noexcept {
  const std::size_t K = problem.K;
  const TieRule tie_rule = problem.tie_rule;
  const __m256d relative = _mm256_set1_pd(TieRule::relative);
  const __m256d absolute = _mm256_set1_pd(tie_rule.absolute());
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(std::numeric_limits<std::int64_t>::max()));
  const __m256d pen = _mm256_set1_pd(problem.pen);
  const __m256d four = _mm256_set1_pd(4.0);
  __m256d before[Blocks];
  __m256d levels[Blocks];
#pragma GCC unroll 4
  for (std::size_t b = 0; b < Blocks; ++b) {
    before[b] = _mm256_loadu_pd(prev + b * level_block);
    levels[b] = _mm256_loadu_pd(problem.levels + b * level_block);
  }
  __m256d start_value = _mm256_set1_pd(prev[best[first - 1]] + problem.pen);
  for (std::uint64_t i = first; i < last; ++i) {
    const __m256d y = _mm256_set1_pd(problem.values[i]);
    const __m256d w = _mm256_set1_pd(problem.weights[i]);
    std::uint8_t* row_flags = flags + i * K;
    __m256d row[Blocks];
#pragma GCC unroll 4
    for (std::size_t b = 0; b < Blocks; ++b) {
      const __m256d p = before[b];
      const __m256d tolerance = _mm256_add_pd(_mm256_mul_pd(relative, p), absolute);
      const __m256d starts = _mm256_cmp_pd(_mm256_sub_pd(p, start_value), tolerance, _CMP_GT_OQ);
      const __m256d deviation = _mm256_mul_pd(w, _mm256_and_pd(_mm256_sub_pd(levels[b], y), magnitude));
      row[b] = _mm256_blendv_pd(_mm256_add_pd(p, deviation), _mm256_add_pd(start_value, deviation), starts);
      const std::uint32_t bytes = flag_bytes(starts);
      std::memcpy(row_flags + b * level_block, &bytes, sizeof bytes);
    }
    __m256d smallest = row[0];
#pragma GCC unroll 4
    for (std::size_t b = 1; b < Blocks; ++b) smallest = _mm256_min_pd(smallest, row[b]);
    // The minimum in every lane, the band's reach as decision_band computes
    // it, and per block: the minimum's lanes, and values inside the band
    // (at most the reach and not the minimum, so above it).
    smallest = _mm256_min_pd(smallest, _mm256_permute2f128_pd(smallest, smallest, 1));
    smallest = _mm256_min_pd(smallest, _mm256_permute_pd(smallest, 0b0101));
    const __m256d band = _mm256_mul_pd(four, _mm256_add_pd(_mm256_mul_pd(relative, _mm256_and_pd(smallest, magnitude)),
                                                           absolute));
    const __m256d reach = _mm256_add_pd(smallest, band);
    __m256d near_ties = _mm256_setzero_pd();
    std::uint32_t minimum_lanes = 0;
#pragma GCC unroll 4
    for (std::size_t b = 0; b < Blocks; ++b) {
      const __m256d at_minimum = _mm256_cmp_pd(row[b], smallest, _CMP_EQ_OQ);
      near_ties = _mm256_or_pd(near_ties, _mm256_andnot_pd(at_minimum, _mm256_cmp_pd(row[b], reach, _CMP_LE_OQ)));
      minimum_lanes |= static_cast<std::uint32_t>(_mm256_movemask_pd(at_minimum)) << (b * level_block);
    }
    if (_mm256_movemask_pd(near_ties) == 0) [[likely]] {
      best[i] = static_cast<std::uint32_t>(std::countr_zero(minimum_lanes));
      start_value = _mm256_add_pd(smallest, pen);
    } else {
#pragma GCC unroll 4
      for (std::size_t b = 0; b < Blocks; ++b) _mm256_storeu_pd(scratch + b * level_block, row[b]);
      best[i] = scan_arg_min(scratch, Blocks * level_block, tie_rule);
      start_value = _mm256_set1_pd(scratch[best[i]] + problem.pen);
    }
#pragma GCC unroll 4
    for (std::size_t b = 0; b < Blocks; ++b) before[b] = row[b];
  }
#pragma GCC unroll 4
  for (std::size_t b = 0; b < Blocks; ++b) _mm256_storeu_pd(prev + b * level_block, before[b]);
}

}  // namespace

void run_l1_potts_rows_avx2(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last, double*& prev,
                            double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept {
  switch (padded_level_count(problem.K) / level_block) {
    case 1: return rows_in_registers<1>(problem, first, last, prev, cur, flags, best);
    case 2: return rows_in_registers<2>(problem, first, last, prev, cur, flags, best);
    case 3: return rows_in_registers<3>(problem, first, last, prev, cur, flags, best);
    case 4: return rows_in_registers<4>(problem, first, last, prev, cur, flags, best);
    default: return rows_in_memory(problem, first, last, prev, cur, flags, best);
  }
}

#else

bool l1_potts_avx2_rows_available() noexcept { return false; }

void run_l1_potts_rows_avx2(const L1PottsProblem&, std::uint64_t, std::uint64_t, double*&, double*&, std::uint8_t*,
                            std::uint32_t*) noexcept {}

#endif

}  // namespace tarnwell
