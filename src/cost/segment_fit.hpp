// The fitted parameters of the segments of a segmentation: what a model's
// fit_segments writes, one row of the model's segment_parameters(d) values
// per segment, and the pieces the models share (means, covariances, the
// walk over segments).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/signal.hpp"

namespace tarnwell {

// Calls fit(start, end, row) for every segment of a validated breakpoint
// list, `row` the segment's `width` values of `out` (segments x width).
template <class Fit>
Status for_each_segment(std::span<const std::uint64_t> breakpoints, std::uint64_t width, std::span<double> out,
                        Fit&& fit) {
  std::uint64_t start = 0;
  double* row = out.data();
  for (const std::uint64_t end : breakpoints) {
    TARNWELL_CHECK(fit(start, end, std::span<double>(row, width)));
    row += width;
    start = end;
  }
  return {};
}

// Each feature's mean over rows [start, end) of a row-major block of d
// columns: compensated sums of the deviations from the segment's first row,
// so an offset costs no digits.
void segment_means(const double* values, std::uint64_t d, std::uint64_t start, std::uint64_t end,
                   std::span<double> out) noexcept;

// Every segment's means (the fit of the models of a level).
Status fit_segment_means(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out);

// The sample covariance (divisor length - 1) of rows [start, end), given
// their means, written as its upper triangle row by row (d (d + 1) / 2
// values); `ridge` is added to the diagonal.
void segment_covariance(const double* values, std::uint64_t d, std::uint64_t start, std::uint64_t end,
                        std::span<const double> means, double ridge, std::span<double> out) noexcept;

// Names of one value per feature: "{prefix}[{f}]" for f = first .. d - 1, where
// "{f}" is the placeholder the package fills with the feature's label.
std::vector<std::string> feature_names(std::string_view prefix, std::uint64_t d, std::uint64_t first = 0);

// "{f}": the placeholder of feature f in a parameter name.
std::string feature_placeholder(std::uint64_t f);

}  // namespace tarnwell
