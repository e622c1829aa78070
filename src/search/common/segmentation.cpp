#include "search/common/segmentation.hpp"

#include "core/strided_matrix.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {

Result<Segmentation> make_segmentation(std::vector<std::uint64_t> breakpoints, std::uint64_t n_samples,
                                       std::uint64_t min_size, double cost, double objective) {
  TARNWELL_CHECK(check_breakpoints(breakpoints, n_samples, min_size));
  if (!is_finite_value(cost)) return errors::fail(errors::non_finite_objective(cost));
  if (!is_finite_value(objective)) return errors::fail(errors::non_finite_objective(objective));
  return Segmentation{std::move(breakpoints), cost, objective};
}

Status check_penalty(double pen) {
  if (!(is_finite_value(pen) && pen > 0.0)) return errors::fail(errors::invalid_penalty(pen));
  return {};
}

}  // namespace tarnwell
