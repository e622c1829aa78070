// Absolute-deviation cost: per feature, the sum of the absolute deviations of
// the segment's samples from their lower median, summed over features. It
// keeps an owned copy of the signal and sorts each segment column on demand.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>

#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "cost/endpoint_batch.hpp"
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

  // The saved form (pickling) is the fitted signal, which this cost keeps
  // (possibly re-arranged); restore fits again from it, with all of fit's checks.
  void save(StateWriter& out) const;
  static Result<L1Cost> restore(StateReader& in);

 private:
  explicit L1Cost(Signal signal) : signal_(std::move(signal)) {}

  Signal signal_;
};

}  // namespace tarnwell
