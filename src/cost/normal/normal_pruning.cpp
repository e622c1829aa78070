#include "cost/normal/normal_pruning.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cost/linear_algebra/symmetric_matrix.hpp"
#include "cost/pruning/dual_bound_search.hpp"
#include "cost/pruning/pruning_margin.hpp"

namespace tarnwell {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Room for the rounding of this test's own arithmetic, relative to the
// magnitudes it adds.
constexpr double rounding = 0x1p-40;
// Aligned blocks whose least scatter bounds every long segment's spread.
constexpr std::uint64_t spread_block = 32;

// len ln(len / (len − 1)): what dividing a scatter by len − 1 instead of len
// adds to len log of it at most (falling from 2 ln 2 at 2 towards 1).
double excess(double length) { return length * std::log1p(1.0 / (length - 1.0)); }

}  // namespace

NormalPruningTest::NormalPruningTest(const NormalCost& cost, double pen, std::uint64_t min_size, const TieRule& tie)
    : cost_(&cost),
      scatter_(&cost.scatter()),
      d_(static_cast<std::size_t>(cost.n_features())),
      ridge_(cost.ridge()),
      delay_(std::max<std::uint64_t>(min_size, 2 * spread_block)),
      work_(d_ + d_ * d_) {
  const double features = static_cast<double>(d_);
  const std::uint64_t n = cost.n_samples();
  floor_ = features * std::log(ridge_);
  const double shortest = static_cast<double>(std::max<std::uint64_t>(min_size, 2));
  excess_ = excess(shortest) * features * (1.0 + 0x1p-40);
  // Magnitudes of the tables: the largest prefix sum, the largest diagonal
  // prefix product (the last row's) and the largest centred value.
  double largest_sum = 0.0;
  double largest_value = 0.0;
  for (std::uint64_t t = 0; t < n; ++t) {
    const double* before = scatter_->prefix_sum_row(t);
    const double* after = scatter_->prefix_sum_row(t + 1);
    for (std::size_t k = 0; k < d_; ++k) {
      largest_sum = std::max(largest_sum, std::fabs(after[k]));
      largest_value = std::max(largest_value, std::fabs(after[k] - before[k]));
    }
  }
  largest_value_ = largest_value;
  later_.reserve(8);
  earlier_.reserve(8);
  intervals_.reserve(8);
  double largest_product = 0.0;
  double trace = 0.0;
  const double* last = scatter_->prefix_product_row(n);
  for (std::size_t k = 0; k < d_; ++k) {
    largest_product = std::max(largest_product, last[k * d_ + k]);
    trace += last[k * d_ + k];
  }
  // A segment scatter's entries are within `entry` of their exact values
  // (the compensated rows, and the mean's term through the sums).
  entry_ = 0x1p-48 * (largest_product + 2.0 * largest_value * largest_sum);
  spread_ = 8.0 * features * largest_value * largest_value;
  log_scale_ = std::fabs(std::log(ridge_)) + std::log1p(spread_ / ridge_) + 1.0;
  // The least scatter of an aligned block of samples (one feature; the least
  // eigenvalue otherwise is not sought, and 0 stands for it). A segment of
  // len >= 2 blocks contains whole blocks worth len / 3 blocks' samples, so
  // its scatter W is at least len times this over three blocks, and the share
  // ρ = W / (W + len r) at least `share`.
  double least = d_ == 1 && n >= spread_block ? infinity : 0.0;
  for (std::uint64_t first = 0; d_ == 1 && first + spread_block <= n; first += spread_block) {
    const double sum = scatter_->prefix_sum_row(first + spread_block)[0] - scatter_->prefix_sum_row(first)[0];
    const double squares =
        scatter_->prefix_product_row(first + spread_block)[0] - scatter_->prefix_product_row(first)[0];
    const double scatter = squares - sum * sum / static_cast<double>(spread_block);
    least = std::min(least, scatter - 0x1p-40 * (std::fabs(squares) + largest_product) - 4.0 * entry_);
  }
  least = std::max(least, 0.0);
  block_variance_ = least / static_cast<double>(spread_block - 1);
  const double per_sample = least / (3.0 * static_cast<double>(spread_block));
  long_variance_ = per_sample;
  const double share = per_sample > 0.0 ? per_sample / (per_sample + ridge_) * (1.0 - 0x1p-40) : 0.0;
  // The cost exceeds f by len log(1 + ρ/(len − 1)) per feature, between
  // ρ excess(len) and excess(len). At an end T >= t + delay every partner's
  // segment has at least `delay` samples: a later start's excess is at most
  // excess(delay), τ's own at least ρ (excess(len) >= 1); an earlier start's
  // segment is longer than τ's, so its excess is at most excess(T − τ), τ's
  // at least ρ excess(T − τ), both at most 2 ln 2.
  later_slack_ = features * (excess(static_cast<double>(delay_)) - share) * (1.0 + 0x1p-40);
  earlier_slack_ = features * (1.0 - share) * 2.0 * std::log(2.0) * (1.0 + 0x1p-40);
  // The costs compared at those ends are of segments of `delay` samples or
  // more, whose covariances are at least the long-segment variance.
  error_ = cost_error(long_variance_, n);
  // Every optimum lies between −pen + n d log r and the whole signal's cost
  // at most n d log(r + spread).
  const double values = pen + static_cast<double>(n) * features * log_scale_ + trace;
  margin_ = pruning_margin(tie, values, error_);
}

