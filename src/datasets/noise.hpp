// The noise stage of a synthetic dataset.
#pragma once

#include <span>

#include "datasets/dataset_rng.hpp"

namespace tarnwell {

// Adds noise_std times one normal draw to every value, in storage (row-major)
// order. A noise_std that is not positive, -0.0 included, draws nothing, so
// it leaves both the values and the generator untouched.
void add_noise(DatasetRng& rng, double noise_std, std::span<double> values) noexcept;

}  // namespace tarnwell
