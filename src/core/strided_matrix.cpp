#include "core/strided_matrix.hpp"

namespace tarnwell {

Result<SignalShape> check_signal_shape(std::size_t ndim, std::span<const std::uint64_t> extents) {
  if (ndim != 1 && ndim != 2) return errors::fail(errors::signal_dimensions(ndim));
  const std::uint64_t n_samples = extents[0];
  const std::uint64_t n_features = ndim == 2 ? extents[1] : 1;
  if (n_samples == 0 || n_features == 0) return errors::fail(errors::empty_signal());
  return SignalShape{n_samples, n_features};
}

Status check_finite(const StridedMatrix& view) {
  for (std::uint64_t row = 0; row < view.n_samples; ++row) {
    for (std::uint64_t column = 0; column < view.n_features; ++column) {
      if (!is_finite_value(view.at(row, column))) return errors::fail(errors::non_finite_signal(row, column));
    }
  }
  return {};
}

}  // namespace tarnwell
