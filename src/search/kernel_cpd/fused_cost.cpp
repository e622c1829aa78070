#include "search/kernel_cpd/fused_cost.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwell {

Result<double> settle_fused_cost(double cost, double diagonal_end, double within, std::uint64_t length) {
  if (!std::isfinite(cost)) return errors::fail(errors::non_finite_objective(cost));
  const double magnitude = std::max(std::fabs(diagonal_end), std::fabs(within) / static_cast<double>(length));
  if (cost < -(1e-10 + 1e-9 * magnitude)) {
    return errors::fail(errors::numerical_failure("computing a non-negative kernel segment cost"));
  }
  return std::max(cost, 0.0);
}

}  // namespace tarnwell
