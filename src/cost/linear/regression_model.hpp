// Least-squares regression of a response block on a design block, row by
// row over the samples: the statistics shared by the linear and the
// autoregressive costs. A segment's cost is the residual sum of squares of
// its rows. Single segments come from checkpointed running sums of the
// normal equations, batches of segments that share an end reuse running sums
// across their starts; both fall back to the exact solver wherever the
// normal equations are not trustworthy.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/double_double.hpp"
#include "cost/endpoint_batch.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class RegressionModel {
 public:
  // design: rows x p values, response: rows x k values, both row-major; p and
  // k at least 1. The two must describe the same number of samples.
  static Result<RegressionModel> create(std::vector<double> design, std::uint64_t p, std::vector<double> response,
                                        std::uint64_t k);

  std::uint64_t n_rows() const noexcept { return n_rows_; }
  std::uint64_t design_columns() const noexcept { return p_; }
  std::uint64_t response_columns() const noexcept { return k_; }
  std::span<const double> design() const noexcept { return design_; }
  std::span<const double> response() const noexcept { return response_; }

  // The mean squared response per row: the scale of the sums a residual sum
  // of squares is the difference of, hence of its round-off (the searches'
  // tie rule takes its absolute part from it, so a perfectly fitted signal's
  // costs of 0 plus round-off still tie).
  double value_scale() const noexcept { return value_scale_; }

  // The exact cost of rows [start, end), which the caller has validated.
  Result<double> exact_cost(std::uint64_t start, std::uint64_t end) const;

  // Checkpoints of the normal equations' running sums, every
  // `checkpoint_stride` rows, from which segment_cost answers in
  // O(stride p^2 + p^3) whatever the segment's length. The sums are taken
  // over shifted rows (design minus `design_shift`, response minus
  // `response_shift`, one value per column), which keeps them small for a
  // signal far from zero; the caller guarantees the shift leaves the residual
  // sum of squares of every segment unchanged.
  Status fit_checkpoints(std::vector<double> design_shift, std::vector<double> response_shift);

  // The cost of rows [start, end), which the caller has validated: from the
  // checkpoints where their normal equations are trustworthy (the batch's
  // tests), from the exact solver otherwise.
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;

  // The normal equations' sums over the shifted rows [start, end): x x^T (p x
  // p, lower triangle row by row), x y^T (p x k) and |y|^2, from the
  // checkpoints and the rows beyond them (the segments' own sums).
  void range_sums(std::uint64_t start, std::uint64_t end, double* gram, double* cross,
                  double& total_squares) const noexcept;
  std::span<const double> design_shift() const noexcept { return design_shift_; }
  std::span<const double> response_shift() const noexcept { return response_shift_; }

  // The costs of [starts[i], end) for strictly increasing starts, every
  // segment at least `minimum` long; out[i] belongs to starts[i].
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, std::uint64_t minimum,
                        EndpointBatch& out) const;

 private:
  RegressionModel() = default;

  // The exact solver on the shifted rows: the same residuals, without the
  // digits a signal far from zero costs it.
  Result<double> shifted_exact_cost(std::uint64_t start, std::uint64_t end) const;
  // Adds the shifted rows [first, last) to a workspace's running sums.
  void accumulate_rows(std::uint64_t first, std::uint64_t last, double* gram, double* cross,
                       double& total_squares) const noexcept;
  std::uint64_t checkpoint_entries() const noexcept { return p_ * (p_ + 1) / 2 + p_ * k_ + 1; }

  // Rows between checkpoints: a segment adds up to twice this many rows
  // itself, and the checkpoints take 16 bytes per entry; about 4 entries
  // per row (64 bytes per sample) balance the two.
  std::uint64_t checkpoint_stride = 8;

  std::vector<double> design_;
  std::vector<double> response_;
  // Row c: the sums over shifted rows [0, c * stride) of x x^T (lower
  // triangle, row by row), x y^T (p x k) and |y|^2. Empty when not fitted.
  std::vector<DoubleDouble> checkpoints_;
  std::vector<double> design_shift_;
  std::vector<double> response_shift_;
  std::uint64_t n_rows_ = 0;
  std::uint64_t p_ = 0;
  std::uint64_t k_ = 0;
  double value_scale_ = 0.0;
};

// How many batch segments of the calling thread went to the exact solver
// because the normal-equation shortcut was not trustworthy for them.
std::uint64_t regression_batch_fallback_count() noexcept;

}  // namespace tarnwell
