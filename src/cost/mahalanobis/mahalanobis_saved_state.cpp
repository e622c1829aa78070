#include "cost/mahalanobis/mahalanobis_cost.hpp"

namespace tarnwell {

void MahalanobisCost::save(StateWriter& out) const {
  out.put(metric_norm_);
  scatter_.save(out);
  out.put(std::span<const double>(metric_));
}

Result<MahalanobisCost> MahalanobisCost::restore(StateReader& in) {
  double metric_norm = 0.0;
  TARNWELL_CHECK(in.get(metric_norm));
  TARNWELL_TRY(scatter, ScatterStatistics::restore(in));
  const std::uint64_t d = scatter.n_features();
  TARNWELL_TRY(square, in.product(d, d));
  std::vector<double> metric;
  TARNWELL_CHECK(in.get(metric, square, "the metric"));
  return MahalanobisCost(std::move(metric), metric_norm, std::move(scatter));
}

}  // namespace tarnwell
