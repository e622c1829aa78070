// Continuous piecewise-linear cost: within a segment every feature is
// compared with the straight line joining the last sample before the segment
// (the segment's own first sample when it starts at 0) to the segment's last
// sample. Consecutive segments share their joining sample, so a segmentation
// is scored as one continuous polyline.
//
// A segment costs O(d) from prefix statistics of every feature (sums of the
// centred values, of their squares and of their products with the sample
// index), kept in double-double precision so that segment sums taken by
// subtraction stay exact to far below a double's rounding even at the end of
// a long signal. Where the result is so small against the terms it is made
// of that their rounding could matter, the segment is recomputed sample by
// sample from the kept copy of the signal.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cost/clinear/clinear_prefix_costs.hpp"
#include "core/large_table.hpp"
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
  // No pruning: a split can raise the total by any amount. The two parts'
  // lines are both pinned to the joining sample, so when that sample is an
  // outlier one line through the whole beats them by its squared distance.
  std::optional<double> pelt_pruning_constant() const noexcept { return std::nullopt; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's checks.
  void save(StateWriter& out) const;
  static Result<CLinearCost> restore(StateReader& in);

 private:
  CLinearCost() = default;

  // The per-sample residuals against the line, in the direct arithmetic.
  double direct_cost(std::uint64_t start, std::uint64_t end) const noexcept;
  CLinearTables tables() const noexcept { return {values_.data(), prefix_.data(), n_features_}; }
  // A cost at the unit scale (the prefix form's, or the direct one where it
  // declines), back at the signal's scale and checked.
  Result<double> finished_cost(double unit_cost, std::uint64_t start, std::uint64_t end) const;

  std::vector<double> values_;  // row-major copy of the signal, times 2^-unit_exponent_
  int unit_exponent_ = 0;
  LargeTable<CLinearPrefixRow> prefix_;  // (n + 1) x d, row-major
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;
};

}  // namespace tarnwell
