// Hausdorff distance between the change points of two segmentations.
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// The larger of the two directed distances, exact in integers. A side without
// change points is 0 away from anything and n_samples away from a side with
// change points.
Result<std::uint64_t> hausdorff_distance(std::span<const std::uint64_t> truth,
                                         std::span<const std::uint64_t> prediction);

}  // namespace tarnwell
