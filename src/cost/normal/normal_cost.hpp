// Gaussian cost with a ridge: a segment of length len costs
// len * log det(S / (len - 1) + ridge * I), S the segment's scatter matrix.
// Costs can be negative (a nearly constant segment has a tiny determinant).
#pragma once

#include "core/saved_state.hpp"
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
