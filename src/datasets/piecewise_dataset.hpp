// Seeded synthetic signals with known change points: random segment lengths,
// a shape per segment, then Gaussian noise, all from one DatasetRng in a fixed
// order, so equal arguments give bit-identical results.
#pragma once

#include <cstdint>
#include <vector>

#include "datasets/segment_shapes.hpp"
#include "python/error/error_kind.hpp"

namespace tarnwell {

struct DatasetParameters {
  std::uint64_t n_samples = 0;
  std::uint64_t n_features = 1;
  std::uint64_t n_bkps = 3;
  double noise_std = 1.0;
  std::uint64_t seed = 0;
};

struct PiecewiseDataset {
  std::vector<double> values;  // row-major, n_samples x n_features
  std::uint64_t n_samples;
  std::uint64_t n_features;
  std::vector<std::uint64_t> breakpoints;  // n_bkps + 1 values ending at n_samples
};

// Refuses n_features = 0, n_bkps >= n_samples and a noise_std that is not
// finite or is below zero ("invalid synthetic dataset parameters"), then a
// value count beyond 64 bits ("synthetic dataset dimensions overflow").
Result<PiecewiseDataset> generate_piecewise_dataset(SegmentShape shape, const DatasetParameters& parameters);

}  // namespace tarnwell
