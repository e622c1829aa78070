#include "core/fallible_allocation.hpp"
#include "cost/ar/ar_design.hpp"
#include "cost/ar/ar_model.hpp"
#include "cost/linear_algebra/least_squares.hpp"

namespace tarnwell {

std::vector<std::string> ARModel::parameter_names(std::uint64_t d) const {
  std::vector<std::string> names;
  for (std::uint64_t f = 0; f < d; ++f) {
    const std::string equation = feature_placeholder(f);
    names.push_back("intercept[" + equation + "]");
    for (std::uint64_t lag = 1; lag <= order; ++lag) {
      for (std::uint64_t g = 0; g < d; ++g) {
        names.push_back("lag" + std::to_string(lag) + "[" + feature_placeholder(g) + "->" + equation + "]");
      }
    }
  }
  return names;
}

// The solver gives beta as (1 + order d) x d, one column per equation; a row
// of the output lists equation by equation.
Status ARModel::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                             std::span<double> out) const {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  TARNWELL_CHECK(check_autoregressive_order(order, n));
  TARNWELL_TRY(p, autoregressive_predictors(order, d));
  constexpr const char* context = "allocating a segment's autoregression";
  std::uint64_t longest = 0;
  std::uint64_t previous = 0;
  for (const std::uint64_t end : breakpoints) {
    longest = std::max(longest, end - previous);
    previous = end;
  }
  const std::optional<std::uint64_t> design_size = checked_product(longest, p);
  if (!design_size) return errors::fail(errors::numerical_failure(context));
  TARNWELL_TRY(design, filled_buffer<double>(*design_size, 0.0, context));
  TARNWELL_TRY(beta, filled_buffer<double>(p * d, 0.0, context));
  const double* values = signal.values().data();
  const auto fit = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
    for (std::uint64_t t = start; t < end; ++t) {
      autoregressive_design_row(values, d, order, t, design.data() + (t - start) * p);
    }
    TARNWELL_CHECK(least_squares_coefficients(design.data(), values + start * d, end - start, p, d, beta));
    for (std::uint64_t f = 0; f < d; ++f) {
      for (std::uint64_t i = 0; i < p; ++i) row[f * p + i] = beta[i * d + f];
    }
    return Status{};
  };
  return for_each_segment(breakpoints, d * p, out, fit);
}

}  // namespace tarnwell
