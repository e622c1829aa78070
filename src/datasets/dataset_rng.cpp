#include "datasets/dataset_rng.hpp"

#include <cmath>

#include "core/splitmix64.hpp"

namespace tarnwell {

double DatasetRng::uniform() noexcept {
  const std::uint64_t top_bits = splitmix64_next(state_) >> 11;
  // The conversion is exact (53 bits); the + 0.5 rounds to nearest even.
  return (static_cast<double>(top_bits) + 0.5) * 0x1.0p-53;
}

double DatasetRng::exponential() noexcept { return -std::log(uniform()); }

double DatasetRng::normal() noexcept {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  const double first = uniform();
  const double second = uniform();
  const double radius = std::sqrt(std::log(first) * -2.0);
  const double angle = second * two_pi;
  spare_ = std::sin(angle) * radius;
  has_spare_ = true;
  return radius * std::cos(angle);
}

}  // namespace tarnwell
