#include "cost/clinear/clinear_model.hpp"

namespace tarnwell {

Status CLinearModel::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                                  std::span<double> out) const {
  const std::uint64_t d = signal.n_features();
  const double* values = signal.values().data();
  const auto fit = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
    const std::uint64_t anchor = start == 0 ? 0 : start - 1;
    const double run = static_cast<double>(end - 1 - anchor);
    for (std::uint64_t f = 0; f < d; ++f) row[f] = (values[(end - 1) * d + f] - values[anchor * d + f]) / run;
    return Status{};
  };
  return for_each_segment(breakpoints, d, out, fit);
}

}  // namespace tarnwell
