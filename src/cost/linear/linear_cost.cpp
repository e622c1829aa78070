#include "cost/linear/linear_cost.hpp"

#include "core/fallible_allocation.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {

Result<LinearCost> LinearCost::fit(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  if (d < 2) return errors::fail(errors::too_few_features("linear", 2, d));
  constexpr const char* context = "allocating linear regression storage";
  TARNWELL_TRY(design, reserve_buffer<double>(signal.values().size() - n, context));
  TARNWELL_TRY(response, reserve_buffer<double>(n, context));
  const double* values = signal.values().data();
  for (std::uint64_t t = 0; t < n; ++t) {
    const double* row = values + t * d;
    response.push_back(row[0]);
    design.insert(design.end(), row + 1, row + d);
  }
  TARNWELL_TRY(regression, RegressionModel::create(std::move(design), d - 1, std::move(response), 1));
  // No intercept: a shift would change the fit, so the rows are summed as they are.
  std::vector<double> design_shift;
  std::vector<double> response_shift;
  TARNWELL_CHECK(try_allocate("allocating regression checkpoint statistics", [&] {
    design_shift.assign(d - 1, 0.0);
    response_shift.assign(1, 0.0);
  }));
  TARNWELL_CHECK(regression.fit_checkpoints(std::move(design_shift), std::move(response_shift)));
  return LinearCost(std::move(regression), d);
}

Result<double> LinearCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples()));
  TARNWELL_CHECK(check_segment_length(start, end, minimum_length));
  return regression_.segment_cost(start, end);
}

}  // namespace tarnwell
