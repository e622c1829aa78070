// Seeded synthetic signals with known change points: random segment lengths,
// a shape per segment, then Gaussian noise, all from one DatasetRng in a fixed
// order, so equal arguments give bit-identical results.
#pragma once

#include <cstdint>
#include <vector>

#include "datasets/segment_shapes.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// The generators' arguments (their defaults live with the Python signature).
struct DatasetParameters {
  std::uint64_t n_samples;
  std::uint64_t n_features;
  std::uint64_t n_bkps;
  double noise_std;
  std::uint64_t seed;
};

struct PiecewiseDataset {
  std::vector<double> values;  // row-major, n_samples x n_features
  std::uint64_t n_samples;
  std::uint64_t n_features;
  std::vector<std::uint64_t> breakpoints;  // n_bkps + 1 values ending at n_samples
};

// Refuses n_features = 0, n_bkps >= n_samples and a noise_std that is not
// finite or is below zero ("invalid synthetic dataset parameters"), then a
// value count beyond 64 bits ("synthetic dataset dimensions overflow"), and
// noise so large that a sample overflows to infinity.
Result<PiecewiseDataset> generate_piecewise_dataset(SegmentShape shape, const DatasetParameters& parameters);

}  // namespace tarnwell
