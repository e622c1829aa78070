// Gaussian cost with a ridge: a segment of length len costs
// len * log det(S / (len - 1) + ridge * I), S the segment's scatter matrix.
// Costs can be negative (a nearly constant segment has a tiny determinant).
#pragma once

#include "core/saved_state.hpp"
#include <algorithm>
#include <cstdint>
#include <numbers>
#include <optional>
#include <span>

#include "cost/endpoint_batch.hpp"
#include "cost/scatter/scatter_statistics.hpp"

namespace tarnwell {

class NormalCost {
 public:
  // The ridge is checked by the caller (the model's fit).
  static Result<NormalCost> fit(const Signal& signal, double ridge);

  std::uint64_t n_samples() const noexcept { return scatter_.n_samples(); }
  std::uint64_t n_features() const noexcept { return scatter_.n_features(); }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  // A segment of at most n_features samples has a singular covariance: its
  // log-determinant is then the ridge's, a reward that grows without bound as
  // the signal's unit grows against the fixed ridge. The searches therefore
  // consider only segments of n_features + 1 samples or more; error() and
  // sum_of_costs keep accepting any segment of 2 or more.
  std::uint64_t search_min_segment_length() const noexcept {
    return std::max<std::uint64_t>(2, n_features() == UINT64_MAX ? n_features() : n_features() + 1);
  }
  // Pruning constant -4 d ln 2: splitting a segment raises the total by at
  // most 4 d ln 2. With the maximum-likelihood form f(len) = len log det(S/len
  // + ridge I) there is no rise at all: the whole's scatter is at least the
  // sum of the parts' (it adds their between-parts term), so S/len + ridge I
  // is at least the length-weighted mean of the parts' matrices, and log det
  // is increasing and concave. Dividing by len - 1 instead only enlarges the
  // matrix, S/(len - 1) + ridge I <= len/(len - 1) (S/len + ridge I), so
  // f <= cost <= f + d len ln(len/(len - 1)) <= f + 2 d ln 2 for len >= 2
  // (len ln(len/(len - 1)) falls from 2 ln 2 towards 1). Hence
  // cost_a + cost_b <= f_a + f_b + 4 d ln 2 <= f_whole + 4 d ln 2
  // <= cost_whole + 4 d ln 2.
  static double split_bound(std::uint64_t d) noexcept { return 4.0 * static_cast<double>(d) * std::numbers::ln2; }
  std::optional<double> pelt_pruning_constant() const noexcept { return -split_bound(n_features()); }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  double ridge() const noexcept { return ridge_; }
  const ScatterStatistics& scatter() const noexcept { return scatter_; }
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The saved form of the fitted statistics (pickling); restore checks every
  // size against the others and fails on a damaged or inconsistent state.
  void save(StateWriter& out) const;
  static Result<NormalCost> restore(StateReader& in);

 private:
  NormalCost(ScatterStatistics scatter, double ridge) : scatter_(std::move(scatter)), ridge_(ridge) {}

  ScatterStatistics scatter_;
  double ridge_;
};

}  // namespace tarnwell
