#include "datasets/piecewise_dataset.hpp"

#include <cmath>
#include <string>

#include "core/signal.hpp"
#include "datasets/dataset_rng.hpp"
#include "core/fallible_allocation.hpp"
#include "datasets/noise.hpp"
#include "datasets/random_breakpoints.hpp"

namespace tarnwell {
namespace {

Status check_parameters(const DatasetParameters& parameters) {
  // n_bkps >= n_samples also refuses n_samples = 0; -0.0 passes as zero noise.
  const bool valid = parameters.n_features > 0 && parameters.n_bkps < parameters.n_samples &&
                     std::isfinite(parameters.noise_std) && !(parameters.noise_std < 0.0);
  if (!valid) return errors::fail(errors::invalid_dataset());
  return {};
}

}  // namespace

Result<PiecewiseDataset> generate_piecewise_dataset(SegmentShape shape, const DatasetParameters& parameters) {
  TARNWELL_CHECK(check_parameters(parameters));
  const std::optional<std::uint64_t> value_count = checked_product(parameters.n_samples, parameters.n_features);
  if (!value_count) return errors::fail(errors::value_error_text("synthetic dataset dimensions overflow"));

  // Reserved before any draw: a signal too large to hold fails at once,
  // without first spending time on breakpoints and shapes.
  TARNWELL_TRY(values, reserve_buffer<double>(*value_count, "allocating synthetic dataset values"));
  DatasetRng rng(parameters.seed);
  TARNWELL_TRY(breakpoints, draw_breakpoints(rng, parameters.n_samples, parameters.n_bkps));
  TARNWELL_CHECK(append_segments(shape, rng, breakpoints, parameters.n_features, values));
  add_noise(rng, parameters.noise_std, values);
  // A finite noise_std near the largest double still overflows: the samples
  // would be infinite, which no caller can use (and no search accepts).
  for (std::size_t at = 0; at < values.size(); ++at) {
    if (!std::isfinite(values[at])) {
      return errors::fail(errors::value_error_text(
          "noise_std is too large: the generated signal has a non-finite value at row " +
          std::to_string(at / parameters.n_features) + ", column " + std::to_string(at % parameters.n_features)));
    }
  }

  if (values.size() != *value_count) {
    return errors::fail(errors::value_error_text("synthetic dataset produced " + std::to_string(values.size()) +
                                                 " values, expected " + std::to_string(*value_count)));
  }
  return PiecewiseDataset{std::move(values), parameters.n_samples, parameters.n_features, std::move(breakpoints)};
}

}  // namespace tarnwell
