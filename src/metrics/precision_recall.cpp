#include "metrics/precision_recall.hpp"

#include <optional>
#include <vector>

#include "metrics/breakpoint_pair.hpp"

namespace tarnwell {
namespace {

// The predictions not yet matched, able to name the nearest free one on either
// side of a position. A taken prediction is linked to its neighbour in each
// direction, and lookups compress the links they walk (path halving), so the
// whole matching stays near-linear even when matched and free predictions
// interleave.
class FreePredictions {
 public:
  explicit FreePredictions(std::size_t count) : towards_right_(count + 1), towards_left_(count + 1) {
    // towards_right_[count] and towards_left_[0] are sentinels that stay free:
    // reaching them means "none on this side".
    for (std::size_t i = 0; i <= count; ++i) {
      towards_right_[i] = i;
      towards_left_[i] = i;
    }
  }

  // The first free index >= from, if any.
  std::optional<std::size_t> at_or_after(std::size_t from) {
    const std::size_t found = find(towards_right_, from);
    if (found + 1 == towards_right_.size()) return std::nullopt;
    return found;
  }

  // The last free index < before, if any. Left links are stored shifted by
  // one so that the sentinel sits at 0.
  std::optional<std::size_t> before(std::size_t before) {
    const std::size_t found = find(towards_left_, before);
    if (found == 0) return std::nullopt;
    return found - 1;
  }

  void take(std::size_t index) {
    towards_right_[index] = index + 1;
    towards_left_[index + 1] = index;
  }

 private:
  static std::size_t find(std::vector<std::size_t>& links, std::size_t index) {
    while (links[index] != index) {
      links[index] = links[links[index]];
      index = links[index];
    }
    return index;
  }

  std::vector<std::size_t> towards_right_;
  std::vector<std::size_t> towards_left_;
};

std::uint64_t distance(std::uint64_t left, std::uint64_t right) noexcept {
  return left > right ? left - right : right - left;
}

std::uint64_t count_greedy_matches(std::span<const std::uint64_t> true_points,
                                   std::span<const std::uint64_t> predicted_points, std::uint64_t margin) {
  FreePredictions free(predicted_points.size());
  std::uint64_t hits = 0;
  // Predictions [0, split) are <= the current true point. True points
  // increase, so the split only moves forward.
  std::size_t split = 0;
  for (const std::uint64_t point : true_points) {
    while (split < predicted_points.size() && predicted_points[split] <= point) ++split;
    const std::optional<std::size_t> left = free.before(split);
    const std::optional<std::size_t> right = free.at_or_after(split);
    std::optional<std::size_t> nearest;
    // On equal distances the left (earlier) prediction wins.
    if (left && (!right || distance(predicted_points[*left], point) <= distance(predicted_points[*right], point))) {
      nearest = left;
    } else {
      nearest = right;
    }
    if (nearest && distance(predicted_points[*nearest], point) < margin) {
      free.take(*nearest);
      ++hits;
    }
  }
  return hits;
}

}  // namespace

Result<PrecisionRecall> precision_recall(std::span<const std::uint64_t> truth,
                                         std::span<const std::uint64_t> prediction, std::uint64_t margin) {
  TARNWELL_TRY(pair, validate_breakpoint_pair(truth, prediction));
  if (margin == 0) return errors::fail(errors::margin_zero(margin));
  const auto true_points = pair.true_change_points();
  const auto predicted_points = pair.predicted_change_points();
  const auto hits = static_cast<double>(count_greedy_matches(true_points, predicted_points, margin));
  PrecisionRecall result{};
  if (predicted_points.empty()) {
    // Predicting nothing is fully precise only when there was nothing to find.
    result.precision = true_points.empty() ? 1.0 : 0.0;
  } else {
    result.precision = hits / static_cast<double>(predicted_points.size());
  }
  result.recall = true_points.empty() ? 1.0 : hits / static_cast<double>(true_points.size());
  return result;
}

}  // namespace tarnwell
