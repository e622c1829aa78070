#include "datasets/segment_shapes.hpp"

#include <cmath>

#include "core/fallible_allocation.hpp"

namespace tarnwell {
namespace {

// Per-column parameters of the current segment, reused across segments.
struct ColumnParameters {
  std::vector<double> first;
  std::vector<double> second;
  std::vector<double> third;
};

Result<std::vector<double>> column_buffer(std::uint64_t n_features) {
  TARNWELL_TRY(buffer, reserve_buffer<double>(n_features, "allocating synthetic segment parameters"));
  buffer.resize(static_cast<std::size_t>(n_features));
  return buffer;
}

Result<ColumnParameters> column_parameters(std::uint64_t n_features) {
  TARNWELL_TRY(first, column_buffer(n_features));
  TARNWELL_TRY(second, column_buffer(n_features));
  TARNWELL_TRY(third, column_buffer(n_features));
  return ColumnParameters{std::move(first), std::move(second), std::move(third)};
}

void append_constant(DatasetRng& rng, std::uint64_t length, ColumnParameters& columns, std::vector<double>& values) {
  std::vector<double>& levels = columns.first;
  for (double& level : levels) level = rng.uniform() * 10.0 - 5.0;
  for (std::uint64_t row = 0; row < length; ++row) values.insert(values.end(), levels.begin(), levels.end());
}

void append_linear(DatasetRng& rng, std::uint64_t length, ColumnParameters& columns, std::vector<double>& values) {
  std::vector<double>& intercepts = columns.first;
  std::vector<double>& slopes = columns.second;
  for (double& intercept : intercepts) intercept = rng.uniform() * 6.0 - 3.0;
  for (double& slope : slopes) slope = rng.uniform() * 0.2 - 0.1;
  for (std::uint64_t row = 0; row < length; ++row) {
    const auto position = static_cast<double>(row);
    for (std::size_t j = 0; j < slopes.size(); ++j) values.push_back(slopes[j] * position + intercepts[j]);
  }
}

void append_normal(DatasetRng& rng, std::uint64_t length, ColumnParameters& columns, std::vector<double>& values) {
  std::vector<double>& means = columns.first;
  std::vector<double>& scales = columns.second;
  for (double& mean : means) mean = rng.uniform() * 8.0 - 4.0;
  for (double& scale : scales) scale = rng.uniform() * 1.5 + 0.5;
  for (std::uint64_t row = 0; row < length; ++row) {
    for (std::size_t j = 0; j < means.size(); ++j) values.push_back(means[j] + scales[j] * rng.normal());
  }
}

// The three draws of a column happen in column order; filling draws nothing,
// so drawing every column first and then filling row-major gives the same
// sequence as drawing each column just before filling it.
void append_wavy(DatasetRng& rng, std::uint64_t length, ColumnParameters& columns, std::vector<double>& values) {
  std::vector<double>& amplitudes = columns.first;
  std::vector<double>& frequencies = columns.second;
  std::vector<double>& phases = columns.third;
  for (std::size_t j = 0; j < amplitudes.size(); ++j) {
    amplitudes[j] = rng.uniform() * 2.5 + 0.5;
    frequencies[j] = (rng.uniform() * 3.5 + 0.5) * DatasetRng::two_pi;
    phases[j] = rng.uniform() * DatasetRng::two_pi;
  }
  const auto segment_length = static_cast<double>(length);
  for (std::uint64_t row = 0; row < length; ++row) {
    // The fraction of the segment comes first, so every segment starts its
    // wave afresh at its own phase.
    const double fraction = static_cast<double>(row) / segment_length;
    for (std::size_t j = 0; j < amplitudes.size(); ++j) {
      values.push_back(std::sin(fraction * frequencies[j] + phases[j]) * amplitudes[j]);
    }
  }
}

}  // namespace

Status append_segments(SegmentShape shape, DatasetRng& rng, std::span<const std::uint64_t> breakpoints,
                       std::uint64_t n_features, std::vector<double>& values) {
  TARNWELL_TRY(columns, column_parameters(n_features));

  std::uint64_t start = 0;
  for (const std::uint64_t end : breakpoints) {
    const std::uint64_t length = end - start;
    switch (shape) {
      case SegmentShape::constant: append_constant(rng, length, columns, values); break;
      case SegmentShape::linear: append_linear(rng, length, columns, values); break;
      case SegmentShape::normal: append_normal(rng, length, columns, values); break;
      case SegmentShape::wavy: append_wavy(rng, length, columns, values); break;
    }
    start = end;
  }
  return {};
}

}  // namespace tarnwell
