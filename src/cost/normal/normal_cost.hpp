// Gaussian cost with a ridge: a segment of length len costs
// len * log det(S / (len - 1) + ridge * I), S the segment's scatter matrix.
// Costs can be negative (a nearly constant segment has a tiny determinant).
#pragma once

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

 private:
  NormalCost(ScatterStatistics scatter, double ridge) : scatter_(std::move(scatter)), ridge_(ridge) {}

  ScatterStatistics scatter_;
  double ridge_;
};

}  // namespace tarnwell
