#include "metrics/hausdorff.hpp"

#include <algorithm>

#include "metrics/breakpoint_pair.hpp"

namespace tarnwell {
namespace {

// Largest distance from a point of `from` to its nearest point of `to`. Both
// are sorted, so one merge walk finds each nearest neighbour: the candidates
// are the last point of `to` below the current point and the first at or
// above it, and that boundary only moves forward.
std::uint64_t directed_distance(std::span<const std::uint64_t> from, std::span<const std::uint64_t> to,
                                std::uint64_t n_samples) {
  if (from.empty()) return 0;
  if (to.empty()) return n_samples;
  std::uint64_t largest = 0;
  std::size_t boundary = 0;
  for (const std::uint64_t point : from) {
    while (boundary < to.size() && to[boundary] < point) ++boundary;
    std::uint64_t nearest = UINT64_MAX;
    if (boundary < to.size()) nearest = to[boundary] - point;
    if (boundary > 0) nearest = std::min(nearest, point - to[boundary - 1]);
    largest = std::max(largest, nearest);
  }
  return largest;
}

}  // namespace

Result<std::uint64_t> hausdorff_distance(std::span<const std::uint64_t> truth,
                                         std::span<const std::uint64_t> prediction) {
  TARNWELL_TRY(pair, validate_breakpoint_pair(truth, prediction));
  const auto true_points = pair.true_change_points();
  const auto predicted_points = pair.predicted_change_points();
  return std::max(directed_distance(true_points, predicted_points, pair.n_samples),
                  directed_distance(predicted_points, true_points, pair.n_samples));
}

}  // namespace tarnwell
