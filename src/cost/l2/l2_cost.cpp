#include "cost/l2/l2_cost.hpp"

#include "core/fallible_allocation.hpp"
#include "core/kahan_sum.hpp"

namespace tarnwell {
Result<L2Cost> L2Cost::fit(const Signal& signal) {
  StridedMatrix view;
  view.data = reinterpret_cast<const std::byte*>(signal.values().data());
  view.n_samples = signal.n_samples();
  view.n_features = signal.n_features();
  view.row_stride = static_cast<std::int64_t>(signal.n_features() * sizeof(double));
  view.column_stride = sizeof(double);
  return fit(view);
}

Result<L2Cost> L2Cost::fit(const StridedMatrix& view) {
  const std::uint64_t n = view.n_samples;
  const std::uint64_t d = view.n_features;
  if (!checked_product(n, d)) return errors::fail(errors::numerical_failure("computing signal storage size"));
  const std::optional<std::uint64_t> table_size = n == UINT64_MAX ? std::nullopt : checked_product(n + 1, d);
  if (!table_size) return errors::fail(errors::numerical_failure("allocating L2 prefix statistics"));

  L2Cost cost;
  std::vector<KahanSum> sums;
  std::vector<KahanSum> squares;
  TARNWELL_CHECK(try_allocate("allocating L2 prefix statistics", [&] {
    cost.reference_.assign(d, 0.0);
    cost.prefix_sums_.assign(*table_size, 0.0);
    cost.prefix_squares_.assign(*table_size, 0.0);
    sums.resize(d);
    squares.resize(d);
  }));
  for (std::uint64_t row = 0; row < n; ++row) {
    double* sum_row = cost.prefix_sums_.data() + (row + 1) * d;
    double* square_row = cost.prefix_squares_.data() + (row + 1) * d;
    for (std::uint64_t column = 0; column < d; ++column) {
      const double value = view.at(row, column);
      if (!is_finite_value(value)) return errors::fail(errors::non_finite_signal(row, column));
      // Centring on the first sample keeps the sums small when the signal
      // sits far from zero, so the differences of prefix sums stay accurate.
      if (row == 0) cost.reference_[column] = value;
      const double centred = value - cost.reference_[column];
      const double squared = centred * centred;
      if (!is_finite_value(squared)) {
        return errors::fail(errors::numerical_failure("forming squared centered observations"));
      }
      sums[column].add(centred);
      squares[column].add(squared);
      sum_row[column] = sums[column].sum;
      square_row[column] = squares[column].sum;
    }
  }
  cost.n_samples_ = n;
  cost.n_features_ = d;
  return cost;
}

}  // namespace tarnwell
