#include "search/l1_potts/l1_potts_data.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "search/common/total_order.hpp"
#include "search/l1_potts/l1_potts_objective.hpp"

namespace tarnwell {

std::vector<double> distinct_levels_of(std::vector<double> values) {
  std::sort(values.begin(), values.end(), total_order_less);
  const auto end = std::unique(values.begin(), values.end(), [](double kept, double next) { return kept == next; });
  values.erase(end, values.end());
  values.shrink_to_fit();
  return values;
}

std::optional<std::uint64_t> locate_level(const std::vector<double>& levels, double value) noexcept {
  // Levels hold finite values, strictly increasing numerically once the two
  // zeros are merged, so plain < is a valid order for the search.
  const auto found = std::upper_bound(levels.begin(), levels.end(), value);
  if (found == levels.begin() || !(*(found - 1) == value)) return std::nullopt;
  return static_cast<std::uint64_t>(found - levels.begin() - 1);
}

Result<L1PottsData> L1PottsData::fit(const Signal& signal, const std::optional<StridedMatrix>& weights) {
  if (signal.n_features() != 1) return errors::fail(errors::not_scalar("L1Potts", signal.n_features()));
  const std::uint64_t n = signal.n_samples();
  std::vector<double> sample_weights;
  if (weights) {
    TARNWELL_TRY(taken, take_weights(*weights, n));
    sample_weights = std::move(taken);
  } else {
    sample_weights.assign(n, 1.0);
  }
  std::vector<double> values(signal.values().begin(), signal.values().end());
  std::vector<double> levels = distinct_levels_of(values);
  std::vector<std::uint32_t> level_of_samples;
  if (levels.size() <= UINT32_MAX) {
    level_of_samples.reserve(n);
    for (const double value : values) {
      const std::optional<std::uint64_t> level = locate_level(levels, value);
      if (!level) return errors::fail(errors::numerical_failure("locating an observation in the L1-Potts state space"));
      level_of_samples.push_back(static_cast<std::uint32_t>(*level));
    }
  }
  double largest_weight = 0.0;
  double weight_sum = 0.0;  // a bound, rounded up, when the weights are whole numbers
  bool whole_numbers = true;
  for (const double weight : sample_weights) {
    largest_weight = weight > largest_weight ? weight : largest_weight;
    whole_numbers = whole_numbers && weight == std::floor(weight);
    weight_sum += weight;
  }
  const double largest_deviation = largest_weight * (levels.back() - levels.front());
  L1PottsData data(std::move(values), std::move(sample_weights), std::move(levels), std::move(level_of_samples));
  data.largest_deviation_ = largest_deviation;
  // Below 2^52 the rounded sum cannot hide an exact one at or above 2^53.
  data.whole_number_weights_ = whole_numbers && weight_sum < 0x1p52;
  data.whole_signal_cost_ = std::numeric_limits<double>::infinity();
  if (data.level_of_samples_.empty()) return data;
  const std::uint64_t whole[] = {n};
  const Result<double> cost = weighted_median_cost(data, whole);
  if (!cost && cost.error().code() == ErrorCode::allocation_failed) return errors::fail(cost.error());
  // A non-finite cost is the prediction's to report, as a non-finite objective.
  if (cost) data.whole_signal_cost_ = *cost;
  return data;
}

}  // namespace tarnwell