// The error of a cost or f over `length` samples whose covariance is at least
// `variance` (plus the ridge): the entries' error moves len log det by at most
// d times it over the least eigenvalue, twice for the second order (per unit
// of length over len − 1 >= len / 2); the logarithms' own rounding; with
// several features the factorisation's backward error, scaled by the
// covariance's condition.
double NormalPruningTest::cost_error(double variance, std::uint64_t length) const noexcept {
  const double features = static_cast<double>(d_);
  const double floor = variance + ridge_;
  double error = 8.0 * features * features * entry_ / floor;
  error += static_cast<double>(length) * features * 0x1p-48 * log_scale_;
  if (d_ > 1) error += static_cast<double>(length) * features * (features + 1.0) * 0x1p-48 * (spread_ + floor) / floor;
  return error;
}

NormalPruningTest::Range NormalPruningTest::range(std::uint64_t a, std::uint64_t b) const noexcept {
  return {static_cast<double>(b - a), scatter_->prefix_sum_row(a), scatter_->prefix_sum_row(b),
          scatter_->prefix_product_row(a), scatter_->prefix_product_row(b)};
}

double NormalPruningTest::weighted_minimum(const Range& plus, const Range* minus, double mu) const {
  const std::size_t d = d_;
  const double weight = plus.length - (minus != nullptr ? mu * minus->length : 0.0);
  if (!(weight > 0.0)) return -infinity;
  double* first = work_.data();
  double* matrix = work_.data() + d;
  for (std::size_t k = 0; k < d; ++k) {
    first[k] = plus.sums_b[k] - plus.sums_a[k];
    if (minus != nullptr) first[k] -= mu * (minus->sums_b[k] - minus->sums_a[k]);
  }
  for (std::size_t k = 0; k < d; ++k) {
    for (std::size_t l = 0; l < d; ++l) {
      double second = plus.products_b[k * d + l] - plus.products_a[k * d + l];
      if (minus != nullptr) second -= mu * (minus->products_b[k * d + l] - minus->products_a[k * d + l]);
      matrix[k * d + l] = (second - first[k] * first[l] / weight) / weight;
    }
    matrix[k * d + k] += ridge_;
  }
  if (d == 1) {
    if (!(matrix[0] > 0.0)) return -infinity;
    return weight * std::log(matrix[0]);
  }
  const std::optional<double> log_determinant = cholesky_log_determinant(std::span<double>(matrix, d * d), d);
  return log_determinant ? weight * *log_determinant : -infinity;
}

// The best dual bound over mu of h_plus + mu h_minus, less the room for its
// rounding; h = offset ± (the f-sum of its range).
double NormalPruningTest::pair_bound(double offset_plus, const Range& plus, double offset_minus,
                                     const Range& minus) const {
  const auto bound = [&](double mu) {
    const double value = weighted_minimum(plus, &minus, mu);
    if (!is_finite_value(value)) return -infinity;
    const double total = offset_plus + mu * offset_minus + value;
    const double room = rounding * (std::fabs(offset_plus) + mu * std::fabs(offset_minus) + std::fabs(value)) +
                        (1.0 + mu) * cost_error(0.0, cost_->n_samples());
    return total - room;
  };
  double low = 0.0;
  return best_dual_bound(bound, 0.0, plus.length / minus.length);
}

NormalPruningTest::Moments NormalPruningTest::moments(const Range& between) const noexcept {
  const double n = between.length;
  const double sum = between.sums_b[0] - between.sums_a[0];
  const double mean = sum / n;
  const double scatter = std::max((between.products_b[0] - between.products_a[0]) - sum * mean, 0.0);
  return {n, mean, scatter + n * ridge_};
}

