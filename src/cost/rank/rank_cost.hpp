// Rank-based cost: every feature is replaced by its centred average ranks; a
// segment of length len with mean rank vector m costs -len * m^T P m, P the
// pseudo-inverse of the rank covariance. Costs are never positive, and they
// do not change under a strictly increasing transform of any feature.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/signal.hpp"
#include "cost/endpoint_batch.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class RankCost {
 public:
  static Result<RankCost> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  // Pruning constant 0: splitting a segment never raises the total. With
  // q(m) = m^T P m convex (P positive semidefinite) and the whole's mean rank
  // m = (len_a m_a + len_b m_b) / len the length-weighted mean of the parts',
  // len q(m) <= len_a q(m_a) + len_b q(m_b), so -len q(m) is at least the
  // parts' sum.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  // The pseudo-inverse P (d x d, row-major) and row `position` of the rank
  // prefix sums (d values).
  std::span<const double> precision() const noexcept { return precision_; }
  const double* rank_prefix_row(std::uint64_t position) const noexcept {
    return rank_prefix_sums_.data() + position * n_features_;
  }
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The saved form of the fitted statistics (pickling); restore checks every
  // size against the others and fails on a damaged or inconsistent state.
  void save(StateWriter& out) const;
  static Result<RankCost> restore(StateReader& in);

 private:
  RankCost() = default;

  std::vector<double> rank_prefix_sums_;  // (n + 1) x d; row r sums the centred ranks before r
  std::vector<double> precision_;         // d x d row-major pseudo-inverse of the rank covariance
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
};

}  // namespace tarnwell
