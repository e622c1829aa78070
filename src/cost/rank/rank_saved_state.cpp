#include "cost/rank/rank_cost.hpp"

namespace tarnwell {

void RankCost::save(StateWriter& out) const {
  out.put(n_samples_);
  out.put(n_features_);
  out.put(std::span<const double>(rank_prefix_sums_));
  out.put(std::span<const double>(precision_));
}

Result<RankCost> RankCost::restore(StateReader& in) {
  RankCost cost;
  TARNWELL_CHECK(in.get_count(cost.n_samples_, "the sample count"));
  TARNWELL_CHECK(in.get_count(cost.n_features_, "the feature count"));
  const std::uint64_t d = cost.n_features_;
  TARNWELL_TRY(table, in.prefix_table_size(cost.n_samples_, d));
  TARNWELL_TRY(square, in.product(d, d));
  TARNWELL_CHECK(in.get(cost.rank_prefix_sums_, table, "the rank prefix sums"));
  TARNWELL_CHECK(in.get(cost.precision_, square, "the rank precision"));
  return cost;
}

}  // namespace tarnwell
