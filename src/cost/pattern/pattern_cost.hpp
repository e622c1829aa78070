// Pattern cost: how little a segment's subsequences resemble one another
// compared with the rest of the signal. Every window of `width` samples is
// linked to its `neighbours` most alike windows of the whole signal (shape
// only: subsequence_neighbours.hpp); a window stands for the sample at its
// centre. The cost of a segment is minus the share of its windows' links
// that stay inside it,
//
//   c(s, e) = -W(s, e) / (neighbours * L),
//
// with W the links between two windows of the segment and L its number of
// windows. This is the kernel scatter of the kernel cost with the neighbour
// graph for kernel (the ratio association of graph partitioning): a segment
// made of one pattern keeps its links (cost near -1), while cutting where
// nothing changes loses as many links as the new segments' sizes predict, so
// on average no split pays for itself. The costs are sums of link counts,
// read from an index in O(log n) per segment.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/saved_state.hpp"
#include "core/signal.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/pattern/edge_count_index.hpp"
#include "cost/pattern/subsequence_neighbours.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class PatternCost {
 public:
  // width 0: learned from the signal (pattern_width.hpp). A signal shorter
  // than two windows plus their exclusion zone has no links: every cost is 0.
  static Result<PatternCost> fit(const Signal& signal, std::uint64_t width, std::uint64_t neighbours);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  // A segment shorter than a window shows no pattern of its own.
  std::uint64_t search_min_segment_length() const noexcept { return width_ > 2 ? width_ : 2; }
  // c(s, t) + c(t, e) - 1 <= c(s, e): the parts keep at least the whole's
  // share of links less the cut ones, and the cut links are at most
  // neighbours * L. The constant is therefore -1 (splitting may lower the
  // total by up to 1), which prunes little but soundly.
  std::optional<double> pelt_pruning_constant() const noexcept { return -1.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  std::uint64_t width() const noexcept { return width_; }
  std::uint64_t neighbours() const noexcept { return neighbours_.neighbours; }
  const SubsequenceNeighbours& graph() const noexcept { return neighbours_; }
  // Window i stands for sample i + centre_offset().
  std::uint64_t centre_offset() const noexcept { return width_ / 2; }
  // The windows standing for the samples of [start, end).
  std::pair<std::uint64_t, std::uint64_t> windows_of(std::uint64_t start, std::uint64_t end) const noexcept;

  void save(StateWriter& out) const;
  static Result<PatternCost> restore(StateReader& in);

 private:
  static Result<PatternCost> from_graph(std::uint64_t n_samples, std::uint64_t n_features, std::uint64_t width,
                                        SubsequenceNeighbours graph);

  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
  std::uint64_t width_ = 0;
  SubsequenceNeighbours neighbours_;
  EdgeCountIndex links_;
};

}  // namespace tarnwell
