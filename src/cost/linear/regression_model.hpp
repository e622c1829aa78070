// Least-squares regression of a response block on a design block, row by
// row over the samples: the statistics shared by the linear and the
// autoregressive costs. A segment's cost is the residual sum of squares of
// its rows. Single segments use the exact solver; batches of segments that
// share an end reuse running sums across their starts.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

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

  // The costs of [starts[i], end) for strictly increasing starts, every
  // segment at least `minimum` long; out[i] belongs to starts[i].
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, std::uint64_t minimum,
                        EndpointBatch& out) const;

 private:
  RegressionModel() = default;

  std::vector<double> design_;
  std::vector<double> response_;
  std::uint64_t n_rows_ = 0;
  std::uint64_t p_ = 0;
  std::uint64_t k_ = 0;
  double value_scale_ = 0.0;
};

// How many batch segments of the calling thread went to the exact solver
// because the normal-equation shortcut was not trustworthy for them.
std::uint64_t regression_batch_fallback_count() noexcept;

}  // namespace tarnwell
