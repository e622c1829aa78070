#include "cost/mahalanobis/mahalanobis_cost.hpp"

#include <algorithm>
#include <cmath>

#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/linear_algebra/symmetric_matrix.hpp"

namespace tarnwell {
namespace {

struct MahalanobisScratchTag {};

// 2^-45: negative round-off of tr(M S) tolerated, relative to |M|_F times the
// magnitude of the scatter's terms.
constexpr double negative_tolerance = 2.842170943040401e-14;

double frobenius_norm(std::span<const double> values) {
  double squares = 0.0;
  for (const double value : values) squares += value * value;
  return std::sqrt(squares);
}

}  // namespace

Result<MahalanobisCost> MahalanobisCost::fit(const Signal& signal, const std::optional<DenseMatrix>& metric) {
  const std::uint64_t d = signal.n_features();
  std::vector<double> values;
  if (metric) {
    if (metric->rows != d || metric->columns != d || metric->values.size() != d * d) {
      return errors::fail(errors::metric_shape(d, metric->rows, metric->columns));
    }
    TARNWELL_CHECK(check_positive_semidefinite(metric->values, d, "checking a Mahalanobis metric"));
    TARNWELL_CHECK(try_allocate("copying a Mahalanobis metric", [&] { values = metric->values; }));
  } else {
    const std::optional<std::uint64_t> size = checked_product(d, d);
    if (!size) return errors::fail(errors::numerical_failure("allocating scatter prefix statistics"));
    TARNWELL_TRY(identity, filled_buffer<double>(*size, 0.0, "allocating an identity metric"));
    values = std::move(identity);
    for (std::uint64_t i = 0; i < d; ++i) values[i * d + i] = 1.0;
  }
  TARNWELL_TRY(scatter, ScatterStatistics::fit(signal));
  const double norm = frobenius_norm(values);
  std::optional<L2Cost> squared_error;
  if (is_identity(values, d)) {
    TARNWELL_TRY(l2, L2Cost::fit(signal));
    squared_error.emplace(std::move(l2));
  }
  return MahalanobisCost(std::move(values), norm, std::move(scatter), std::move(squared_error));
}

bool MahalanobisCost::is_identity(std::span<const double> metric, std::uint64_t d) noexcept {
  for (std::uint64_t i = 0; i < d; ++i) {
    for (std::uint64_t j = 0; j < d; ++j) {
      if (metric[i * d + j] != (i == j ? 1.0 : 0.0)) return false;
    }
  }
  return true;
}

Result<double> MahalanobisCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  if (squared_error_) return squared_error_->segment_cost(start, end);
  const std::size_t d = static_cast<std::size_t>(scatter_.n_features());
  TARNWELL_TRY(scatter, thread_scratch<MahalanobisScratchTag>(d * d, "allocating a scatter buffer"));
  TARNWELL_CHECK(scatter_.segment_scatter(start, end, 1, scatter));
  // tr(M S) needs only the diagonal of M S; each diagonal entry is summed over
  // k in order, exactly as in the full product, in O(d^2) instead of O(d^3).
  double trace = 0.0;
  for (std::size_t i = 0; i < d; ++i) {
    const double* metric_row = metric_.data() + i * d;
    double diagonal = 0.0;
    for (std::size_t k = 0; k < d; ++k) diagonal += metric_row[k] * scatter[k * d + i];
    trace += diagonal;
  }
  if (!is_finite_value(trace)) return errors::fail(errors::non_finite_objective(trace));
  if (trace >= 0.0) return trace;
  // A negative trace is round-off of the prefix differences (the metric is
  // positive semidefinite up to its own tolerance). That round-off scales
  // with the prefix blocks subtracted, which far exceed the scatter of a
  // short or nearly constant segment late in a long signal; bounding it by
  // the scatter's own size would refuse such valid segments.
  const double scale = std::max(frobenius_norm(scatter), scatter_.subtracted_magnitude(start, end));
  if (trace >= -negative_tolerance * std::max(1.0, scale * metric_norm_)) return 0.0;
  return errors::fail(errors::numerical_failure("evaluating a non-negative scatter cost"));
}

Status MahalanobisCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                       EndpointBatch& out) const {
  if (squared_error_) return squared_error_->endpoint_costs(starts, end, out);
  return generic_endpoint_costs(*this, starts, end, out);
}

}  // namespace tarnwell
