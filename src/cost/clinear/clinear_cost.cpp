#include "cost/clinear/clinear_cost.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {

Result<CLinearCost> CLinearCost::fit(const Signal& signal) {
  CLinearCost cost;
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  // The signal itself fits in memory, so n * d does not overflow; the table has one row more.
  const std::optional<std::uint64_t> table_size = checked_product(n + 1, d);
  if (!table_size) return errors::fail(errors::numerical_failure("allocating CostCLinear prefix statistics"));
  TARNWELL_CHECK(try_allocate("copying a signal for CostCLinear", [&] {
    cost.values_.assign(signal.values().begin(), signal.values().end());
    // Kept at the power of two that puts the largest magnitude in [0.5, 1),
    // costs scaled back when returned: exact, and a signal in tiny units
    // never squares into subnormal numbers (slow, and imprecise enough to
    // change the answer).
    double largest = 0.0;
    for (const double value : cost.values_) largest = std::max(largest, std::fabs(value));
    if (largest > 0.0) std::frexp(largest, &cost.unit_exponent_);
    for (double& value : cost.values_) value = std::ldexp(value, -cost.unit_exponent_);
    cost.prefix_.resize(*table_size);
  }));
  cost.n_samples_ = n;
  cost.n_features_ = d;
  for (std::uint64_t feature = 0; feature < d; ++feature) cost.prefix_[feature] = CLinearPrefixRow{};
  for (std::uint64_t t = 0; t < n; ++t) {
    const double index = static_cast<double>(t);
    for (std::uint64_t feature = 0; feature < d; ++feature) {
      const CLinearPrefixRow& before = cost.prefix_[t * d + feature];
      const DoubleDouble value = exact_difference(cost.values_[t * d + feature], cost.values_[feature]);
      cost.prefix_[(t + 1) * d + feature] =
          CLinearPrefixRow{before.sum + value, before.square + value * value, before.indexed + value * index};
    }
  }
  return cost;
}

Result<double> CLinearCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, minimum_length));
  return finished_cost(clinear_prefix_cost(tables(), start, end), start, end);
}

Result<double> CLinearCost::finished_cost(double unit_cost, std::uint64_t start, std::uint64_t end) const {
  if (unit_cost == declined_cost) unit_cost = direct_cost(start, end);
  // Costs are squares: back at the signal's scale by twice the unit's exponent.
  const double sum = std::ldexp(unit_cost, 2 * unit_exponent_);
  if (!is_finite_value(sum)) return errors::fail(errors::non_finite_objective(sum));
  return sum;
}

// A later segment's line starts at the previous segment's last sample, one
// step before its own first sample; a segment at 0 anchors on itself.
double CLinearCost::direct_cost(std::uint64_t start, std::uint64_t end) const noexcept {
  const std::uint64_t length = end - start;
  const std::uint64_t d = n_features_;
  const std::uint64_t anchor = start > 0 ? start - 1 : 0;
  const double offset = start > 0 ? 1.0 : 0.0;
  const double span = static_cast<double>(start > 0 ? length : length - 1);
  double sum = 0.0;
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    const double first = values_[anchor * d + feature];
    const double rise = values_[(end - 1) * d + feature] - first;
    for (std::uint64_t j = 0; j < length; ++j) {
      const double predicted = ((static_cast<double>(j) + offset) / span) * rise + first;
      const double residual = values_[(start + j) * d + feature] - predicted;
      sum += residual * residual;
    }
  }
  return sum;
}

Status CLinearCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                   EndpointBatch& out) const {
  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  for (const std::uint64_t start : starts) {
    if (!(start < end && end <= n_samples_ && end - start >= minimum_length)) [[unlikely]] {
      // The segment's own checks give the error.
      TARNWELL_CHECK(check_segment(start, end, n_samples_));
      TARNWELL_CHECK(check_segment_length(start, end, minimum_length));
    }
  }
  double* values = out.data();
  clinear_prefix_costs(tables(), starts, end, values);
  // Multiplying by a power of two that is a normal double rounds exactly
  // as ldexp does (once, correctly), and is far cheaper.
  const bool plain_scale = std::abs(unit_exponent_) <= 511;
  const double scale = std::ldexp(1.0, 2 * unit_exponent_);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (values[i] == declined_cost || !plain_scale) [[unlikely]] {
      TARNWELL_TRY(value, finished_cost(values[i], starts[i], end));
      values[i] = value;
      continue;
    }
    values[i] *= scale;
    if (!is_finite_value(values[i])) [[unlikely]] return errors::fail(errors::non_finite_objective(values[i]));
  }
  out.set_size(starts.size());
  return {};
}

}  // namespace tarnwell
