// The nearest neighbours of every subsequence of a signal: for each window
// of `width` samples, the `neighbours` windows most alike in shape. Shape is
// compared after each window is z-normalised feature by feature (level and
// spread removed), so the similarity of two windows is the mean over
// features of their Pearson correlation; a flat window is alike only to
// flat windows. Windows that overlap in time by more than nothing (|i - j| <
// width) are never neighbours: an overlapping window shares samples and
// would be a trivial match.
#pragma once

#include <cstdint>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/signal.hpp"

namespace tarnwell {

struct SubsequenceNeighbours {
  std::uint64_t windows = 0;     // n - width + 1
  std::uint64_t neighbours = 0;  // per window
  // Row i: its neighbours, most alike first (equal similarity: smaller index
  // first); `windows` marks a slot left empty when fewer windows qualify.
  std::vector<std::uint64_t> index;
};

// Exact search over all pairs in O(n^2 d) time and O(n (d + neighbours))
// memory; polls for interruption once per window.
Result<SubsequenceNeighbours> nearest_subsequences(const Signal& signal, std::uint64_t width,
                                                   std::uint64_t neighbours);

}  // namespace tarnwell
