// Mahalanobis cost: the sum over a segment's samples of the squared deviation
// from the segment mean in a fixed positive-semidefinite metric M, that is
// tr(M S) for the segment scatter S. Non-negative by construction.
//
// With the identity metric (the search models "mahalanobis" and "ml") that is
// the squared-error cost, and the cost answers through the squared-error
// statistics and arithmetic, which Pelt prunes functionally as well.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/dense_matrix.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/l2/l2_cost.hpp"
#include "cost/scatter/scatter_statistics.hpp"

namespace tarnwell {

class MahalanobisCost {
 public:
  // With a metric: it must be d x d, finite, symmetric and positive
  // semidefinite, and is kept unchanged. Without one: the d x d identity.
  static Result<MahalanobisCost> fit(const Signal& signal, const std::optional<DenseMatrix>& metric);

  std::uint64_t n_samples() const noexcept { return scatter_.n_samples(); }
  std::uint64_t n_features() const noexcept { return scatter_.n_features(); }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  // Pruning constant 0: splitting a segment never raises the total. The
  // whole's scatter is the parts' scatters plus the positive semidefinite
  // between-parts term len_a len_b / len (m_a - m_b)(m_a - m_b)^T, and
  // tr(M X) >= 0 for positive semidefinite M and X.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  // Any segment of length at least 1 has a cost (0 for one sample up to rounding).
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The squared-error cost of the same signal when the metric is exactly the
  // identity, nothing otherwise.
  const L2Cost* squared_error() const noexcept { return squared_error_ ? &*squared_error_ : nullptr; }
  // The metric (d x d, row-major) and the scatter statistics.
  std::span<const double> metric() const noexcept { return metric_; }
  const ScatterStatistics& scatter() const noexcept { return scatter_; }

  // The saved form of the fitted statistics (pickling); restore checks every
  // size against the others and fails on a damaged or inconsistent state.
  void save(StateWriter& out) const;
  static Result<MahalanobisCost> restore(StateReader& in);

 private:
  MahalanobisCost(std::vector<double> metric, double metric_norm, ScatterStatistics scatter,
                  std::optional<L2Cost> squared_error)
      : metric_(std::move(metric)),
        metric_norm_(metric_norm),
        scatter_(std::move(scatter)),
        squared_error_(std::move(squared_error)) {}

  static bool is_identity(std::span<const double> metric, std::uint64_t d) noexcept;

  std::vector<double> metric_;  // d x d, row-major
  double metric_norm_;          // Frobenius norm of the metric
  ScatterStatistics scatter_;
  std::optional<L2Cost> squared_error_;  // with the identity metric only
};

}  // namespace tarnwell
