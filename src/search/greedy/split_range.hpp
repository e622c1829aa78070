// The admissible split positions of a segment [start, end): multiples of
// `jump` strictly inside it that leave at least `min_size` samples on each
// side. They form one run of consecutive multiples, so a range describes them.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "search/common/segmentation.hpp"

namespace tarnwell {

struct SplitRange {
  std::uint64_t first;  // smallest admissible position
  std::uint64_t last;   // largest admissible position
};

// Nothing when no position qualifies. Every intermediate stays within
// [start, end], so no arithmetic can overflow.
inline std::optional<SplitRange> admissible_splits(std::uint64_t start, std::uint64_t end,
                                                   const SearchParameters& parameters) {
  const std::uint64_t min_size = parameters.min_size;
  const std::uint64_t jump = parameters.jump;
  if (end <= start || end - start < min_size) return std::nullopt;
  std::uint64_t first = start + min_size;  // min_size >= 1, so first > start
  if (const std::uint64_t remainder = first % jump; remainder != 0) {
    if (first > std::numeric_limits<std::uint64_t>::max() - (jump - remainder)) return std::nullopt;
    first += jump - remainder;
  }
  const std::uint64_t last = (end - min_size) / jump * jump;  // end - min_size < end
  if (first > last) return std::nullopt;
  return SplitRange{first, last};
}

}  // namespace tarnwell
