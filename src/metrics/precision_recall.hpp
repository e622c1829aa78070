// Precision and recall of a predicted segmentation against a reference, with
// predictions matched one-to-one to true change points within a margin.
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

struct PrecisionRecall {
  double precision;
  double recall;
};

// Validates the pair, then refuses a zero margin. Matching is greedy in the
// order of the true change points: each takes the nearest free prediction
// strictly closer than `margin`, the earlier one when two are equally near.
Result<PrecisionRecall> precision_recall(std::span<const std::uint64_t> truth,
                                         std::span<const std::uint64_t> prediction, std::uint64_t margin);

}  // namespace tarnwell