// Whether, for every v = e^u with u in [u_low, u_high], the later intervals'
// intersection lies in the union of the earlier intervals.
bool NormalPruningTest::covered_slice(double u_low, double u_high, int depth) {
  // g(v) = v (n − off − n log v) − k: n (m − μ)² <= g(v) for a later start,
  // < g(v) for an earlier one (whose offset is stored with its sign turned);
  // concave in v, largest at log v = −off / n, where it is n e^(−off/n) − k.
  const auto g = [](const Partner& at, double v, double u) { return v * (at.n - at.off - at.n * u) - at.k; };
  // At a single v (low == high): exact intervals, and τ alive there when they
  // are not covered; over a slice: the widest later and narrowest earlier.
  const auto check = [&](double low, double high, bool whole) {
    const double v_low = std::exp(low);
    const double v_high = whole ? std::exp(high) : v_low;
    double left = -infinity;
    double right = infinity;
    for (const Partner& at : later_) {
      double reach = g(at, v_low, low);
      if (whole) {
        reach = std::max(reach, g(at, v_high, high));
        if (at.peak_at > low && at.peak_at < high) reach = std::max(reach, at.peak);
      }
      const double room = rounding * (std::fabs(reach) + at.k + at.n * (1.0 + std::fabs(low) + std::fabs(high)) * v_high);
      if (reach + room < 0.0) return true;  // no m at all: covered
      const double half = std::sqrt(std::max(reach + room, 0.0) / at.n) * (1.0 + 0x1p-40) +
                          0x1p-40 * (std::fabs(at.mean) + largest_value_);
      left = std::max(left, at.mean - half);
      right = std::min(right, at.mean + half);
    }
    if (left > right) return true;
    // Beyond twice the data's reach the statistics' error bound does not hold.
    if (std::max(std::fabs(left), std::fabs(right)) > 2.0 * largest_value_) return false;
    intervals_.clear();
    for (const Partner& at : earlier_) {
      const double reach = whole ? std::min(g(at, v_low, low), g(at, v_high, high)) : g(at, v_low, low);
      const double room = rounding * (std::fabs(reach) + at.k + at.n * (1.0 + std::fabs(low) + std::fabs(high)) * v_high);
      if (!(reach - room > 0.0)) continue;
      const double half = std::sqrt((reach - room) / at.n) * (1.0 - 0x1p-40) -
                          0x1p-40 * (std::fabs(at.mean) + largest_value_);
      if (half > 0.0) intervals_.emplace_back(at.mean - half, at.mean + half);
    }
    // The open intervals must cover [left, right] without a gap.
    std::sort(intervals_.begin(), intervals_.end());
    double reached = left;
    for (const auto& [from, to] : intervals_) {
      if (from >= reached) break;
      if (to > reached) reached = to;
      if (reached > right) return true;
    }
    return false;
  };
  const double middle = 0.5 * (u_low + u_high);
  if (!check(middle, middle, false)) return false;
  if (check(u_low, u_high, true)) return true;
  if (depth == 0) return false;
  return covered_slice(u_low, middle, depth - 1) && covered_slice(middle, u_high, depth - 1);
}

