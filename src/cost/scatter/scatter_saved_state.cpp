#include "cost/scatter/scatter_statistics.hpp"

namespace tarnwell {

void ScatterStatistics::save(StateWriter& out) const {
  out.put(n_samples_);
  out.put(n_features_);
  out.put(std::span<const double>(prefix_sums_));
  out.put(std::span<const double>(prefix_products_));
}

Result<ScatterStatistics> ScatterStatistics::restore(StateReader& in) {
  ScatterStatistics scatter;
  TARNWELL_CHECK(in.get_count(scatter.n_samples_, "the sample count"));
  TARNWELL_CHECK(in.get_count(scatter.n_features_, "the feature count"));
  const std::uint64_t d = scatter.n_features_;
  TARNWELL_TRY(rows, in.prefix_table_size(scatter.n_samples_, d));
  TARNWELL_TRY(products, in.product(rows, d));
  TARNWELL_CHECK(in.get(scatter.prefix_sums_, rows, "the prefix sums"));
  TARNWELL_CHECK(in.get(scatter.prefix_products_, products, "the prefix products"));
  return scatter;
}

}  // namespace tarnwell
