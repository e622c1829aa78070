// Mean and standard deviation of one feature of a signal (two passes), the
// standardisation shared by the width rule and the neighbour search.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include "core/signal.hpp"

namespace tarnwell {

struct FeatureMoments {
  double mean = 0.0;
  double spread = 0.0;  // 0 for a constant feature
};

inline FeatureMoments feature_moments(const Signal& signal, std::uint64_t feature) {
  const std::uint64_t n = signal.n_samples(), d = signal.n_features();
  const std::span<const double> x = signal.values();
  double mean = 0.0;
  for (std::uint64_t t = 0; t < n; ++t) mean += x[t * d + feature];
  mean /= static_cast<double>(n);
  double square_sum = 0.0;
  for (std::uint64_t t = 0; t < n; ++t) square_sum += (x[t * d + feature] - mean) * (x[t * d + feature] - mean);
  return {mean, std::sqrt(square_sum / static_cast<double>(n))};
}

}  // namespace tarnwell
