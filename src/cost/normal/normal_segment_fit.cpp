#include "cost/normal/normal_model.hpp"

namespace tarnwell {

std::vector<std::string> NormalModel::parameter_names(std::uint64_t d) const {
  std::vector<std::string> names = feature_names("mean", d);
  for (std::uint64_t i = 0; i < d; ++i) {
    for (std::uint64_t j = i; j < d; ++j) {
      names.push_back("covariance[" + feature_placeholder(i) + "," + feature_placeholder(j) + "]");
    }
  }
  return names;
}

Status NormalModel::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                                 std::span<double> out) const {
  TARNWELL_CHECK(check());
  const std::uint64_t d = signal.n_features();
  const double* values = signal.values().data();
  return for_each_segment(breakpoints, segment_parameters(d), out,
                          [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
                            segment_means(values, d, start, end, row.first(d));
                            segment_covariance(values, d, start, end, row.first(d), ridge, row.subspan(d));
                            return Status{};
                          });
}

}  // namespace tarnwell
