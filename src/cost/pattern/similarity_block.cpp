#include "cost/pattern/similarity_block.hpp"

#include "cost/pattern/similarity_block_body.hpp"

namespace tarnwell {

bool similarity_block_portable(const SimilarityRow& row, std::uint64_t from, std::uint64_t to, double row_threshold,
                               double* out) {
  return similarity_block_body(row, from, to, row_threshold, out);
}

}  // namespace tarnwell
