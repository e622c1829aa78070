// The hot loop of the neighbour search: for one window i and a block of
// later windows j, advance the running dot products of every feature from
// the previous row (or compute them afresh on an exact row), turn them into
// the mean correlation of the two z-normalised windows, and say whether any
// of them beats a neighbour list. Compiled in a portable form and, where the
// processor has AVX2, a four-lane form; both do the same IEEE operations in
// the same order per element, so the neighbours are identical.
#pragma once

#include <cstdint>

namespace tarnwell {

struct SimilarityRow {
  const double* standardized;   // feature-major, n per feature
  const double* scaled_mean;    // width * window mean, m per feature
  const double* inverse_norm;   // m per feature
  const double* flat;           // m per feature
  const double* threshold;      // m: the similarity each window's list requires
  double* dot;                  // this row's dot products, m per feature
  const double* dot_before;     // the previous row's
  std::uint64_t n, m, d, width;
  std::uint64_t i;              // the row's window
  bool exact;                   // compute the dot products afresh
  double feature_share;         // 1 / d
};

// Writes the similarities of columns [from, to) to out[0 .. to - from);
// true when one beats threshold[j] or row_threshold.
using SimilarityBlock = bool (*)(const SimilarityRow& row, std::uint64_t from, std::uint64_t to,
                                 double row_threshold, double* out);

bool similarity_block_portable(const SimilarityRow& row, std::uint64_t from, std::uint64_t to,
                               double row_threshold, double* out);
// The AVX2 form where the processor has it, else the portable one.
SimilarityBlock fastest_similarity_block();

}  // namespace tarnwell
