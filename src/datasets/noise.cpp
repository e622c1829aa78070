#include "datasets/noise.hpp"

namespace tarnwell {

void add_noise(DatasetRng& rng, double noise_std, std::span<double> values) noexcept {
  if (!(noise_std > 0.0)) return;
  for (double& value : values) value = rng.normal() * noise_std + value;
}

}  // namespace tarnwell
