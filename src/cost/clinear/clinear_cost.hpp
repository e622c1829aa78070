// Continuous piecewise-linear cost: within a segment every feature is
// compared with the straight line joining the last sample before the segment
// (the segment's own first sample when it starts at 0) to the segment's last
// sample. Consecutive segments share their joining sample, so a segmentation
// is scored as one continuous polyline.
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

class CLinearCost {
 public:
  static constexpr std::uint64_t minimum_length = 3;

  static Result<CLinearCost> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return minimum_length; }
  std::optional<double> pelt_pruning_constant() const noexcept { return std::nullopt; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's checks.
  void save(StateWriter& out) const;
  static Result<CLinearCost> restore(StateReader& in);

 private:
  CLinearCost() = default;

  std::vector<double> values_;  // row-major copy of the signal
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
  // Residuals are squared after scaling by 2^residual_exponent_, chosen so the
  // signal's largest magnitude lies in [0.5, 1), and the sum is scaled back:
  // exact, and a signal in tiny units then never squares into subnormal
  // numbers, whose arithmetic is many times slower (and less precise).
  int residual_exponent_ = 0;
};

}  // namespace tarnwell
