#include "cost/segment_fit.hpp"

#include "core/kahan_sum.hpp"

namespace tarnwell {

void segment_means(const double* values, std::uint64_t d, std::uint64_t start, std::uint64_t end,
                   std::span<double> out) noexcept {
  const double* first = values + start * d;
  const double length = static_cast<double>(end - start);
  for (std::uint64_t f = 0; f < d; ++f) {
    KahanSum total;
    for (std::uint64_t t = start; t < end; ++t) total.add(values[t * d + f] - first[f]);
    out[f] = first[f] + total.sum / length;
  }
}

Status fit_segment_means(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) {
  return for_each_segment(breakpoints, signal.n_features(), out,
                          [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
                            segment_means(signal.values().data(), signal.n_features(), start, end, row);
                            return Status{};
                          });
}

void segment_covariance(const double* values, std::uint64_t d, std::uint64_t start, std::uint64_t end,
                        std::span<const double> means, double ridge, std::span<double> out) noexcept {
  const double divisor = static_cast<double>(end - start) - 1.0;
  std::uint64_t entry = 0;
  for (std::uint64_t i = 0; i < d; ++i) {
    for (std::uint64_t j = i; j < d; ++j) {
      KahanSum total;
      for (std::uint64_t t = start; t < end; ++t) {
        total.add((values[t * d + i] - means[i]) * (values[t * d + j] - means[j]));
      }
      out[entry++] = total.sum / divisor + (i == j ? ridge : 0.0);
    }
  }
}

std::string feature_placeholder(std::uint64_t f) { return "{" + std::to_string(f) + "}"; }

std::vector<std::string> feature_names(std::string_view prefix, std::uint64_t d, std::uint64_t first) {
  std::vector<std::string> names;
  for (std::uint64_t f = first; f < d; ++f) names.push_back(std::string(prefix) + "[" + feature_placeholder(f) + "]");
  return names;
}

}  // namespace tarnwell