bool NormalPruningTest::dominated_single_feature(const PruningQuery& query) {
  const std::uint64_t tau = query.candidate.position;
  const double required = later_slack_ + margin_;
  const double required_earlier = earlier_slack_ + margin_;
  later_.clear();
  earlier_.clear();
  // The range of log v where every later start leaves τ a chance. A loss sum
  // from the statistics is within 8 entry / v of its exact value where the
  // mean stays within twice the data's reach; v >= r / 4 allows for the
  // roots, the slices below for their own least v.
  const double root_room = 32.0 * entry_ / ridge_;
  double u_low = -infinity;
  double u_high = infinity;
  const auto add_later = [&](const PruningPartner& partner) {
    const Moments at = moments(range(tau, partner.position));
    const double raw = (query.candidate.best - partner.best) - required;
    const double off = raw - root_room;
    // n u + k e^-u <= n − off at m = μ: convex in u, least at log(k / n).
    const double c = at.n - off;
    const auto psi = [&](double u) { return at.n * u + at.k * std::exp(-u); };
    const double lowest_at = std::log(at.k / at.n);
    const double room = rounding * (std::fabs(c) + at.n * (std::fabs(lowest_at) + 1.0));
    if (!(psi(lowest_at) <= c + room)) return false;
    const auto root = [&](double u) {
      for (int step = 0; step < 16; ++step) {
        const double excess = psi(u) - (c + room);
        const double slope = at.n - at.k * std::exp(-u);
        if (!(excess > 0x1p-30 * (std::fabs(c) + room)) || slope == 0.0) break;
        u -= excess / slope;
      }
      return u;
    };
    double above = std::max(lowest_at, c / at.n) + 1.0;
    double below = lowest_at - 1.0;
    for (int step = 0; step < 60 && !(psi(below) > c + room); ++step) below = lowest_at - 2.0 * (lowest_at - below);
    if (!(psi(below) > c + room) || !(psi(above) > c + room)) return true;  // no bound: leave the range
    u_low = std::max(u_low, root(below) - 0x1p-30 * (1.0 + std::fabs(below)));
    u_high = std::min(u_high, root(above) + 0x1p-30 * (1.0 + std::fabs(above)));
    later_.push_back({at.n, at.mean, at.k, raw, 0.0, 0.0});
    return true;
  };
  if (!add_later(query.newest)) return true;
  for (const PruningPartner& partner : query.later) {
    if (!add_later(partner)) return true;
  }
  if (!(u_low <= u_high)) return true;
  // Where the margin covers the statistics' error in a loss sum: a variance
  // of at least a quarter of the ridge (and, checked per interval by the
  // widening, means within the data's reach).
  if (!std::isfinite(u_low) || !std::isfinite(u_high) || std::exp(u_low) < 0.25 * ridge_) return false;
  const double room = 8.0 * entry_ / std::exp(u_low);
  for (Partner& at : later_) {
    at.off -= room;
    at.peak_at = -at.off / at.n;
    at.peak = at.n * std::exp(at.peak_at) - at.k;
  }
  for (const PruningPartner& partner : query.earlier) {
    if (partner.position >= tau) continue;
    // Earlier starts win where n (m − μ)² < v (n + off − n log v) − k: the
    // same form with the offset's sign turned.
    const Moments at = moments(range(partner.position, tau));
    earlier_.push_back({at.n, at.mean, at.k, -((query.candidate.best - partner.best) - required_earlier - room), 0.0,
                        0.0});
  }
  if (earlier_.empty()) return false;
  return covered_slice(u_low, u_high, 6);
}

bool NormalPruningTest::dominated(const PruningQuery& query) {
  if (d_ == 1) return dominated_single_feature(query);
  const std::uint64_t tau = query.candidate.position;
  const double required = later_slack_ + margin_;
  const double required_earlier = earlier_slack_ + margin_;
  // A later start alone: τ's f-sum over [τ, s) exceeds what s gains.
  const auto single = [&](const PruningPartner& partner) {
    const Range between = range(tau, partner.position);
    const double offset = (query.candidate.best - partner.best) - required;
    const double value = weighted_minimum(between, nullptr, 0.0);
    return is_finite_value(value) && offset + value - rounding * (std::fabs(offset) + std::fabs(value)) -
                                         cost_error(0.0, cost_->n_samples()) >
                                     0.0;
  };
  if (single(query.newest)) return true;
  for (const PruningPartner& partner : query.later) {
    if (single(partner)) return true;
  }
  // Pairs: the newest start, or the nearest later one, with an earlier one.
  const PruningPartner* laters[2] = {&query.newest, query.later.empty() ? nullptr : &query.later.front()};
  for (const PruningPartner* later : laters) {
    if (later == nullptr) continue;
    const Range plus = range(tau, later->position);
    const double offset_plus = (query.candidate.best - later->best) - required;
    for (const PruningPartner& earlier : query.earlier) {
      if (earlier.position >= tau) continue;
      const Range minus = range(earlier.position, tau);
      const double offset_minus = (query.candidate.best - earlier.best) - required_earlier;
      if (!(offset_minus > 0.0)) continue;  // e never beats τ by enough: nothing to gain
      if (pair_bound(offset_plus, plus, offset_minus, minus) > 0.0) return true;
    }
  }
  return false;
}

double NormalPruningTest::chain_bound(std::uint64_t a, std::uint64_t b) const {
  const double value = weighted_minimum(range(a, b), nullptr, 0.0);
  const double floors = floor_prefix(b) - floor_prefix(a);
  if (!is_finite_value(value)) return floors;
  const bool block = a % spread_block == 0 && b - a == spread_block;
  const double error = cost_error(block ? block_variance_ : 0.0, b - a);
  return std::max(floors, value - rounding * std::fabs(value) - error);
}

std::optional<NormalPruningTest> pelt_pruning_test(const NormalCost& cost, double pen, std::uint64_t min_size,
                                                   std::uint64_t, const TieRule& tie) {
  NormalPruningTest test(cost, pen, min_size, tie);
  return test;
}

}  // namespace tarnwell
