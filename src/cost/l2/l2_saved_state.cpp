#include "cost/l2/l2_cost.hpp"

namespace tarnwell {

void L2Cost::save(StateWriter& out) const {
  out.put(n_samples_);
  out.put(n_features_);
  out.put(std::span<const double>(reference_));
  out.put(std::span<const double>(prefix_sums_));
  out.put(std::span<const double>(prefix_squares_));
  out.put(std::span<const double>(largest_magnitude_));
  out.put(std::span<const double>(magnitude_sum_));
  out.put(exact_.samples());
}

Result<L2Cost> L2Cost::restore(StateReader& in) {
  L2Cost cost;
  TARNWELL_CHECK(in.get_count(cost.n_samples_, "the sample count"));
  TARNWELL_CHECK(in.get_count(cost.n_features_, "the feature count"));
  const std::uint64_t d = cost.n_features_;
  TARNWELL_TRY(table, in.prefix_table_size(cost.n_samples_, d));
  TARNWELL_CHECK(in.get(cost.reference_, d, "the reference row"));
  TARNWELL_CHECK(in.get(cost.prefix_sums_, table, "the prefix sums"));
  TARNWELL_CHECK(in.get(cost.prefix_squares_, table, "the prefix squares"));
  TARNWELL_CHECK(in.get(cost.largest_magnitude_, d, "the largest magnitudes"));
  TARNWELL_CHECK(in.get(cost.magnitude_sum_, d, "the magnitude sums"));
  // Saved before the samples were kept: the prefix tables alone.
  if (in.at_end()) return cost;
  TARNWELL_TRY(values, in.product(cost.n_samples_, d));
  LargeTable<double> samples;
  TARNWELL_CHECK(in.get(samples, values, "the samples"));
  TARNWELL_CHECK(cost.keep_samples(std::move(samples)));
  return cost;
}

}  // namespace tarnwell
