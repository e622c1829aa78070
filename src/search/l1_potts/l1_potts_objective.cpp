#include "search/l1_potts/l1_potts_objective.hpp"

#include <algorithm>
#include <cmath>
#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"

namespace tarnwell {
namespace {

// Per-level weight totals of one segment. A short segment visits and resets
// only the levels it touches, a long one (at least K / 4 samples) all K
// levels, so the whole check costs O(n log n), not O(K) per segment, and long
// segments skip the bookkeeping of touched levels.
//
// A level's weight is summed in sample order, one addition waiting for the
// last. With weights that are whole numbers every partial sum is exact (below
// 2^53), so the order is free and `lanes` = 4 partial totals per level, sample
// i adding to lane i mod 4, break that chain with the same result.
struct LevelWeights {
  std::size_t lanes = 1;
  std::vector<double> total;  // lanes per level
  std::vector<std::uint8_t> touched;
  // The touched levels of a short segment; one spare entry past K takes the
  // write of a level already counted.
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> all_levels;  // 0 .. K - 1

  double level_total(std::uint32_t level) const noexcept {
    double sum = total[level * lanes];
    for (std::size_t lane = 1; lane < lanes; ++lane) sum += total[level * lanes + lane];
    return sum;
  }
};

// The lower weighted median: the first level, in increasing order, whose
// cumulative weight c reaches half the segment's weight W (W <= 2 c). Weights
// are summed per level in sample order, then across levels in level order. A
// segment of zero total weight is fitted at its first value; any value fits it
// equally well.
// `scanned` holds, increasing, every level with weight in the segment.
double lower_weighted_median(const LevelWeights& weights, std::span<const std::uint32_t> scanned,
                             const std::vector<double>& levels, double first_value) {
  double total = 0.0;
  for (const std::uint32_t level : scanned) total += weights.level_total(level);
  if (total == 0.0) return first_value;
  double cumulative = 0.0;
  for (const std::uint32_t level : scanned) {
    cumulative += weights.level_total(level);
    if (total <= 2.0 * cumulative) return levels[level];
  }
  return levels.back();
}

}  // namespace

Result<double> weighted_median_cost(const L1PottsData& data, std::span<const std::uint64_t> breakpoints) {
  const std::vector<double>& y = data.values();
  const std::vector<double>& w = data.weights();
  const std::vector<double>& levels = data.levels();
  const std::vector<std::uint32_t>& level_of = data.level_of_samples();
  if (level_of.size() != y.size()) {
    return errors::fail(errors::numerical_failure("locating an observation in the L1-Potts state space"));
  }
  LevelWeights weights;
  TARNWELL_CHECK(try_allocate("recomputing the L1-Potts weighted-median objective", [&] {
    weights.lanes = data.whole_number_weights() ? 4 : 1;
    weights.total.assign(levels.size() * weights.lanes, 0.0);
    weights.touched.assign(levels.size(), 0);
    weights.order.assign(levels.size() + 1, 0);
    weights.all_levels.resize(levels.size());
  }));
  for (std::uint32_t level = 0; level < weights.all_levels.size(); ++level) weights.all_levels[level] = level;
  const std::size_t lanes = weights.lanes;
  double cost = 0.0;
  std::uint64_t start = 0;
  for (const std::uint64_t end : breakpoints) {
    std::span<const std::uint32_t> scanned;
    if ((end - start) * 4 >= levels.size()) {
      for (std::uint64_t i = start; i < end; ++i) weights.total[level_of[i] * lanes + (i & (lanes - 1))] += w[i];
      scanned = weights.all_levels;
    } else {
      // Without branches on the data: samples change level at random, and a
      // mispredicted branch per change would cost more than the whole step.
      std::size_t count = 0;
      for (std::uint64_t i = start; i < end; ++i) {
        const std::uint32_t level = level_of[i];
        weights.order[count] = level;
        count += weights.touched[level] ^ 1u;
        weights.touched[level] = 1;
        weights.total[level * lanes + (i & (lanes - 1))] += w[i];
      }
      const std::span<std::uint32_t> touched = std::span(weights.order).first(count);
      std::sort(touched.begin(), touched.end());
      scanned = touched;
    }
    const double median = lower_weighted_median(weights, scanned, levels, y[start]);
    for (const std::uint32_t level : scanned) {
      std::fill_n(weights.total.begin() + level * lanes, lanes, 0.0);
      weights.touched[level] = 0;
    }
    double segment_cost = 0.0;
    for (std::uint64_t i = start; i < end; ++i) segment_cost += w[i] * std::fabs(y[i] - median);
    if (!is_finite_value(segment_cost)) return errors::fail(errors::non_finite_objective(segment_cost));
    cost += segment_cost;
    start = end;
  }
  return cost;
}

Result<L1PottsObjective> recompute_l1_potts_objective(const L1PottsData& data,
                                                      const std::vector<std::uint64_t>& breakpoints, double pen,
                                                      double optimum, const TieRule& tie_rule) {
  TARNWELL_TRY(cost, weighted_median_cost(data, breakpoints));
  const double objective = pen * static_cast<double>(breakpoints.size() - 1) + cost;
  // Both totals are sums of n deviations (each a rounded product) and the
  // penalties, added in different orders; each rounding is at most one unit
  // roundoff u of a partial sum, itself at most the total. Over a long signal
  // their differences outgrow the tie rule (one trillionth), so the check also
  // accepts up to (6 n + 4) u of the larger total.
  const double unit_roundoff = 0x1p-53;
  const double rounding = (6.0 * static_cast<double>(data.n_samples()) + 4.0) * unit_roundoff *
                          std::max(std::fabs(objective), std::fabs(optimum));
  if (!tie_rule.tie(objective, optimum) && !(std::fabs(objective - optimum) <= rounding)) {
    return errors::fail(errors::numerical_failure("recomputing the L1-Potts weighted-median objective"));
  }
  return L1PottsObjective{cost, objective};
}

}  // namespace tarnwell
