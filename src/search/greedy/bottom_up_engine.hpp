// Bottom-up segmentation: cut the signal into small grid-aligned leaves by
// recursive halving, then repeatedly merge the adjacent pair whose merge
// raises the total cost least, until the stopping rule says stop.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <queue>
#include <utility>
#include <vector>

#include "cost/segment_cost.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/total_order.hpp"
#include "search/greedy/greedy_frame.hpp"
#include "search/greedy/split_range.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell {
namespace bottom_up_detail {

using Leaf = std::pair<std::uint64_t, std::uint64_t>;  // [start, end)

// The admissible position nearest the midpoint, distances measured in double
// as |m - (start + end) / 2|; an equal distance keeps the smaller position.
// Along the run of admissible positions the distance falls and then rises, so
// the nearest one is one of the two positions bracketing the midpoint; for
// positions below 2^52 every quantity here is exact.
inline std::optional<std::uint64_t> split_nearest_midpoint(std::uint64_t start, std::uint64_t end,
                                                           const SearchParameters& parameters) {
  const std::optional<SplitRange> range = admissible_splits(start, end, parameters);
  if (!range) return std::nullopt;
  const double midpoint = (static_cast<double>(start) + static_cast<double>(end)) / 2.0;
  const std::uint64_t jump = parameters.jump;
  // The largest admissible position at or below the midpoint (or the first).
  const std::uint64_t half_way = start + (end - start) / 2;
  std::uint64_t below = range->first;
  if (half_way > range->first) below = std::min(range->last, range->first + (half_way - range->first) / jump * jump);
  const std::uint64_t above = below < range->last ? below + jump : below;
  const auto distance = [&](std::uint64_t position) { return std::fabs(static_cast<double>(position) - midpoint); };
  return distance(above) < distance(below) ? above : below;
}

// Depth first and left first: the left half is halved before the right one.
inline std::vector<Leaf> halve_into_leaves(std::uint64_t n, const SearchParameters& parameters) {
  std::vector<Leaf> leaves;
  std::vector<Leaf> pending{{0, n}};
  while (!pending.empty()) {
    const Leaf top = pending.back();
    if (const std::optional<std::uint64_t> split = split_nearest_midpoint(top.first, top.second, parameters)) {
      pending.back() = Leaf{*split, top.second};
      pending.push_back(Leaf{top.first, *split});
    } else {
      pending.pop_back();
      leaves.push_back(top);
    }
  }
  std::sort(leaves.begin(), leaves.end());
  return leaves;
}

// A current segment. Nodes never move: a merge folds the right node into the
// left one, marks the right one dead and relinks the neighbours. The flags sit
// together at the end so that a node takes 56 bytes, not 72: the merge loop
// reaches nodes in random order and is bound by cache misses.
struct Node {
  std::uint64_t left;
  std::uint64_t right;
  std::uint64_t start;
  std::uint64_t end;
  double cost;
  std::uint64_t version;  // bumped on every change, to recognise stale candidates
  bool has_left;
  bool has_right;
  bool alive;
};

struct MergeCandidate {
  double delta;  // cost(left.start, right.end) - left.cost - right.cost
  std::uint64_t left;
  std::uint64_t right;
  std::uint64_t left_version;
  std::uint64_t right_version;
};

// Min-heap order: smaller delta first (IEEE total order), then smaller left index.
struct LaterMerge {
  bool operator()(const MergeCandidate& first, const MergeCandidate& second) const noexcept {
    if (total_order_less(second.delta, first.delta)) return true;
    if (total_order_less(first.delta, second.delta)) return false;
    return first.left > second.left;
  }
};

using MergeHeap = std::priority_queue<MergeCandidate, std::vector<MergeCandidate>, LaterMerge>;

template <SegmentCost Cost>
Status push_merge_candidate(const Cost& cost, const std::vector<Node>& nodes, std::uint64_t left_index,
                            MergeHeap& candidates) {
  const Node& left = nodes[left_index];
  if (!left.alive || !left.has_right) return {};
  const Node& right = nodes[left.right];
  if (!right.alive) return {};
  TARNWELL_TRY(merged, cost.segment_cost(left.start, right.end));
  candidates.push(MergeCandidate{merged - left.cost - right.cost, left_index, left.right, left.version, right.version});
  return {};
}

// The candidate still describes two live neighbours exactly as they are.
inline bool is_current(const MergeCandidate& candidate, const std::vector<Node>& nodes) noexcept {
  const Node& left = nodes[candidate.left];
  const Node& right = nodes[candidate.right];
  return left.alive && left.has_right && left.right == candidate.right && right.alive &&
         left.version == candidate.left_version && right.version == candidate.right_version;
}

// Folds the right node into the left one. The merged cost is the old costs
// plus delta, not a fresh evaluation.
inline void merge_nodes(std::vector<Node>& nodes, const MergeCandidate& candidate) {
  Node& left = nodes[candidate.left];
  Node& right = nodes[candidate.right];
  left.end = right.end;
  left.cost = right.cost + candidate.delta + left.cost;
  left.has_right = right.has_right;
  left.right = right.right;
  ++left.version;
  right.alive = false;
  ++right.version;
  if (right.has_right) {
    Node& next = nodes[right.right];
    next.has_left = true;
    next.left = candidate.left;
  }
}

}  // namespace bottom_up_detail

