// The AVX2 form of the similarity block. Everything this unit includes is
// included before the target is switched on, so no shared inline function is
// compiled for AVX2 here; the block runs only after the processor check.
#include <cstdint>

#include "cost/pattern/similarity_block.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")
#include "cost/pattern/similarity_block_body.hpp"

namespace tarnwell {
namespace {
bool similarity_block_avx2(const SimilarityRow& row, std::uint64_t from, std::uint64_t to, double row_threshold,
                           double* out) {
  similarity_values(row, from, to, out);
  // The portable form's test, four columns at a time (ordered comparisons, as the scalar >).
  const double* threshold = row.threshold + from;
  const std::uint64_t count = to - from;
  const __m256d row_bar = _mm256_set1_pd(row_threshold);
  __m256d beaten = _mm256_setzero_pd();
  std::uint64_t c = 0;
  for (; c + 4 <= count; c += 4) {
    const __m256d value = _mm256_loadu_pd(out + c);
    beaten = _mm256_or_pd(beaten, _mm256_or_pd(_mm256_cmp_pd(value, _mm256_loadu_pd(threshold + c), _CMP_GT_OQ),
                                               _mm256_cmp_pd(value, row_bar, _CMP_GT_OQ)));
  }
  bool improves = _mm256_movemask_pd(beaten) != 0;
  for (; c < count; ++c) improves |= (out[c] > threshold[c]) | (out[c] > row_threshold);
  return improves;
}
}  // namespace
}  // namespace tarnwell
#pragma GCC pop_options

namespace tarnwell {
SimilarityBlock fastest_similarity_block() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available ? &similarity_block_avx2 : &similarity_block_portable;
}
}  // namespace tarnwell

#else
namespace tarnwell {
SimilarityBlock fastest_similarity_block() { return &similarity_block_portable; }
}  // namespace tarnwell
#endif
