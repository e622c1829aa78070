// Absolute-deviation cost: per feature, the sum of the absolute deviations of
// the segment's samples from their lower median, summed over features. It
// keeps an owned copy of the signal and, per feature, a median index that
// answers a segment in O(log n); short segments, and the rare ones whose
// indexed answer may have lost digits, are sorted instead.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/l1/median_deviation_index.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class L1Cost {
 public:
  static Result<L1Cost> fit(const Signal& signal);
  // Copies the caller's array once, in logical order.
  static Result<L1Cost> fit(const StridedMatrix& view);

  std::uint64_t n_samples() const noexcept { return signal_.n_samples(); }
  std::uint64_t n_features() const noexcept { return signal_.n_features(); }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  // Pruning constant 0: splitting a segment never raises the total. Each part
  // is measured from its own median, the deviation-minimising centre for its
  // samples, while the whole measures both parts from one common centre.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  // Any segment of length at least 1 has a cost; the minimum of 2 is the
  // searches' and sum_of_costs' business.
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // Bytes held by the median indexes (none when they are turned off).
  std::uint64_t index_bytes() const noexcept;

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's
  // checks, and rebuilds the indexes.
  void save(StateWriter& out) const;
  static Result<L1Cost> restore(StateReader& in);

 private:
  static Result<L1Cost> with_indexes(Signal signal);
  explicit L1Cost(Signal signal) : signal_(std::move(signal)) {}

  double feature_deviation(std::uint64_t start, std::uint64_t end, std::size_t feature,
                           std::span<double> column) const;
  Status add_sorted_suffix(std::span<const std::uint64_t> starts, std::uint64_t end, double* totals) const;

  Signal signal_;
  std::vector<MedianDeviationIndex> indexes_;  // one per feature, or none
};

}  // namespace tarnwell
