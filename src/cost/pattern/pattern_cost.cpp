#include "cost/pattern/pattern_cost.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/fallible_allocation.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/pattern/pattern_width.hpp"

namespace tarnwell {

Result<PatternCost> PatternCost::fit(const Signal& signal, std::uint64_t width, std::uint64_t neighbours) {
  if (neighbours == 0) return errors::fail(errors::value_error_text("neighbours must be positive, got 0"));
  if (width == 0) {
    TARNWELL_TRY(learned, learned_pattern_width(signal));
    width = learned;
  }
  const std::uint64_t n = signal.n_samples();
  SubsequenceNeighbours graph;
  // Two windows apart by a full width (the exclusion zone) need 2 width samples.
  if (width <= n / 2) {
    TARNWELL_TRY(found, nearest_subsequences(signal, width, neighbours));
    graph = std::move(found);
  } else {
    graph.windows = width <= n ? n - width + 1 : 0;
    graph.neighbours = neighbours;
    const std::optional<std::uint64_t> slots = checked_product(graph.windows, neighbours);
    if (!slots) return errors::fail(errors::allocation_failed("allocating a subsequence neighbour search"));
    TARNWELL_CHECK(try_allocate("allocating a subsequence neighbour search",
                                [&] { graph.index.assign(*slots, graph.windows); }));
  }
  return from_graph(n, signal.n_features(), width, std::move(graph));
}

Result<PatternCost> PatternCost::from_graph(std::uint64_t n_samples, std::uint64_t n_features, std::uint64_t width,
                                            SubsequenceNeighbours graph) {
  PatternCost cost;
  cost.n_samples_ = n_samples;
  cost.n_features_ = n_features;
  cost.width_ = width;
  std::vector<std::uint64_t> lo, hi;
  const std::uint64_t m = graph.windows, k = graph.neighbours;
  TARNWELL_CHECK(try_allocate("allocating a neighbour edge index", [&] {
    lo.reserve(m * k);
    hi.reserve(m * k);
  }));
  for (std::uint64_t i = 0; i < m; ++i) {
    for (std::uint64_t slot = 0; slot < k; ++slot) {
      const std::uint64_t j = graph.index[i * k + slot];
      if (j >= m) continue;  // an empty slot
      lo.push_back(std::min(i, j));
      hi.push_back(std::max(i, j));
    }
  }
  TARNWELL_TRY(links, EdgeCountIndex::build(lo, hi, m));
  cost.links_ = std::move(links);
  cost.neighbours_ = std::move(graph);
  return cost;
}

std::pair<std::uint64_t, std::uint64_t> PatternCost::windows_of(std::uint64_t start, std::uint64_t end) const noexcept {
  const std::uint64_t offset = centre_offset(), m = neighbours_.windows;
  const std::uint64_t first = std::min(start > offset ? start - offset : 0, m);
  const std::uint64_t last = std::min(end > offset ? end - offset : 0, m);
  return {first, last};
}

Result<double> PatternCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  if (!(start < end && end <= n_samples_)) return errors::fail(errors::invalid_segment(start, end, n_samples_));
  const auto [first, last] = windows_of(start, end);
  if (first >= last) return 0.0;
  const double links = static_cast<double>(links_.count_within(first, last));
  return -links / (static_cast<double>(neighbours_.neighbours) * static_cast<double>(last - first));
}

Status PatternCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                   EndpointBatch& out) const {
  return generic_endpoint_costs(*this, starts, end, out);
}

// The saved form: the sizes, the width and the neighbour lists (as doubles,
// exact below 2^53, so that the reader checks their length against the
// payload before allocating); the link index is rebuilt.
void PatternCost::save(StateWriter& out) const {
  out.put(n_samples_);
  out.put(n_features_);
  out.put(width_);
  out.put(neighbours_.windows);
  out.put(neighbours_.neighbours);
  std::vector<double> lists(neighbours_.index.begin(), neighbours_.index.end());
  out.put(std::span<const double>(lists));
}

Result<PatternCost> PatternCost::restore(StateReader& in) {
  std::uint64_t n = 0, d = 0, width = 0, windows = 0, k = 0;
  TARNWELL_CHECK(in.get_count(n, "the sample count"));
  TARNWELL_CHECK(in.get_count(d, "the feature count"));
  TARNWELL_CHECK(in.get_count(width, "the width"));
  TARNWELL_CHECK(in.get(windows));
  TARNWELL_CHECK(in.get_count(k, "the neighbour count"));
  if (width > n ? windows != 0 : windows != n - width + 1) return errors::fail(in.invalid("window count"));
  TARNWELL_TRY(slots, in.product(windows, k));
  SubsequenceNeighbours graph;
  graph.windows = windows;
  graph.neighbours = k;
  std::vector<double> lists;
  TARNWELL_CHECK(in.get(lists, slots, "the neighbour lists"));
  TARNWELL_CHECK(try_allocate("restoring a pattern cost", [&] { graph.index.resize(slots); }));
  for (std::uint64_t slot = 0; slot < slots; ++slot) {
    const double j = lists[slot];
    if (!(j >= 0.0 && j <= static_cast<double>(windows) && j == std::floor(j))) {
      return errors::fail(in.invalid("neighbour index"));
    }
    graph.index[slot] = static_cast<std::uint64_t>(j);
  }
  return from_graph(n, d, width, std::move(graph));
}

}  // namespace tarnwell
