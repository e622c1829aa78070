// The fused multiply-add form of the continuous-linear endpoint batch: four
// starts at a time in AVX2 registers, the rest one by one. Everything this
// unit includes is included before the target is switched on, so no shared
// inline function is compiled for it here; the batch runs only after the
// processor check.
#include <cmath>
#include <cstddef>
#include <limits>

#include "cost/clinear/clinear_prefix_costs.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2,fma")
#include "cost/clinear/clinear_prefix_body.hpp"

namespace tarnwell {
namespace {

// The double-double operations of the scalar form, lane by lane, in the
// same order of operations (so with the same roundings).
struct Pair {
  __m256d hi;
  __m256d lo;
};

inline __m256d negated(__m256d a) noexcept { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }
inline __m256d magnitude_of(__m256d a) noexcept { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }

inline Pair two_sum(__m256d a, __m256d b) noexcept {
  const __m256d s = _mm256_add_pd(a, b);
  const __m256d b_part = _mm256_sub_pd(s, a);
  const __m256d e = _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(s, b_part)), _mm256_sub_pd(b, b_part));
  return {s, e};
}

inline Pair quick_two_sum(__m256d a, __m256d b) noexcept {
  const __m256d s = _mm256_add_pd(a, b);
  return {s, _mm256_sub_pd(b, _mm256_sub_pd(s, a))};
}

inline Pair add(Pair a, Pair b) noexcept {
  const Pair s = two_sum(a.hi, b.hi);
  return quick_two_sum(s.hi, _mm256_add_pd(s.lo, _mm256_add_pd(a.lo, b.lo)));
}

inline Pair subtract(Pair a, Pair b) noexcept { return add(a, Pair{negated(b.hi), negated(b.lo)}); }

inline Pair twice(Pair a) noexcept {
  const __m256d two = _mm256_set1_pd(2.0);
  return {_mm256_mul_pd(a.hi, two), _mm256_mul_pd(a.lo, two)};
}

inline Pair exact_product(__m256d a, __m256d b) noexcept {
  const __m256d p = _mm256_mul_pd(a, b);
  return {p, _mm256_fmsub_pd(a, b, p)};
}

inline Pair multiply(Pair a, __m256d b) noexcept {
  const Pair p = exact_product(a.hi, b);
  return quick_two_sum(p.hi, _mm256_add_pd(p.lo, _mm256_mul_pd(a.lo, b)));
}

inline Pair multiply(Pair a, Pair b) noexcept {
  const Pair p = exact_product(a.hi, b.hi);
  return quick_two_sum(p.hi, _mm256_add_pd(p.lo, _mm256_add_pd(_mm256_mul_pd(a.hi, b.lo), _mm256_mul_pd(a.lo, b.hi))));
}

inline __m256d gathered(const double* base, __m256i offsets) noexcept {
  return _mm256_i64gather_pd(base, offsets, sizeof(double));
}

inline Pair gathered_pair(const double* base, __m256i offsets) noexcept {
  return {gathered(base, offsets), gathered(base + 1, offsets)};
}

