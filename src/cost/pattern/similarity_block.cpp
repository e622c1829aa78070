#include "cost/pattern/similarity_block.hpp"

#include "cost/pattern/similarity_block_body.hpp"

namespace tarnwell {

bool similarity_block_portable(const SimilarityRow& row, std::uint64_t from, std::uint64_t to, double row_threshold,
                               double* out) {
  similarity_values(row, from, to, out);
  const double* threshold = row.threshold + from;
  bool improves = false;
  for (std::uint64_t c = 0; c < to - from; ++c) improves |= (out[c] > threshold[c]) | (out[c] > row_threshold);
  return improves;
}

}  // namespace tarnwell
