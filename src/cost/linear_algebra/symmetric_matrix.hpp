// Dense routines on small symmetric matrices (d x d, d = the number of
// features), shared by the Normal, Mahalanobis and Rank costs. Matrices are
// plain row-major spans here; Eigen stays inside symmetric_matrix.cpp.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// The log-determinant of a symmetric matrix through its Cholesky factor L:
// 2 * (the sum of ln(L[i][i]) in index order from -0.0), or nothing when a
// pivot (the value whose square root becomes L[i][i]) is not strictly
// positive. Factorises column by column in place: the lower triangle of
// `matrix` is overwritten by L, the upper triangle is never read.
std::optional<double> cholesky_log_determinant(std::span<double> matrix, std::size_t dimension) noexcept;

// The metric test: every entry finite, symmetric within tau and no
// eigenvalue below -tau, where tau = max(d, 1) * 2^-45 * max(1, max |entry|).
// Fails with the metric message, or with a memory error in `context`.
Status check_positive_semidefinite(std::span<const double> matrix, std::size_t dimension, std::string_view context);

// The pseudo-inverse of a symmetric positive-semidefinite matrix (row-major
// result) from its eigendecomposition V diag(lambda) V^T: eigenvalues above
// tau = max(d, 1) * 2^-45 * max(1, max |lambda|) are inverted, the others
// give 0. An eigenvalue below -tau or not finite fails with the metric message.
Result<std::vector<double>> positive_semidefinite_pseudo_inverse(std::span<const double> matrix,
                                                                 std::size_t dimension, std::string_view context);

// A factor L (row-major, d x d) of a symmetric positive-semidefinite matrix,
// M = L L^T up to rounding, from its eigendecomposition: L = V diag(sqrt(max(lambda, 0))).
// The squared distance (x - y)^T M (x - y) is then |L^T (x - y)|^2. Nothing
// when the decomposition fails or a value is not finite.
std::optional<std::vector<double>> positive_semidefinite_factor(std::span<const double> matrix, std::size_t dimension);

}  // namespace tarnwell