// Four starts, each after 0 and at least three samples before end, the
// longest segment shorter than 2^20: prefix_cost<fused> for each, lane by lane.
void four_prefix_costs(const CLinearTables& tables, const std::uint64_t* starts, std::uint64_t end,
                       double* out) noexcept {
  const std::uint64_t d = tables.n_features;
  const double* values = tables.values;
  const double* prefix = &tables.prefix[0].sum.hi;
  constexpr std::int64_t row_doubles = sizeof(CLinearPrefixRow) / sizeof(double);
  alignas(32) double abscissa_sum[4];
  alignas(32) double abscissa_squares_hi[4];
  alignas(32) double abscissa_squares_lo[4];
  alignas(32) double shift[4];
  alignas(32) double count[4];
  alignas(32) std::int64_t anchor_offset[4];
  alignas(32) std::int64_t row_offset[4];
  for (int lane = 0; lane < 4; ++lane) {
    const std::uint64_t start = starts[lane];
    const std::uint64_t length = end - start;
    const std::uint64_t pairs = length * (length - 1) / 2;
    // Below 2^40: exact as a double, no low part.
    abscissa_sum[lane] = from_integer(pairs + length).hi;
    const DoubleDouble squares = from_integer(pairs * (2 * length - 1) / 3 + 2 * pairs + length);
    abscissa_squares_hi[lane] = squares.hi;
    abscissa_squares_lo[lane] = squares.lo;
    shift[lane] = static_cast<double>(start - 1);
    count[lane] = static_cast<double>(length);
    anchor_offset[lane] = static_cast<std::int64_t>((start - 1) * d);
    row_offset[lane] = static_cast<std::int64_t>(start * d) * row_doubles;
  }
  const Pair abscissa{_mm256_load_pd(abscissa_sum), _mm256_setzero_pd()};
  const Pair abscissa_squares{_mm256_load_pd(abscissa_squares_hi), _mm256_load_pd(abscissa_squares_lo)};
  const __m256d shifts = _mm256_load_pd(shift);
  const __m256d counts = _mm256_load_pd(count);
  const __m256d spans = counts;
  const __m256i anchors = _mm256_load_si256(reinterpret_cast<const __m256i*>(anchor_offset));
  const __m256i rows = _mm256_load_si256(reinterpret_cast<const __m256i*>(row_offset));
  const __m256d error_scale = _mm256_set1_pd((static_cast<double>(end) + 64.0) * 0x1p-100);
  __m256d total = _mm256_setzero_pd();
  __m256d kept = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    const __m256i feature_rows = _mm256_add_epi64(rows, _mm256_set1_epi64x(static_cast<std::int64_t>(feature) * row_doubles));
    const Pair low_sum = gathered_pair(prefix, feature_rows);
    const Pair low_square = gathered_pair(prefix + 2, feature_rows);
    const Pair low_indexed = gathered_pair(prefix + 4, feature_rows);
    const CLinearPrefixRow& high_row = tables.prefix[end * d + feature];
    const Pair high_sum{_mm256_set1_pd(high_row.sum.hi), _mm256_set1_pd(high_row.sum.lo)};
    const Pair high_square{_mm256_set1_pd(high_row.square.hi), _mm256_set1_pd(high_row.square.lo)};
    const Pair high_indexed{_mm256_set1_pd(high_row.indexed.hi), _mm256_set1_pd(high_row.indexed.lo)};
    const Pair sum = subtract(high_sum, low_sum);
    const Pair square = subtract(high_square, low_square);
    const Pair indexed = subtract(high_indexed, low_indexed);
    const __m256d origin = _mm256_set1_pd(values[feature]);
    const __m256d first = _mm256_sub_pd(gathered(values + feature, anchors), origin);
    const __m256d last = _mm256_set1_pd(values[(end - 1) * d + feature] - values[feature]);
    const __m256d slope = _mm256_div_pd(_mm256_sub_pd(last, first), spans);
    const Pair weighted = subtract(subtract(indexed, multiply(sum, shifts)), multiply(abscissa, first));
    const Pair residuals =
        add(subtract(add(subtract(square, twice(multiply(sum, first))), multiply(exact_product(first, first), counts)),
                     twice(multiply(weighted, slope))),
            multiply(exact_product(slope, slope), abscissa_squares));
    const __m256d value = _mm256_add_pd(residuals.hi, residuals.lo);
    const __m256d a = magnitude_of(first);
    const __m256d b = magnitude_of(slope);
    const __m256d two = _mm256_set1_pd(2.0);
    const __m256d sums = _mm256_add_pd(magnitude_of(high_sum.hi), magnitude_of(low_sum.hi));
    __m256d magnitude = _mm256_add_pd(magnitude_of(high_square.hi), magnitude_of(low_square.hi));
    magnitude = _mm256_add_pd(magnitude, _mm256_mul_pd(_mm256_mul_pd(two, a), sums));
    magnitude = _mm256_add_pd(magnitude, _mm256_mul_pd(_mm256_mul_pd(counts, a), a));
    __m256d line = _mm256_add_pd(magnitude_of(high_indexed.hi), magnitude_of(low_indexed.hi));
    line = _mm256_add_pd(line, _mm256_mul_pd(shifts, sums));
    line = _mm256_add_pd(line, _mm256_mul_pd(a, abscissa.hi));
    magnitude = _mm256_add_pd(magnitude, _mm256_mul_pd(_mm256_mul_pd(two, b), line));
    magnitude = _mm256_add_pd(magnitude, _mm256_mul_pd(_mm256_mul_pd(b, b), abscissa_squares.hi));
    const __m256d error = _mm256_mul_pd(error_scale, magnitude);
    const __m256d positive = _mm256_cmp_pd(value, _mm256_setzero_pd(), _CMP_GT_OQ);
    const __m256d precise = _mm256_cmp_pd(error, _mm256_mul_pd(_mm256_set1_pd(0x1p-52), value), _CMP_LE_OQ);
    const __m256d finite =
        _mm256_cmp_pd(magnitude, _mm256_set1_pd(std::numeric_limits<double>::max()), _CMP_LE_OQ);
    kept = _mm256_and_pd(kept, _mm256_and_pd(positive, _mm256_and_pd(precise, finite)));
    total = _mm256_add_pd(total, value);
  }
  _mm256_storeu_pd(out, _mm256_blendv_pd(_mm256_set1_pd(declined_cost), total, kept));
}

void fused_prefix_costs(const CLinearTables& tables, std::span<const std::uint64_t> starts, std::uint64_t end,
                        double* out) noexcept {
  std::size_t i = 0;
  for (; i + 4 <= starts.size(); i += 4) {
    const std::uint64_t* four = &starts[i];
    const bool lanes_fit = four[0] > 0 && four[1] > 0 && four[2] > 0 && four[3] > 0 &&
                           end - four[0] < (std::uint64_t{1} << 20) && end - four[1] < (std::uint64_t{1} << 20) &&
                           end - four[2] < (std::uint64_t{1} << 20) && end - four[3] < (std::uint64_t{1} << 20);
    if (lanes_fit) {
      four_prefix_costs(tables, four, end, out + i);
    } else {
      for (std::size_t lane = 0; lane < 4; ++lane) out[i + lane] = prefix_cost<ProductForm::fused>(tables, four[lane], end);
    }
  }
  for (; i < starts.size(); ++i) out[i] = prefix_cost<ProductForm::fused>(tables, starts[i], end);
}

}  // namespace
}  // namespace tarnwell
#pragma GCC pop_options

namespace tarnwell {

CLinearPrefixBatch clinear_prefix_costs_fused() noexcept {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? &fused_prefix_costs : nullptr;
}

}  // namespace tarnwell
#else
namespace tarnwell {

CLinearPrefixBatch clinear_prefix_costs_fused() noexcept { return nullptr; }

}  // namespace tarnwell
#endif
