// The autoregressive design: which orders a signal allows, and one row of
// the regressors, 1, then x[t-1], x[t-2], ..., x[t-order], each lag all d
// features; lags before sample 0 are zeros.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "core/error/error_kind.hpp"
#include "core/signal.hpp"

namespace tarnwell {

// The orders a signal of n samples can be fitted with: positive, at most n
// (lags beyond the signal hold only zeros and no segment could be long
// enough to use them), and below the largest 64-bit value.
inline Status check_autoregressive_order(std::uint64_t order, std::uint64_t n) {
  if (order == 0) return errors::fail(errors::invalid_ar_order(order));
  if (order > n) {
    return errors::fail(errors::value_error_text("autoregressive order " + std::to_string(order) + " exceeds the " +
                                                 std::to_string(n) +
                                                 " samples of the signal; order must be at most n_samples"));
  }
  if (order == UINT64_MAX) {
    return errors::fail(errors::numerical_failure("computing autoregressive minimum segment length"));
  }
  return {};
}

// The design's columns, 1 + order * d, or a numerical failure when they
// cannot be counted.
inline Result<std::uint64_t> autoregressive_predictors(std::uint64_t order, std::uint64_t d) {
  const std::optional<std::uint64_t> lagged = checked_product(order, d);
  if (!lagged || *lagged == UINT64_MAX) {
    return errors::fail(errors::numerical_failure("computing autoregressive predictor count"));
  }
  return *lagged + 1;
}

// `row` holds 1 + order * d values; `values` is the row-major signal.
inline void autoregressive_design_row(const double* values, std::uint64_t d, std::uint64_t order, std::uint64_t t,
                                      double* row) noexcept {
  row[0] = 1.0;
  const std::uint64_t reach = std::min(order, t);
  for (std::uint64_t lag = 1; lag <= reach; ++lag) std::copy_n(values + (t - lag) * d, d, row + 1 + (lag - 1) * d);
  std::fill(row + 1 + reach * d, row + 1 + order * d, 0.0);
}

}  // namespace tarnwell
