// Work counters a search can fill for benchmarks and profiling; searches
// called from Python pass none.
#pragma once

#include <cstdint>

namespace tarnwell {

struct SearchCounters {
  std::uint64_t candidate_segments = 0;  // segment costs requested from the cost
  std::uint64_t end_positions = 0;       // endpoint batches requested
  std::uint64_t listed_starts = 0;       // starts still listed, summed over the end positions (Pelt)
  std::uint64_t tested_starts = 0;       // starts put to a model's own pruning test (Pelt)
};

}  // namespace tarnwell
