#include "cost/linear/regression_pruning.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cost/pruning/dual_bound_search.hpp"
#include "cost/pruning/pruning_margin.hpp"

namespace tarnwell {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double rounding = 0x1p-40;
// Aligned blocks of rows whose least Gram eigenvalue bounds every long
// segment's conditioning.
constexpr std::uint64_t condition_block = 32;

}  // namespace

RegressionPruningTest::RegressionPruningTest(const RegressionModel& model, std::uint64_t minimum)
    : model_(&model),
      p_(model.design_columns()),
      k_(model.response_columns()),
      minimum_(minimum),
      delay_(std::max<std::uint64_t>(minimum, 2 * condition_block)),
      factor_(p_ * p_),
      solved_(p_ * k_) {
  for (Sums* sums : {&later_, &earlier_, &piece_}) {
    sums->gram.assign(p_ * p_, 0.0);
    sums->cross.assign(p_ * k_, 0.0);
  }
}

bool RegressionPruningTest::prepare(double whole_cost, double pen, const TieRule& tie) {
  const std::uint64_t n = model_->n_rows();
  const std::uint64_t p = p_;
  Sums block;
  block.gram.assign(p * p, 0.0);
  block.cross.assign(p * k_, 0.0);
  sums_of(0, n, block);
  total_ = block.total;
  // The largest squared row of the shifted design, and the least eigenvalue
  // of an aligned block's Gram matrix.
  const std::span<const double> design = model_->design();
  const std::span<const double> shift = model_->design_shift();
  double widest = 0.0;
  for (std::uint64_t t = 0; t < n; ++t) {
    double squares = 0.0;
    for (std::uint64_t i = 0; i < p; ++i) {
      const double x = design[t * p + i] - shift[i];
      squares += x * x;
    }
    widest = std::max(widest, squares);
  }
  double least = n >= condition_block ? infinity : 0.0;
  Eigen::MatrixXd gram(static_cast<Eigen::Index>(p), static_cast<Eigen::Index>(p));
  for (std::uint64_t first = 0; first + condition_block <= n; first += condition_block) {
    sums_of(first, first + condition_block, block);
    for (std::uint64_t i = 0; i < p; ++i) {
      for (std::uint64_t j = 0; j <= i; ++j) {
        gram(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = block.gram[i * p + j];
        gram(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(i)) = block.gram[i * p + j];
      }
    }
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(gram, Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success) return false;
    // Less the rounding of the block's sums and of the decomposition.
    const double lowest = solver.eigenvalues()[0] - 0x1p-40 * static_cast<double>(condition_block) * widest;
    least = std::min(least, lowest);
  }
  // A segment of len >= 2 blocks holds whole blocks worth len / 3 blocks'
  // rows: λ_min(G) >= len least / (3 blocks), λ_max(G) <= len widest. The
  // normal equations are only trusted up to a condition of about 1e8.
  const double bound_from_blocks = least > 0.0 ? 3.0 * static_cast<double>(condition_block) * widest / least : infinity;
  const double columns = static_cast<double>(p);
  condition_ = std::min(bound_from_blocks, 1e8 * columns * columns);
  error_ = 0x1p-44 * columns * condition_ * total_ + 0x1p-44 * columns * total_;
  margin_ = pruning_margin(tie, std::max(pen, whole_cost) + pen, error_);
  return is_finite_value(margin_);
}

void RegressionPruningTest::sums_of(std::uint64_t a, std::uint64_t b, Sums& out) const noexcept {
  model_->range_sums(a, b, out.gram.data(), out.cross.data(), out.total);
}

double RegressionPruningTest::combined_minimum(const Sums& plus, const Sums* minus, double mu) {
  const std::uint64_t p = p_;
  const std::uint64_t k = k_;
  double* l = factor_.data();
  double smallest = infinity;
  double largest = 0.0;
  for (std::uint64_t j = 0; j < p; ++j) {
    for (std::uint64_t i = j; i < p; ++i) {
      double value = plus.gram[i * p + j] - (minus != nullptr ? mu * minus->gram[i * p + j] : 0.0);
      for (std::uint64_t m = 0; m < j; ++m) value -= l[i * p + m] * l[j * p + m];
      if (i == j) {
        if (!(value > 0.0)) return -infinity;
        l[j * p + j] = std::sqrt(value);
        smallest = std::min(smallest, l[j * p + j]);
        largest = std::max(largest, l[j * p + j]);
      } else {
        l[i * p + j] = value / l[j * p + j];
      }
    }
  }
  double explained = 0.0;
  for (std::uint64_t c = 0; c < k; ++c) {
    for (std::uint64_t i = 0; i < p; ++i) {
      double value = plus.cross[i * k + c] - (minus != nullptr ? mu * minus->cross[i * k + c] : 0.0);
      for (std::uint64_t m = 0; m < i; ++m) value -= l[i * p + m] * solved_[m * k + c];
      solved_[i * k + c] = value / l[i * p + i];
      explained += solved_[i * k + c] * solved_[i * k + c];
    }
  }
  const double total = plus.total - (minus != nullptr ? mu * minus->total : 0.0);
  const double value = total - explained;
  // The quadratic form loses digits with the square of the factor's spread.
  const double spread = largest / smallest;
  const double magnitude = plus.total + (minus != nullptr ? mu * minus->total : 0.0);
  const double room = 0x1p-44 * static_cast<double>(p) * spread * spread * magnitude + rounding * std::fabs(explained);
  if (!is_finite_value(value) || !is_finite_value(room)) return -infinity;
  return value - room;
}

double RegressionPruningTest::best_pair_bound(double offset_plus, const Sums& plus, double offset_minus,
                                              const Sums& minus) {
  const auto bound = [&](double mu) {
    const double value = combined_minimum(plus, &minus, mu);
    if (!is_finite_value(value)) return -infinity;
    return offset_plus + mu * offset_minus + value - rounding * (std::fabs(offset_plus) + mu * std::fabs(offset_minus));
  };
  // G(mu) stays positive definite below the least generalised eigenvalue;
  // the trace ratio bounds it from above.
  double plus_trace = 0.0;
  double minus_trace = 0.0;
  for (std::uint64_t i = 0; i < p_; ++i) {
    plus_trace += plus.gram[i * p_ + i];
    minus_trace += minus.gram[i * p_ + i];
  }
  return best_dual_bound(bound, 0.0, minus_trace > 0.0 ? plus_trace / minus_trace : 1.0);
}

bool RegressionPruningTest::dominated(const PruningQuery& query) {
  const std::uint64_t tau = query.candidate.position;
  // A later start alone: τ's residuals over [τ, s) exceed what s gains.
  const auto single = [&](const PruningPartner& partner) {
    if (partner.position - tau < p_) return false;
    sums_of(tau, partner.position, later_);
    const double offset = (query.candidate.best - partner.best) - margin_;
    const double value = combined_minimum(later_, nullptr, 0.0);
    return is_finite_value(value) && offset + value - rounding * std::fabs(offset) > 0.0;
  };
  if (single(query.newest)) return true;
  for (const PruningPartner& partner : query.later) {
    if (single(partner)) return true;
  }
  // The newest start with each earlier one.
  if (query.newest.position - tau < p_) return false;
  sums_of(tau, query.newest.position, later_);
  const double offset_plus = (query.candidate.best - query.newest.best) - margin_;
  for (const PruningPartner& partner : query.earlier) {
    if (partner.position >= tau) continue;
    sums_of(partner.position, tau, earlier_);
    const double offset_minus = (query.candidate.best - partner.best) - margin_;
    if (best_pair_bound(offset_plus, later_, offset_minus, earlier_) > 0.0) return true;
  }
  return false;
}

double RegressionPruningTest::chain_bound(std::uint64_t a, std::uint64_t b) const {
  // Segments too short for the cost are left to the floors.
  if (b - a < minimum_) return 0.0;
  const Result<double> value = model_->segment_cost(a, b);
  if (!value) return 0.0;
  // The normal equations' answer is within its condition (at most about 1e8,
  // their own test) times its sums of squares' rounding of the exact cost.
  Sums& piece = const_cast<Sums&>(piece_);
  sums_of(a, b, piece);
  const double columns = static_cast<double>(p_);
  return std::max(0.0, *value - 0x1p-44 * columns * 1e8 * columns * columns * std::fabs(piece.total));
}

}  // namespace tarnwell
