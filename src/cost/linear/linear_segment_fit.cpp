#include "core/fallible_allocation.hpp"
#include "cost/linear/linear_model.hpp"
#include "cost/linear_algebra/least_squares.hpp"

namespace tarnwell {

Status LinearModel::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                                 std::span<double> out) const {
  const std::uint64_t d = signal.n_features();
  if (d < 2) return errors::fail(errors::too_few_features("linear", 2, d));
  constexpr const char* context = "allocating a segment's regression";
  TARNWELL_TRY(design, reserve_buffer<double>(signal.values().size(), context));
  TARNWELL_TRY(response, reserve_buffer<double>(signal.n_samples(), context));
  const double* values = signal.values().data();
  const auto fit = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
    design.clear();
    response.clear();
    for (std::uint64_t t = start; t < end; ++t) {
      response.push_back(values[t * d]);
      design.insert(design.end(), values + t * d + 1, values + (t + 1) * d);
    }
    return least_squares_coefficients(design.data(), response.data(), end - start, d - 1, 1, row);
  };
  return for_each_segment(breakpoints, d - 1, out, fit);
}

}  // namespace tarnwell
