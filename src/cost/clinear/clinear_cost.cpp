#include "cost/clinear/clinear_cost.hpp"

#include <algorithm>
#include <cmath>

#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {

Result<CLinearCost> CLinearCost::fit(const Signal& signal) {
  CLinearCost cost;
  TARNWELL_CHECK(try_allocate("copying a signal for CostCLinear",
                              [&] { cost.values_.assign(signal.values().begin(), signal.values().end()); }));
  cost.n_samples_ = signal.n_samples();
  cost.n_features_ = signal.n_features();
  double largest = 0.0;
  for (const double value : cost.values_) largest = std::max(largest, std::fabs(value));
  if (largest > 0.0) std::frexp(largest, &cost.residual_exponent_);
  cost.residual_exponent_ = -cost.residual_exponent_;
  return cost;
}

Result<double> CLinearCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, minimum_length));
  const std::uint64_t length = end - start;
  const std::uint64_t d = n_features_;
  // A later segment's line starts at the previous segment's last sample, one
  // step before its own first sample; a segment at 0 anchors on itself.
  const std::uint64_t anchor = start > 0 ? start - 1 : 0;
  const double offset = start > 0 ? 1.0 : 0.0;
  const double span = static_cast<double>(start > 0 ? length : length - 1);
  const double unit = std::ldexp(1.0, residual_exponent_);
  double sum = 0.0;
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    const double first = values_[anchor * d + feature];
    const double rise = values_[(end - 1) * d + feature] - first;
    for (std::uint64_t j = 0; j < length; ++j) {
      const double predicted = ((static_cast<double>(j) + offset) / span) * rise + first;
      const double residual = (values_[(start + j) * d + feature] - predicted) * unit;
      sum += residual * residual;
    }
  }
  sum = std::ldexp(sum, -2 * residual_exponent_);
  if (!is_finite_value(sum)) return errors::fail(errors::non_finite_objective(sum));
  return sum;
}

Status CLinearCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                   EndpointBatch& out) const {
  return generic_endpoint_costs(*this, starts, end, out);
}

}  // namespace tarnwell
