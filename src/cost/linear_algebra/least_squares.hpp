// The exact least-squares fit of one block of rows: the minimum-norm
// solution and its residual sum of squares, from a thin singular value
// decomposition. Plain C++ interface; the decomposition stays in the .cpp.
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// Singular values at or below this absolute level are treated as zero, so a
// rank-deficient design (a zero or repeated column) gets the minimum-norm fit.
inline constexpr double least_squares_singular_threshold = 1e-12;

// design: rows x p, response: rows x k, both row-major and contiguous.
// Returns sum_ij (Y - X beta)_ij^2 for the minimum-norm least-squares beta,
// summed column by column from -0.0. Fails with a numerical failure when the
// decomposition breaks down and with the non-finite-objective error when the
// sum overflows.
Result<double> least_squares_residual(const double* design, const double* response, std::uint64_t rows,
                                      std::uint64_t p, std::uint64_t k);

// The minimum-norm least-squares beta itself, p x k, written row-major into
// `beta` (p * k values); the same failures.
Status least_squares_coefficients(const double* design, const double* response, std::uint64_t rows,
                                  std::uint64_t p, std::uint64_t k, std::span<double> beta);

}  // namespace tarnwell
