#include "cost/l2/l2_pruning.hpp"

#include <cmath>

namespace tarnwell {

// The prefix sums are compensated: each row is within a few roundings of the
// sum of the absolute centred values before it, so a difference of two rows
// is within a few roundings of the total absolute sum (the samples' absolute
// values are recovered from the rows, which is close enough for a bound with
// this much room).
L2RangeStatistics::L2RangeStatistics(const L2Cost& cost) : cost_(&cost) {
  const std::uint64_t d = cost.n_features();
  double total = 0.0;
  for (std::uint64_t t = 0; t < cost.n_samples(); ++t) {
    const double* before = cost.prefix_sum_row(t);
    const double* after = cost.prefix_sum_row(t + 1);
    for (std::uint64_t k = 0; k < d; ++k) total += std::fabs(after[k] - before[k]);
  }
  sum_error_ = 0x1p-48 * total * std::sqrt(static_cast<double>(d));
}

}  // namespace tarnwell
