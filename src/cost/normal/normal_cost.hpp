// Gaussian cost with a ridge: a segment of length len costs
// len * log det(S / (len - 1) + ridge * I), S the segment's scatter matrix.
// Costs can be negative (a nearly constant segment has a tiny determinant).
#pragma once

#include "core/saved_state.hpp"
#include <algorithm>
#include <cstdint>
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
  std::optional<double> pelt_pruning_constant() const noexcept { return std::nullopt; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
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
