// Sliding-window segmentation: score every grid position by how much cutting
// a window of `width` samples centred there lowers its cost, keep the strict
// local maxima of that score, and add them as changes by decreasing score
// while the stopping rule allows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "cost/segment_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/total_order.hpp"
#include "search/greedy/greedy_frame.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {
namespace window_detail {

struct ScoredPosition {
  double score;  // cost(p - half, p + half) - cost(p - half, p) - cost(p, p + half)
  std::uint64_t position;
};

// Grid positions whose whole window lies inside the signal, in increasing order.
template <SegmentCost Cost>
Result<std::vector<ScoredPosition>> score_positions(const Cost& cost, std::uint64_t half, std::uint64_t jump) {
  const std::uint64_t n = cost.n_samples();
  std::vector<ScoredPosition> scores;
  if (n < half) return scores;
  const std::uint64_t last = n - half;  // p + half <= n
  std::uint64_t position = half;  // rounded up to the grid
  if (const std::uint64_t remainder = half % jump; remainder != 0) {
    if (half > last || last - half < jump - remainder) return scores;
    position += jump - remainder;
  }
  scores.reserve(position <= last ? (last - position) / jump + 1 : 0);
  for (; position <= last; position += jump) {
    TARNWELL_CHECK(check_interruption());
    TARNWELL_TRY(window, cost.segment_cost(position - half, position + half));
    TARNWELL_TRY(before, cost.segment_cost(position - half, position));
    TARNWELL_TRY(after, cost.segment_cost(position, position + half));
    scores.push_back(ScoredPosition{window - before - after, position});
    if (position > std::numeric_limits<std::uint64_t>::max() - jump) break;
  }
  return scores;
}

// An entry is a peak when its score is strictly greater (plain IEEE `>`, so a
// NaN is never a peak and blocks its neighbours, and a plateau of equal scores
// has none) than every other entry within `radius` indices. Neighbours are
// tried nearest first: on the smooth score curves that overlapping windows
// produce, a non-peak almost always meets a larger neighbour right away.
inline std::vector<ScoredPosition> pick_peaks(const std::vector<ScoredPosition>& scores, std::uint64_t radius) {
  std::vector<ScoredPosition> peaks;
  const std::uint64_t count = scores.size();
  for (std::uint64_t i = 0; i < count; ++i) {
    const double score = scores[i].score;
    bool is_peak = true;
    for (std::uint64_t distance = 1; distance <= radius && is_peak; ++distance) {
      const bool has_before = distance <= i;
      const bool has_after = distance < count - i;
      if (!has_before && !has_after) break;
      if (has_before && !(score > scores[i - distance].score)) is_peak = false;
      if (has_after && !(score > scores[i + distance].score)) is_peak = false;
    }
    if (is_peak) peaks.push_back(scores[i]);
  }
  // Larger score first; equal scores by increasing position.
  std::sort(peaks.begin(), peaks.end(), [](const ScoredPosition& left, const ScoredPosition& right) {
    if (total_order_less(right.score, left.score)) return true;
    if (total_order_less(left.score, right.score)) return false;
    return left.position < right.position;
  });
  return peaks;
}

// The current breakpoints with the cost of the segment each one ends. Every
// cached cost was evaluated when its segment appeared, so summing the cache in
// order gives exactly the total that re-evaluating the segments would.
class Breakpoints {
 public:
  explicit Breakpoints(std::uint64_t n) : ends_{n}, costs_{0.0} {}

  std::uint64_t changes() const noexcept { return ends_.size() - 1; }
  // Index of the first breakpoint not below `position`.
  std::size_t insertion_index(std::uint64_t position) const {
    return static_cast<std::size_t>(std::lower_bound(ends_.begin(), ends_.end(), position) - ends_.begin());
  }
  std::uint64_t start_of(std::size_t index) const noexcept { return index == 0 ? 0 : ends_[index - 1]; }
  std::uint64_t end_of(std::size_t index) const noexcept { return ends_[index]; }

  // The enclosing segment's cost is stored each time it is evaluated;
  // the first evaluation of [0, n) is what fills the initial entry.
  void record_cost(std::size_t index, double cost) noexcept { costs_[index] = cost; }

  double total() const noexcept {
    double total = 0.0;
    for (const double cost : costs_) total += cost;
    return total;
  }

  void split(std::size_t index, std::uint64_t position, double left_cost, double right_cost) {
    costs_[index] = right_cost;
    ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(index), position);
    costs_.insert(costs_.begin() + static_cast<std::ptrdiff_t>(index), left_cost);
  }

  std::vector<std::uint64_t> release() && { return std::move(ends_); }

 private:
  std::vector<std::uint64_t> ends_;
  std::vector<double> costs_;
};

}  // namespace window_detail

// `width` is the stored even width, at least 2 min_size.
template <SegmentCost Cost>
Result<Segmentation> run_window(const Cost& cost, SearchParameters parameters, std::uint64_t width,
                                const StoppingRule& requested_rule) {
  using namespace window_detail;
  TARNWELL_TRY(rule, check_greedy_start(cost, parameters, requested_rule));
  return with_allocation_context("inserting Window breakpoints", [&]() -> Result<Segmentation> {
    const std::uint64_t half = width / 2;
    TARNWELL_TRY(scores, score_positions(cost, half, parameters.jump));
    // max(width, 2 min_size) / (2 jump), written without the doublings that
    // could overflow: width is even, so halving first loses nothing.
    const std::uint64_t radius = std::max<std::uint64_t>(std::max(half, parameters.min_size) / parameters.jump, 1);
    const std::vector<ScoredPosition> peaks = pick_peaks(scores, radius);

    Breakpoints breakpoints(cost.n_samples());
    for (const ScoredPosition& peak : peaks) {
      const std::uint64_t position = peak.position;
      const std::size_t index = breakpoints.insertion_index(position);
      const std::uint64_t start = breakpoints.start_of(index);
      const std::uint64_t end = breakpoints.end_of(index);
      if (position - start < parameters.min_size || end - position < parameters.min_size) continue;
      TARNWELL_TRY(whole, cost.segment_cost(start, end));
      TARNWELL_TRY(left, cost.segment_cost(start, position));
      TARNWELL_TRY(right, cost.segment_cost(position, end));
      breakpoints.record_cost(index, whole);
      // The gain is against the current neighbours; the window score only ordered the peaks.
      const double gain = whole - left - right;
      // Only the budget rule reads the total. Its sum uses cached costs, all
      // evaluated successfully before, so skipping it elsewhere hides nothing.
      const double total = rule.reads_total() ? breakpoints.total() : 0.0;
      if (!rule.accepts_split(breakpoints.changes(), gain, total)) break;
      breakpoints.split(index, position, left, right);
    }
    // Too few admissible peaks for n_bkps is reported by the shared end.
    return finish_greedy(cost, parameters, rule, std::move(breakpoints).release());
  });
}

}  // namespace tarnwell
