#include "cost/linear_algebra/symmetric_matrix.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

#include "core/fallible_allocation.hpp"
#include "core/strided_matrix.hpp"

namespace tarnwell {
namespace {

// 2^-45: the relative tolerance of the symmetry and eigenvalue tests.
constexpr double relative_tolerance = 2.842170943040401e-14;

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

Eigen::Map<const RowMajorMatrix> as_matrix(std::span<const double> values, std::size_t dimension) {
  const auto size = static_cast<Eigen::Index>(dimension);
  return Eigen::Map<const RowMajorMatrix>(values.data(), size, size);
}

double tolerance_for(std::size_t dimension, double scale) {
  return static_cast<double>(std::max<std::size_t>(dimension, 1)) * relative_tolerance * scale;
}

}  // namespace

std::optional<double> cholesky_log_determinant(std::span<double> matrix, std::size_t dimension) noexcept {
  double* a = matrix.data();
  const std::size_t d = dimension;
  double half = -0.0;
  for (std::size_t j = 0; j < d; ++j) {
    const double* row_j = a + j * d;
    double pivot = row_j[j];
    for (std::size_t k = 0; k < j; ++k) pivot -= row_j[k] * row_j[k];
    // Also refuses NaN pivots.
    if (!(pivot > 0.0)) return std::nullopt;
    const double diagonal = std::sqrt(pivot);
    a[j * d + j] = diagonal;
    for (std::size_t i = j + 1; i < d; ++i) {
      double* row_i = a + i * d;
      double value = row_i[j];
      for (std::size_t k = 0; k < j; ++k) value -= row_i[k] * row_j[k];
      row_i[j] = value / diagonal;
    }
  }
  // The logarithms are taken after the factorisation so the sum runs in index
  // order whatever the factorisation's own order.
  for (std::size_t i = 0; i < d; ++i) half += std::log(a[i * d + i]);
  return 2.0 * half;
}

Status check_positive_semidefinite(std::span<const double> matrix, std::size_t dimension, std::string_view context) {
  const std::size_t d = dimension;
  double scale = 1.0;
  for (const double value : matrix) {
    if (!is_finite_value(value)) return errors::fail(errors::metric_invalid());
    scale = std::max(scale, std::fabs(value));
  }
  const double tau = tolerance_for(d, scale);
  for (std::size_t i = 0; i < d; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (std::fabs(matrix[i * d + j] - matrix[j * d + i]) > tau) return errors::fail(errors::metric_invalid());
    }
  }
  if (d == 0) return {};
  bool positive_semidefinite = false;
  TARNWELL_CHECK(try_allocate(context, [&] {
    // Reads the lower triangle; the symmetry test above bounds what the upper one could change.
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(Eigen::MatrixXd(as_matrix(matrix, d)),
                                                                Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success) return;
    positive_semidefinite = std::ranges::all_of(solver.eigenvalues(), [&](double lambda) {
      return is_finite_value(lambda) && lambda >= -tau;
    });
  }));
  if (!positive_semidefinite) return errors::fail(errors::metric_invalid());
  return {};
}

Result<std::vector<double>> positive_semidefinite_pseudo_inverse(std::span<const double> matrix,
                                                                 std::size_t dimension, std::string_view context) {
  const std::size_t d = dimension;
  std::vector<double> inverse;
  bool valid = false;
  TARNWELL_CHECK(try_allocate(context, [&] {
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(Eigen::MatrixXd(as_matrix(matrix, d)),
                                                                Eigen::ComputeEigenvectors);
    if (solver.info() != Eigen::Success) return;
    const Eigen::VectorXd& lambda = solver.eigenvalues();
    double scale = 1.0;
    for (const double value : lambda) {
      if (!is_finite_value(value)) return;
      scale = std::max(scale, std::fabs(value));
    }
    const double tau = tolerance_for(d, scale);
    Eigen::VectorXd inverted(lambda.size());
    for (Eigen::Index i = 0; i < lambda.size(); ++i) {
      if (lambda[i] < -tau) return;
      // Directions without spread (a constant feature) are left out.
      inverted[i] = lambda[i] > tau ? 1.0 / lambda[i] : 0.0;
    }
    const Eigen::MatrixXd scaled = solver.eigenvectors() * inverted.asDiagonal();
    const RowMajorMatrix product = scaled * solver.eigenvectors().transpose();
    inverse.assign(product.data(), product.data() + product.size());
    valid = true;
  }));
  if (!valid) return errors::fail(errors::metric_invalid());
  return inverse;
}

std::optional<std::vector<double>> positive_semidefinite_factor(std::span<const double> matrix, std::size_t dimension) {
  const std::size_t d = dimension;
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(Eigen::MatrixXd(as_matrix(matrix, d)),
                                                              Eigen::ComputeEigenvectors);
  if (solver.info() != Eigen::Success) return std::nullopt;
  Eigen::VectorXd roots(static_cast<Eigen::Index>(d));
  for (Eigen::Index i = 0; i < roots.size(); ++i) {
    const double lambda = solver.eigenvalues()[i];
    if (!is_finite_value(lambda)) return std::nullopt;
    roots[i] = std::sqrt(std::max(lambda, 0.0));
  }
  const RowMajorMatrix factor = solver.eigenvectors() * roots.asDiagonal();
  for (Eigen::Index i = 0; i < factor.size(); ++i) {
    if (!is_finite_value(factor.data()[i])) return std::nullopt;
  }
  return std::vector<double>(factor.data(), factor.data() + factor.size());
}

}  // namespace tarnwell