template <SegmentCost Cost>
Result<Segmentation> run_bottom_up(const Cost& cost, SearchParameters parameters, const StoppingRule& requested_rule) {
  using namespace bottom_up_detail;
  TARNWELL_TRY(rule, check_greedy_start(cost, parameters, requested_rule));
  return with_allocation_context("merging the BottomUp segmentation", [&]() -> Result<Segmentation> {
    const std::uint64_t n = cost.n_samples();
    const std::vector<Leaf> leaves = halve_into_leaves(n, parameters);
    const std::uint64_t leaf_count = leaves.size();
    const auto infeasible = [&] {
      return errors::fail(errors::infeasible(n, rule.n_bkps(), parameters.min_size, parameters.jump));
    };

    std::vector<Node> nodes;
    nodes.reserve(leaf_count);
    double total = 0.0;
    for (std::uint64_t i = 0; i < leaf_count; ++i) {
      TARNWELL_TRY(leaf_cost, cost.segment_cost(leaves[i].first, leaves[i].second));
      nodes.push_back(Node{.left = i > 0 ? i - 1 : 0,
                           .right = i + 1 < leaf_count ? i + 1 : 0,
                           .start = leaves[i].first,
                           .end = leaves[i].second,
                           .cost = leaf_cost,
                           .version = 0,
                           .has_left = i > 0,
                           .has_right = i + 1 < leaf_count,
                           .alive = true});
      total += leaf_cost;
    }
    MergeHeap candidates;
    for (std::uint64_t i = 0; i + 1 < leaf_count; ++i) TARNWELL_CHECK(push_merge_candidate(cost, nodes, i, candidates));

    std::uint64_t segments = leaf_count;
    while (true) {
      TARNWELL_CHECK(check_interruption());
      if (candidates.empty()) {
        if (rule.kind() == StoppingRule::Kind::change_count && segments - 1 != rule.n_bkps()) return infeasible();
        break;
      }
      const MergeCandidate candidate = candidates.top();
      candidates.pop();
      if (!is_current(candidate, nodes)) continue;
      const auto decision = rule.merge_decision(segments, candidate.delta, total);
      if (decision == StoppingRule::MergeDecision::infeasible) return infeasible();
      if (decision == StoppingRule::MergeDecision::stop) break;
      merge_nodes(nodes, candidate);
      const Node& merged = nodes[candidate.left];
      if (merged.has_left) TARNWELL_CHECK(push_merge_candidate(cost, nodes, merged.left, candidates));
      TARNWELL_CHECK(push_merge_candidate(cost, nodes, candidate.left, candidates));
      total += candidate.delta;
      --segments;
    }

    // Live nodes keep their leaf order, so their ends come out increasing.
    std::vector<std::uint64_t> breakpoints;
    breakpoints.reserve(segments);
    for (const Node& node : nodes) {
      if (node.alive) breakpoints.push_back(node.end);
    }
    return finish_greedy(cost, parameters, rule, std::move(breakpoints));
  });
}

}  // namespace tarnwell
