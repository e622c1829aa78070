#include "cost/rank/rank_cost.hpp"

#include <algorithm>
#include <numeric>

#include "core/fallible_allocation.hpp"
#include "core/interruptible_sort.hpp"
#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/linear_algebra/symmetric_matrix.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

struct RankScratchTag {};

constexpr std::string_view allocation_context = "allocating rank statistics";
constexpr std::size_t insertion_sort_limit = 20;

// Sample indices in ascending order of their values. Values are finite, so
// `<` agrees with the IEEE total order except that -0.0 and +0.0 compare
// equal, and numerically equal values share one run of ranks anyway.
template <class Order>
Status sort_by_value(Order& order, std::span<const double> column) {
  const auto before = [&](std::uint64_t left, std::uint64_t right) { return column[left] < column[right]; };
  if (order.size() <= insertion_sort_limit) {
    for (std::size_t i = 1; i < order.size(); ++i) {
      const std::uint64_t index = order[i];
      std::size_t j = i;
      for (; j > 0 && before(index, order[j - 1]); --j) order[j] = order[j - 1];
      order[j] = index;
    }
    return {};
  }
  return interruptible_sort(order, before);
}

}  // namespace

Result<RankCost> RankCost::fit(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::uint64_t> table_size = n == UINT64_MAX ? std::nullopt : checked_product(n + 1, d);
  const std::optional<std::uint64_t> block = checked_product(d, d);
  if (!table_size || !block) return errors::fail(errors::numerical_failure(allocation_context));
  const std::span<const double> values = signal.values();

  // Centred average ranks, n x d row-major like the signal.
  TARNWELL_TRY(ranks, filled_buffer<double>(n * d, 0.0, allocation_context));
  TARNWELL_TRY(column, filled_buffer<double>(n, 0.0, allocation_context));
  TARNWELL_TRY(order, filled_buffer<std::uint64_t>(n, 0, allocation_context));
  const double centre = (static_cast<double>(n) + 1.0) / 2.0;
  for (std::uint64_t k = 0; k < d; ++k) {
    TARNWELL_CHECK(check_interruption());
    for (std::uint64_t t = 0; t < n; ++t) column[t] = values[t * d + k];
    std::iota(order.begin(), order.end(), std::uint64_t{0});
    TARNWELL_CHECK(sort_by_value(order, column));
    for (std::uint64_t i = 0; i < n;) {
      TARNWELL_CHECK(check_interruption());
      std::uint64_t j = i + 1;
      while (j < n && column[order[j]] == column[order[i]]) ++j;
      // Positions i .. j - 1 share the average of the 1-based ranks i + 1 .. j.
      const double average = static_cast<double>(i + 1 + j) / 2.0;
      for (std::uint64_t p = i; p < j; ++p) ranks[order[p] * d + k] = average - centre;
      i = j;
    }
  }

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
