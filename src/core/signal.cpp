#include "core/signal.hpp"

#include <cmath>

namespace tarnwell {

std::optional<std::uint64_t> checked_product(std::uint64_t left, std::uint64_t right) noexcept {
  std::uint64_t product;
  if (__builtin_mul_overflow(left, right, &product)) return std::nullopt;
  return product;
}

Result<Signal> Signal::create(std::vector<double> values, std::uint64_t n_samples, std::uint64_t n_features) {
  if (n_samples == 0 || n_features == 0) return errors::fail(errors::empty_signal());
  const std::optional<std::uint64_t> size = checked_product(n_samples, n_features);
  if (!size) return errors::fail(errors::numerical_failure("computing signal storage size"));
  if (values.size() != *size) return errors::fail(errors::signal_length(values.size(), *size));
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!is_finite_value(values[i])) return errors::fail(errors::non_finite_signal(i / n_features, i % n_features));
  }
  return Signal(std::move(values), n_samples, n_features);
}

Result<Signal> Signal::copy_from(const StridedMatrix& view) {
  const std::optional<std::uint64_t> size = checked_product(view.n_samples, view.n_features);
  if (!size) return errors::fail(errors::numerical_failure("computing signal storage size"));
  std::vector<double> values;
  values.reserve(*size);
  for (std::uint64_t row = 0; row < view.n_samples; ++row) {
    for (std::uint64_t column = 0; column < view.n_features; ++column) values.push_back(view.at(row, column));
  }
  return create(std::move(values), view.n_samples, view.n_features);
}

std::optional<std::span<const double>> Signal::row(std::uint64_t t) const noexcept {
  if (t >= n_samples_) return std::nullopt;
  const std::optional<std::uint64_t> offset = checked_product(t, n_features_);
  if (!offset) return std::nullopt;
  return std::span<const double>(values_).subspan(*offset, n_features_);
}

Result<std::vector<double>> take_weights(const StridedMatrix& weights, std::uint64_t n_samples) {
  if (weights.n_samples != n_samples) return errors::fail(errors::weights_length(weights.n_samples, n_samples));
  std::vector<double> values;
  values.reserve(n_samples);
  for (std::uint64_t i = 0; i < n_samples; ++i) {
    const double weight = weights.at(i, 0);
    // -0.0 compares equal to 0 and is accepted; NaN fails both tests.
    if (!is_finite_value(weight) || !(weight >= 0.0)) return errors::fail(errors::invalid_weight(i, weight));
    values.push_back(weight);
  }
  return values;
}

}  // namespace tarnwell
