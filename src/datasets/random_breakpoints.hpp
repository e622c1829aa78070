// Random segment lengths for a synthetic dataset: exponential weights
// apportioned by largest remainders, so every segment gets at least one
// sample and the lengths add up to n_samples exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "datasets/dataset_rng.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// Requires n_bkps < n_samples. Makes exactly n_bkps + 1 exponential draws and
// returns n_bkps + 1 strictly increasing breakpoints ending at n_samples.
Result<std::vector<std::uint64_t>> draw_breakpoints(DatasetRng& rng, std::uint64_t n_samples,
                                                    std::uint64_t n_bkps);

}  // namespace tarnwell
