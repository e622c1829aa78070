// The AVX2 form of the similarity block. Everything this unit includes is
// included before the target is switched on, so no shared inline function is
// compiled for AVX2 here; the block runs only after the processor check.
#include <cstdint>

#include "cost/pattern/similarity_block.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#pragma GCC push_options
#pragma GCC target("avx2")
#include "cost/pattern/similarity_block_body.hpp"

namespace tarnwell {
namespace {
bool similarity_block_avx2(const SimilarityRow& row, std::uint64_t from, std::uint64_t to, double row_threshold,
                           double* out) {
  return similarity_block_body(row, from, to, row_threshold, out);
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
