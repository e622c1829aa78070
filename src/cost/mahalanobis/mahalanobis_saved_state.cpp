#include "cost/mahalanobis/mahalanobis_cost.hpp"

namespace tarnwell {

// With the identity metric the squared-error statistics follow the metric.
void MahalanobisCost::save(StateWriter& out) const {
  out.put(metric_norm_);
  scatter_.save(out);
  out.put(std::span<const double>(metric_));
  if (squared_error_) squared_error_->save(out);
}

Result<MahalanobisCost> MahalanobisCost::restore(StateReader& in) {
  double metric_norm = 0.0;
  TARNWELL_CHECK(in.get(metric_norm));
  TARNWELL_TRY(scatter, ScatterStatistics::restore(in));
  const std::uint64_t d = scatter.n_features();
  TARNWELL_TRY(square, in.product(d, d));
  std::vector<double> metric;
  TARNWELL_CHECK(in.get(metric, square, "the metric"));
  std::optional<L2Cost> squared_error;
  if (is_identity(metric, d)) {
    TARNWELL_TRY(l2, L2Cost::restore(in));
    if (l2.n_samples() != scatter.n_samples() || l2.n_features() != d) {
      return errors::fail(in.invalid("its squared-error statistics describe another signal"));
    }
    squared_error.emplace(std::move(l2));
  }
  return MahalanobisCost(std::move(metric), metric_norm, std::move(scatter), std::move(squared_error));
}

}  // namespace tarnwell
