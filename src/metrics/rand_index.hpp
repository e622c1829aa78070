// Rand index between two segmentations of one signal: the share of sample
// pairs on which they agree (together in both, or apart in both).
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// Pair counts are exact in 128-bit integers (n may approach 2^64, so n^2
// needs all 128 bits); only the final ratio is a float. A signal of at most
// one sample has no pairs and scores 1.
Result<double> rand_index(std::span<const std::uint64_t> truth, std::span<const std::uint64_t> prediction);

}  // namespace tarnwell
