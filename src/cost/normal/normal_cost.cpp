#include "cost/normal/normal_cost.hpp"

#include <cmath>
#include <limits>

#include "core/strided_matrix.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/linear_algebra/symmetric_matrix.hpp"

namespace tarnwell {
namespace {

struct NormalScratchTag {};

}  // namespace

Result<NormalCost> NormalCost::fit(const Signal& signal, double ridge) {
  TARNWELL_TRY(scatter, ScatterStatistics::fit(signal));
  return NormalCost(std::move(scatter), ridge);
}

Result<double> NormalCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  const std::size_t d = static_cast<std::size_t>(scatter_.n_features());
  TARNWELL_TRY(matrix, thread_scratch<NormalScratchTag>(d * d, "allocating a covariance buffer"));
  TARNWELL_CHECK(scatter_.segment_scatter(start, end, 2, matrix));
  const double length = static_cast<double>(end - start);
  const double degrees = length - 1.0;
  for (double& value : matrix) value /= degrees;
  for (std::size_t i = 0; i < d; ++i) matrix[i * d + i] += ridge_;
  const std::optional<double> log_determinant = cholesky_log_determinant(matrix, d);
  if (!log_determinant) return errors::fail(errors::numerical_failure("factoring a regularized covariance matrix"));
  const double cost = length * *log_determinant;
  if (!is_finite_value(cost)) return errors::fail(errors::non_finite_objective(cost));
  return cost;
}

Status NormalCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                  EndpointBatch& out) const {
  if (n_features() != 1) return generic_endpoint_costs(*this, starts, end, out);
  // One feature: segment_cost's arithmetic (the factorisation of a 1 x 1
  // matrix is its square root) without a scratch buffer per segment.
  // Anything unusual (an invalid segment, a variance that is not positive,
  // a cost that is not finite) goes through segment_cost for its error.
  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  const std::uint64_t n = n_samples();
  double* values = out.data();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::uint64_t start = starts[i];
    double cost = std::numeric_limits<double>::quiet_NaN();
    if (start < end && end <= n && end - start >= 2) [[likely]] {
      const double length = static_cast<double>(end - start);
      const double variance = scatter_.single_feature_scatter(start, end) / (length - 1.0) + ridge_;
      if (variance > 0.0) cost = length * (2.0 * std::log(std::sqrt(variance)));
    }
    if (!is_finite_value(cost)) [[unlikely]] {
      TARNWELL_TRY(checked, segment_cost(start, end));
      cost = checked;
    }
    values[i] = cost;
  }
  out.set_size(starts.size());
  return {};
}

}  // namespace tarnwell
