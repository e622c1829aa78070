#include "cost/ar/ar_cost.hpp"

#include <algorithm>

#include "core/error/value_range.hpp"
#include "core/fallible_allocation.hpp"
#include "cost/ar/ar_design.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {

Result<ARCost> ARCost::fit(const Signal& signal, std::uint64_t order) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  // The order sizes the design (n * (order * d + 1) values): it is checked
  // before anything is allocated.
  TARNWELL_CHECK(check_autoregressive_order(order, n));
  TARNWELL_TRY(p, autoregressive_predictors(order, d));
  constexpr const char* storage_context = "allocating autoregressive design storage";
  const std::optional<std::uint64_t> design_size = checked_product(n, p);
  if (!design_size) return errors::fail(errors::numerical_failure(storage_context));
  TARNWELL_TRY(design, filled_buffer<double>(*design_size, 0.0, storage_context));
  TARNWELL_TRY(response, reserve_buffer<double>(signal.values().size(), storage_context));

  const double* values = signal.values().data();
  // The regression's statistics are products of the shifted values (below):
  // a value whose square leaves the double range is refused by name here
  // rather than as a non-finite cost deep in a search.
  for (std::uint64_t t = 0; t < n; ++t) {
    for (std::uint64_t j = 0; j < d; ++j) {
      const double shifted = values[t * d + j] - values[j];
      if (!is_finite_value(shifted * shifted)) return errors::fail(errors::deviation_overflow(t, j, shifted, "products"));
    }
  }
  for (std::uint64_t t = 0; t < n; ++t) autoregressive_design_row(values, d, order, t, design.data() + t * p);
  response.assign(signal.values().begin(), signal.values().end());
  TARNWELL_TRY(regression, RegressionModel::create(std::move(design), p, std::move(response), d));
  // Every feature, in the response and in each lag column, shifted by its
  // first value: an affine change of every row's regressors (zeros before
  // sample 0 included) that the intercept absorbs, so no segment's residuals
  // change.
  std::vector<double> design_shift;
  std::vector<double> response_shift;
  TARNWELL_CHECK(try_allocate("allocating regression checkpoint statistics", [&] {
    response_shift.assign(values, values + (n > 0 ? d : 0));
    response_shift.resize(d, 0.0);
    design_shift.assign(p, 0.0);
    for (std::uint64_t lag = 0; lag < order; ++lag) {
      std::copy(response_shift.begin(), response_shift.end(), design_shift.begin() + 1 + lag * d);
    }
  }));
  TARNWELL_CHECK(regression.fit_checkpoints(std::move(design_shift), std::move(response_shift)));
  return ARCost(std::move(regression), d, order);
}

Result<double> ARCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  if (minimum_length_ == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_CHECK(check_segment(start, end, n_samples()));
  TARNWELL_CHECK(check_segment_length(start, end, minimum_length_));
  return regression_.segment_cost(start, end);
}

}  // namespace tarnwell
