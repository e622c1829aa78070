#include <algorithm>
#include <numeric>

#include "core/fallible_allocation.hpp"
#include "cost/l1/l1_model.hpp"

namespace tarnwell {

Status L1Model::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                             std::span<double> out) const {
  const std::uint64_t d = signal.n_features();
  const double* values = signal.values().data();
  TARNWELL_TRY(column, reserve_buffer<double>(signal.n_samples(), "allocating a segment's median buffer"));
  const auto fit = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
    const auto middle = static_cast<std::ptrdiff_t>((end - start) / 2);
    for (std::uint64_t f = 0; f < d; ++f) {
      column.clear();
      for (std::uint64_t t = start; t < end; ++t) column.push_back(values[t * d + f]);
      std::nth_element(column.begin(), column.begin() + middle, column.end());
      const double upper = column[static_cast<std::size_t>(middle)];
      row[f] = (end - start) % 2 == 1
                   ? upper
                   : std::midpoint(*std::max_element(column.begin(), column.begin() + middle), upper);
    }
    return Status{};
  };
  return for_each_segment(breakpoints, d, out, fit);
}

}  // namespace tarnwell
