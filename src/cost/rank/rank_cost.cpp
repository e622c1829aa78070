#include "cost/rank/rank_cost.hpp"

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/linear_algebra/symmetric_matrix.hpp"
#include "cost/rank/centred_ranks.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

struct RankScratchTag {};

constexpr std::string_view allocation_context = "allocating rank statistics";

}  // namespace

Result<RankCost> RankCost::fit(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::uint64_t> table_size = n == UINT64_MAX ? std::nullopt : checked_product(n + 1, d);
  const std::optional<std::uint64_t> block = checked_product(d, d);
  if (!table_size || !block) return errors::fail(errors::numerical_failure(allocation_context));
  TARNWELL_TRY(ranks, centred_average_ranks(signal));
  TARNWELL_TRY(covariance, filled_buffer<double>(*block, 0.0, allocation_context));
  const double count = static_cast<double>(n);
  for (std::uint64_t t = 0; t < n; ++t) {
    TARNWELL_CHECK(check_interruption());
    const double* row = ranks.data() + t * d;
    for (std::uint64_t a = 0; a < d; ++a) {
      for (std::uint64_t b = 0; b < d; ++b) covariance[a * d + b] += row[a] * row[b] / count;
    }
  }

  RankCost cost;
  TARNWELL_TRY(precision, positive_semidefinite_pseudo_inverse(covariance, d, allocation_context));
  TARNWELL_TRY(prefix, filled_buffer<double>(*table_size, 0.0, allocation_context));
  for (std::uint64_t t = 0; t < n; ++t) {
    for (std::uint64_t k = 0; k < d; ++k) prefix[(t + 1) * d + k] = prefix[t * d + k] + ranks[t * d + k];
  }
  cost.rank_prefix_sums_ = std::move(prefix);
  cost.precision_ = std::move(precision);
  cost.n_samples_ = n;
  cost.n_features_ = d;
  return cost;
}

Result<double> RankCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, 2));
  const std::size_t d = static_cast<std::size_t>(n_features_);
  TARNWELL_TRY(mean, thread_scratch<RankScratchTag>(d, "allocating a rank mean buffer"));
  const double length = static_cast<double>(end - start);
  const double* sum_start = rank_prefix_sums_.data() + start * d;
  const double* sum_end = rank_prefix_sums_.data() + end * d;
  for (std::size_t k = 0; k < d; ++k) mean[k] = (sum_end[k] - sum_start[k]) / length;
  // m^T (P m): each entry of P m is formed, then dotted with m.
  double quadratic = 0.0;
  for (std::size_t i = 0; i < d; ++i) {
    const double* precision_row = precision_.data() + i * d;
    double product = 0.0;
    for (std::size_t j = 0; j < d; ++j) product += precision_row[j] * mean[j];
    quadratic += mean[i] * product;
  }
  const double cost = (-length) * quadratic;
  if (!is_finite_value(cost)) return errors::fail(errors::non_finite_objective(cost));
  return cost;
}

Status RankCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
  return generic_endpoint_costs(*this, starts, end, out);
}

}  // namespace tarnwell
