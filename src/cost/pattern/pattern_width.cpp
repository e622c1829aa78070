#include "cost/pattern/pattern_width.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "cost/pattern/feature_moments.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocating = "allocating a periodogram";

// In-place radix-2 transform of a power-of-two length.
void fourier_transform(std::vector<std::complex<double>>& values) {
  const std::size_t size = values.size();
  for (std::size_t i = 1, j = 0; i < size; ++i) {
    std::size_t bit = size >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(values[i], values[j]);
  }
  for (std::size_t length = 2; length <= size; length <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t start = 0; start < size; start += length) {
      std::complex<double> twiddle(1.0, 0.0);
      for (std::size_t j = 0; j < length / 2; ++j) {
        const std::complex<double> even = values[start + j];
        const std::complex<double> odd = values[start + j + length / 2] * twiddle;
        values[start + j] = even + odd;
        values[start + j + length / 2] = even - odd;
        // Recomputed rather than accumulated for long transforms: the twiddle keeps its accuracy.
        twiddle = (j + 1) % 64 == 0 ? std::polar(1.0, angle * static_cast<double>(j + 1)) : twiddle * step;
      }
    }
  }
}

}  // namespace

Result<std::uint64_t> learned_pattern_width(const Signal& signal) {
  const std::uint64_t n = signal.n_samples(), d = signal.n_features();
  // Periods from 2 samples to a tenth of the signal; a signal too short for
  // one such period keeps the smallest width.
  if (n < 20) return smallest_pattern_width;
  std::size_t size = 1;
  while (size < n) size <<= 1;
  std::vector<std::complex<double>> values;
  std::vector<double> power;
  TARNWELL_CHECK(try_allocate(allocating, [&] {
    values.resize(size);
    power.assign(size / 2 + 1, 0.0);
  }));
  const std::span<const double> x = signal.values();
  for (std::uint64_t f = 0; f < d; ++f) {
    const auto [mean, spread] = feature_moments(signal, f);
    if (!(spread > 0.0)) continue;  // a constant feature has no period
    const double scale = 1.0 / spread;
    for (std::uint64_t t = 0; t < n; ++t) values[t] = (x[t * d + f] - mean) * scale;
    std::fill(values.begin() + static_cast<std::ptrdiff_t>(n), values.end(), std::complex<double>(0.0, 0.0));
    fourier_transform(values);
    for (std::size_t q = 0; q < power.size(); ++q) power[q] += std::norm(values[q]);
  }
  // Frequency q / size has period size / q: periods in [2, n / 10].
  const double longest = static_cast<double>(n) / 10.0;
  std::size_t best = 0;
  for (std::size_t q = 1; q < power.size(); ++q) {
    const double period = static_cast<double>(size) / static_cast<double>(q);
    if (period > longest) continue;
    if (best == 0 || power[q] > power[best]) best = q;
  }
  if (best == 0 || !(power[best] > 0.0)) return smallest_pattern_width;
  const double period = static_cast<double>(size) / static_cast<double>(best);
  return std::max<std::uint64_t>(smallest_pattern_width, static_cast<std::uint64_t>(period / 8.0));
}

}  // namespace tarnwell
