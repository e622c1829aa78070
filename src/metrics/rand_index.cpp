#include "metrics/rand_index.hpp"

#include <algorithm>

#include "core/internal_check.hpp"
#include "metrics/breakpoint_pair.hpp"

namespace tarnwell {
namespace {

using Count = unsigned __int128;

// m (m - 1) / 2 without overflow: m < 2^64, so the product fits 128 bits.
Count pairs(std::uint64_t m) noexcept {
  if (m < 2) return 0;
  return static_cast<Count>(m) * static_cast<Count>(m - 1) / 2;
}

// Pairs of samples that share a segment.
Count pairs_within_segments(std::span<const std::uint64_t> breakpoints) {
  Count total = 0;
  std::uint64_t start = 0;
  for (const std::uint64_t end : breakpoints) {
    total += pairs(end - start);
    start = end;
  }
  return total;
}

// Pairs of samples that share a segment in both lists: one merge walk over the
// intersections of a truth segment with a prediction segment. Both lists end
// at the same n, so they run out together.
Count pairs_within_both(std::span<const std::uint64_t> truth, std::span<const std::uint64_t> prediction) {
  Count total = 0;
  std::size_t truth_index = 0;
  std::size_t prediction_index = 0;
  std::uint64_t truth_start = 0;
  std::uint64_t prediction_start = 0;
  while (truth_index < truth.size()) {
    TARNWELL_ASSERT(prediction_index < prediction.size(), "prediction segments ran out before truth segments");
    const std::uint64_t truth_end = truth[truth_index];
    const std::uint64_t prediction_end = prediction[prediction_index];
    total += pairs(std::min(truth_end, prediction_end) - std::max(truth_start, prediction_start));
    if (truth_end <= prediction_end) {
      truth_start = truth_end;
      ++truth_index;
    }
    if (prediction_end <= truth_end) {
      prediction_start = prediction_end;
      ++prediction_index;
    }
  }
  return total;
}

}  // namespace

Result<double> rand_index(std::span<const std::uint64_t> truth, std::span<const std::uint64_t> prediction) {
  TARNWELL_TRY(pair, validate_breakpoint_pair(truth, prediction));
  if (pair.n_samples <= 1) return 1.0;
  const Count total = pairs(pair.n_samples);
  const Count same_truth = pairs_within_segments(pair.truth);
  const Count same_prediction = pairs_within_segments(pair.prediction);
  const Count same_both = pairs_within_both(pair.truth, pair.prediction);
  // agreeing = total + 2 same_both - same_truth - same_prediction, regrouped so
  // that no intermediate leaves [0, total]: pairs apart in truth, minus those
  // of them that are together in the prediction, plus pairs together in both.
  // Summing 2 same_both first could exceed 2^128 when n is near 2^64.
  const Count apart_in_truth = total - same_truth;
  const Count together_only_in_prediction = same_prediction - same_both;
  const Count agreeing = apart_in_truth - together_only_in_prediction + same_both;
  return static_cast<double>(agreeing) / static_cast<double>(total);
}

}  // namespace tarnwell
