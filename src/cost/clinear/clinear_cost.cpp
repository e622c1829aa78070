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
  for (std::uint64_t feature = 0; feature < d; ++feature) cost.prefix_[feature] = PrefixRow{};
  for (std::uint64_t t = 0; t < n; ++t) {
    const double index = static_cast<double>(t);
    for (std::uint64_t feature = 0; feature < d; ++feature) {
      const PrefixRow& before = cost.prefix_[t * d + feature];
      const DoubleDouble value = cost.centred(t, feature);
      cost.prefix_[(t + 1) * d + feature] =
          PrefixRow{before.sum + value, before.square + value * value, before.indexed + value * index};
    }
  }
  return cost;
}

Result<double> CLinearCost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, minimum_length));
  const std::optional<double> fast = prefix_cost(start, end);
  const double sum = std::ldexp(fast ? *fast : direct_cost(start, end), 2 * unit_exponent_);
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

// With f_t = t - start + offset the line's abscissa, A the anchor's and Z
// the last sample's centred value, q the span and D = (Z - A) / q, a
// feature's residuals are c_t - A - f_t D, whose squares add up to
//   sum (c_t - A)^2 - 2 D sum f_t (c_t - A) + D^2 sum f_t^2,
// each sum a difference of prefix sums or a closed form in the length.
std::optional<double> CLinearCost::prefix_cost(std::uint64_t start, std::uint64_t end) const noexcept {
  const std::uint64_t d = n_features_;
  const std::uint64_t length = end - start;
  const std::uint64_t anchor = start > 0 ? start - 1 : 0;
  const std::uint64_t offset = start > 0 ? 1 : 0;
  const double span = static_cast<double>(start > 0 ? length : length - 1);
  // Sums of f and f^2 over the segment, exact as integers: 64 bits hold
  // them up to lengths of 2^20, longer segments take 128.
  DoubleDouble abscissa_sum;
  DoubleDouble abscissa_squares;
  if (length < (std::uint64_t{1} << 20)) {
    const std::uint64_t pairs = length * (length - 1) / 2;
    abscissa_sum = from_integer(pairs + offset * length);
    abscissa_squares = from_integer(pairs * (2 * length - 1) / 3 + 2 * offset * pairs + offset * length);
  } else {
    const unsigned __int128 len = length;
    const unsigned __int128 pairs = len * (len - 1) / 2;
    abscissa_sum = from_integer(pairs + offset * len);
    abscissa_squares = from_integer(pairs * (2 * len - 1) / 3 + 2 * offset * pairs + offset * len);
  }
  const double shift = static_cast<double>(start - offset);  // f_t = t - shift
  const double count = static_cast<double>(length);
  double total = 0.0;
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    const PrefixRow& low = prefix_[start * d + feature];
    const PrefixRow& high = prefix_[end * d + feature];
    const DoubleDouble sum = high.sum - low.sum;
    const DoubleDouble square = high.square - low.square;
    const DoubleDouble indexed = high.indexed - low.indexed;
    // The line through the anchor and the last sample, its two parameters
    // rounded to doubles as the direct arithmetic rounds them; the squares
    // of the residuals against exactly that line are then summed without
    // further loss.
    const double first = centred(anchor, feature).value();
    const double slope = (centred(end - 1, feature).value() - first) / span;
    const DoubleDouble weighted = indexed - sum * shift - abscissa_sum * first;
    const DoubleDouble residuals = square - scaled(sum * first, 2.0) + exact_product(first, first) * count -
                                   scaled(weighted * slope, 2.0) + exact_product(slope, slope) * abscissa_squares;
    const double value = residuals.value();
    // Every quantity above is exact to about 2^-100 of the largest magnitude
    // it was made from (the prefix sums accumulate one such rounding per
    // sample); the result is kept only where that stays far below its own
    // rounding, which it cannot do for a nearly perfect fit.
    const double a = std::fabs(first);
    const double b = std::fabs(slope);
    const double magnitude = std::fabs(high.square.hi) + std::fabs(low.square.hi) +
                             2.0 * a * (std::fabs(high.sum.hi) + std::fabs(low.sum.hi)) + count * a * a +
                             2.0 * b * (std::fabs(high.indexed.hi) + std::fabs(low.indexed.hi) +
                                        shift * (std::fabs(high.sum.hi) + std::fabs(low.sum.hi)) +
                                        a * abscissa_sum.hi) +
                             b * b * abscissa_squares.hi;
    const double error = (static_cast<double>(end) + 64.0) * 0x1p-100 * magnitude;
    if (!(value > 0.0) || !(error <= 0x1p-52 * value) || !is_finite_value(magnitude)) return std::nullopt;
    total += value;
  }
  return total;
}

Status CLinearCost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                   EndpointBatch& out) const {
  return generic_endpoint_costs(*this, starts, end, out);
}

}  // namespace tarnwell
