// Binary segmentation: starting from the whole signal, repeatedly split the
// segment whose best split lowers the total cost most, until the stopping
// rule refuses the best remaining split.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <queue>
#include <tuple>
#include <vector>

#include "cost/segment_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/total_order.hpp"
#include "search/greedy/greedy_frame.hpp"
#include "search/greedy/split_range.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {
namespace binseg_detail {

struct SplitCandidate {
  double gain;  // cost(start, end) - cost(start, split) - cost(split, end)
  std::uint64_t start;
  std::uint64_t split;
  std::uint64_t end;
};

// Heap order: larger gain first (IEEE total order, so NaN gains have a fixed
// place); equal gains go to the smaller split, then start, then end.
struct LowerPriority {
  bool operator()(const SplitCandidate& left, const SplitCandidate& right) const noexcept {
    if (total_order_less(left.gain, right.gain)) return true;
    if (total_order_less(right.gain, left.gain)) return false;
    return std::tie(right.split, right.start, right.end) < std::tie(left.split, left.start, left.end);
  }
};

using CandidateHeap = std::priority_queue<SplitCandidate, std::vector<SplitCandidate>, LowerPriority>;

struct SegmentScan {
  double segment_cost;                    // cost(start, end), evaluated even without a split
  std::optional<SplitCandidate> best;     // none when no position is admissible
};

// One pass over the admissible positions of [start, end); an exactly equal
// gain keeps the earlier position.
template <SegmentCost Cost>
Result<SegmentScan> best_split(const Cost& cost, std::uint64_t start, std::uint64_t end,
                               const SearchParameters& parameters) {
  TARNWELL_TRY(whole, cost.segment_cost(start, end));
  SegmentScan scan{whole, std::nullopt};
  const std::optional<SplitRange> range = admissible_splits(start, end, parameters);
  if (!range) return scan;
  for (std::uint64_t split = range->first;; split += parameters.jump) {
    TARNWELL_CHECK(check_interruption());
    TARNWELL_TRY(left, cost.segment_cost(start, split));
    TARNWELL_TRY(right, cost.segment_cost(split, end));
    const double gain = whole - left - right;
    if (!scan.best || total_order_less(scan.best->gain, gain)) scan.best = SplitCandidate{gain, start, split, end};
    if (split == range->last) break;  // last is a multiple of jump reachable from first
  }
  return scan;
}

template <SegmentCost Cost>
Status push_best_split(const Cost& cost, std::uint64_t start, std::uint64_t end, const SearchParameters& parameters,
                       CandidateHeap& candidates) {
  TARNWELL_TRY(scan, best_split(cost, start, end, parameters));
  if (scan.best) candidates.push(*scan.best);
  return {};
}

}  // namespace binseg_detail

template <SegmentCost Cost>
Result<Segmentation> run_binseg(const Cost& cost, SearchParameters parameters, const StoppingRule& requested_rule) {
  using namespace binseg_detail;
  TARNWELL_TRY(rule, check_greedy_start(cost, parameters, requested_rule));
  return with_allocation_context("growing the Binseg segmentation", [&]() -> Result<Segmentation> {
    const std::uint64_t n = cost.n_samples();
    // start -> end of every current segment. The heap holds at most one
    // candidate per segment; the map lookup still guards against a stale one.
    std::map<std::uint64_t, std::uint64_t> segments{{0, n}};
    CandidateHeap candidates;
    TARNWELL_TRY(first_scan, best_split(cost, 0, n, parameters));
    if (first_scan.best) candidates.push(*first_scan.best);
    double total = first_scan.segment_cost;

    while (!candidates.empty()) {
      const SplitCandidate candidate = candidates.top();
      candidates.pop();
      const auto segment = segments.find(candidate.start);
      if (segment == segments.end() || segment->second != candidate.end) continue;
      // Candidates come by decreasing gain, so the first refusal ends the search.
      if (!rule.accepts_split(segments.size() - 1, candidate.gain, total)) break;
      segment->second = candidate.split;
      segments.emplace_hint(std::next(segment), candidate.split, candidate.end);
      TARNWELL_CHECK(push_best_split(cost, candidate.start, candidate.split, parameters, candidates));
      TARNWELL_CHECK(push_best_split(cost, candidate.split, candidate.end, parameters, candidates));
      total -= candidate.gain;
    }

    std::vector<std::uint64_t> breakpoints;
    breakpoints.reserve(segments.size());
    for (const auto& [start, end] : segments) breakpoints.push_back(end);
    return finish_greedy(cost, parameters, rule, std::move(breakpoints));
  });
}

}  // namespace tarnwell
