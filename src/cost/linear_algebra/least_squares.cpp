#include "cost/linear_algebra/least_squares.hpp"

#include <Eigen/Core>
#include <Eigen/SVD>
#include <new>

#include "core/strided_matrix.hpp"

namespace tarnwell {
namespace {

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr const char* solving_context = "solving a least-squares segment model";

Result<double> solve(const double* design, const double* response, Eigen::Index rows, Eigen::Index p,
                     Eigen::Index k) {
  const Eigen::Map<const RowMajorMatrix> x(design, rows, p);
  const Eigen::Map<const RowMajorMatrix> y(response, rows, k);
  // The decomposition works on a column-major copy of the block.
  const Eigen::MatrixXd x_block = x;
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(x_block, Eigen::ComputeThinU | Eigen::ComputeThinV);
  if (svd.info() != Eigen::Success) return errors::fail(errors::numerical_failure(solving_context));
  const Eigen::VectorXd& sigma = svd.singularValues();
  if (!sigma.allFinite()) return errors::fail(errors::numerical_failure(solving_context));

  // beta = V * pinv(Sigma) * U^T * Y with the threshold applied here, by hand.
  Eigen::MatrixXd projected = svd.matrixU().transpose() * y;
  for (Eigen::Index i = 0; i < sigma.size(); ++i) {
    if (sigma[i] > least_squares_singular_threshold) {
      projected.row(i) /= sigma[i];
    } else {
      projected.row(i).setZero();
    }
  }
  const Eigen::MatrixXd beta = svd.matrixV() * projected;
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

}  // namespace tarnwell
