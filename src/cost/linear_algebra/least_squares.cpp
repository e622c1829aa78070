#include "cost/linear_algebra/least_squares.hpp"

#include <Eigen/Core>
#include <Eigen/SVD>
#include <new>

#include "core/strided_matrix.hpp"

namespace tarnwell {
namespace {

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr const char* solving_context = "solving a least-squares segment model";

// beta = V * pinv(Sigma) * U^T * Y, the threshold applied by hand.
Result<Eigen::MatrixXd> minimum_norm_solution(const Eigen::MatrixXd& x, const Eigen::Map<const RowMajorMatrix>& y) {
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(x, Eigen::ComputeThinU | Eigen::ComputeThinV);
  if (svd.info() != Eigen::Success) return errors::fail(errors::numerical_failure(solving_context));
  const Eigen::VectorXd& sigma = svd.singularValues();
  if (!sigma.allFinite()) return errors::fail(errors::numerical_failure(solving_context));
  Eigen::MatrixXd projected = svd.matrixU().transpose() * y;
  for (Eigen::Index i = 0; i < sigma.size(); ++i) {
    if (sigma[i] > least_squares_singular_threshold) {
      projected.row(i) /= sigma[i];
    } else {
      projected.row(i).setZero();
    }
  }
  return Eigen::MatrixXd(svd.matrixV() * projected);
}

Result<double> solve(const double* design, const double* response, Eigen::Index rows, Eigen::Index p,
                     Eigen::Index k) {
  const Eigen::Map<const RowMajorMatrix> x(design, rows, p);
  const Eigen::Map<const RowMajorMatrix> y(response, rows, k);
  // The decomposition works on a column-major copy of the block.
  const Eigen::MatrixXd x_block = x;
  TARNWELL_TRY(beta, minimum_norm_solution(x_block, y));
  const Eigen::MatrixXd residual = y - x_block * beta;

  double sum = -0.0;
  for (Eigen::Index column = 0; column < k; ++column) {
    for (Eigen::Index row = 0; row < rows; ++row) {
      const double r = residual(row, column);
      sum += r * r;
    }
  }
  if (!is_finite_value(sum)) return errors::fail(errors::non_finite_objective(sum));
  return sum;
}

}  // namespace

Result<double> least_squares_residual(const double* design, const double* response, std::uint64_t rows,
                                      std::uint64_t p, std::uint64_t k) {
  try {
    return solve(design, response, static_cast<Eigen::Index>(rows), static_cast<Eigen::Index>(p),
                 static_cast<Eigen::Index>(k));
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(solving_context));
  }
}

Status least_squares_coefficients(const double* design, const double* response, std::uint64_t rows,
                                  std::uint64_t p, std::uint64_t k, std::span<double> beta) {
  try {
    const Eigen::Map<const RowMajorMatrix> x(design, static_cast<Eigen::Index>(rows), static_cast<Eigen::Index>(p));
    const Eigen::Map<const RowMajorMatrix> y(response, static_cast<Eigen::Index>(rows), static_cast<Eigen::Index>(k));
    TARNWELL_TRY(solution, minimum_norm_solution(Eigen::MatrixXd(x), y));
    if (!solution.allFinite()) return errors::fail(errors::numerical_failure(solving_context));
    for (Eigen::Index i = 0; i < solution.rows(); ++i) {
      for (Eigen::Index j = 0; j < solution.cols(); ++j) {
        beta[static_cast<std::size_t>(i * solution.cols() + j)] = solution(i, j);
      }
    }
    return {};
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(solving_context));
  }
}

}  // namespace tarnwell
