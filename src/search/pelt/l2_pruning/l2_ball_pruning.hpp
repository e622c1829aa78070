// Functional pruning of Pelt starts for the squared-error cost of several
// features: each start keeps a ball of segment means.
//
// As for one feature, the value of start τ at end t as a function of the
// segment mean μ ∈ R^d is G_τ(μ) = F(τ) + Σ_{i∈[τ,t)} ‖y_i − μ‖², and for two
// starts τ < s the difference G_τ − G_s = F(τ) − F(s) + SS(τ,s) +
// (s − τ)‖μ − m(τ,s)‖² does not depend on t. τ stays within `margin` of s only
// inside the ball (s − τ)‖μ − m‖² ≤ margin + F(s) − F(τ) − SS(τ,s). The
// intersection of those balls is not kept exactly: each start keeps the
// smallest ball it has met (a superset of the intersection), and is discarded
// when a new ball misses it (the intersection is then empty), when it lies
// inside the ball where its predecessor beats it by more than the margin, or
// when the start before it in the list beats it by more than the margin
// everywhere on it. Each proves that at every μ some other start is lower by
// more than the margin, at every end where that start is usable. Every
// radius is widened (every hole narrowed) for the rounding of the test.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

namespace tarnwell {

class L2BallPruning {
 public:
  using Columns = std::span<double* const>;

  // `prefix_sums` and `prefix_squares` are the cost's (n + 1) x d tables.
  L2BallPruning(const double* prefix_sums, const double* prefix_squares, std::uint64_t d, double margin) noexcept
      : sums_(prefix_sums), squares_(prefix_squares), d_(d), margin_(margin) {}

  // Per start: its prefix sums (d), the total of its prefix squares, its
  // position, the centre (d) and radius of its ball, and the centre (d) and
  // radius of its predecessor's ball (negative for none).
  std::size_t state_columns() const noexcept { return 3 * d_ + 4; }

  // The entry before the first start of a list (never used as a partner).
  void sentinel(double* state) const noexcept {
    for (std::size_t column = 0; column < state_columns(); ++column) state[column] = 0.0;
    state[position_column()] = infinity_;
  }

  void admit(std::uint64_t position, double best, std::uint64_t predecessor, double predecessor_best,
             double* state) const noexcept {
    const std::uint64_t d = d_;
    double square_total = 0.0;
    for (std::uint64_t k = 0; k < d; ++k) {
      state[sum_column(k)] = sums_[position * d + k];
      square_total += squares_[position * d + k];
      state[centre_column(k)] = 0.0;
      state[hole_centre_column(k)] = 0.0;
    }
    state[square_column()] = square_total;
    state[position_column()] = static_cast<double>(position);
    state[radius_column()] = infinity_;
    state[hole_radius_column()] = -1.0;
    if (predecessor >= position) return;
    const double length = static_cast<double>(position - predecessor);
    double within = 0.0;
    double mean_norm = 0.0;
    for (std::uint64_t k = 0; k < d; ++k) {
      const double sum = sums_[position * d + k] - sums_[predecessor * d + k];
      const double mean = sum / length;
      within += (squares_[position * d + k] - squares_[predecessor * d + k]) - sum * mean;
      state[hole_centre_column(k)] = mean;
      mean_norm += mean * mean;
    }
    // Where (position − predecessor)‖μ − mean‖² < reach the predecessor is
    // lower by more than the margin. The ball is narrowed for round-off.
    const double reach = ((best - predecessor_best) - within) - margin_;
    if (!(reach > 0.0)) return;
    const double radius = std::sqrt(reach / length);
    const double slack = relative_slack * (std::sqrt(mean_norm) + radius);
    if (radius > slack) state[hole_radius_column()] = radius - slack;
  }

  // The cost sums its columns with compensation; the search asks it for
  // its own batch.
  bool endpoint_costs(Columns, std::size_t, std::uint64_t, double*) const noexcept { return false; }

  // Sets dominated[i] to 1 for each listed start that the new start at
  // `new_position` (value `new_best`), its predecessor or the start before it
  // makes useless, to 0 for the others; shrinks the kept balls.
  void mark_dominated(std::size_t size, const double* best, Columns state, std::uint64_t new_position,
                      double new_best, double* dominated) const noexcept {
    const std::uint64_t d = d_;
    const double* square_at = state[square_column()];
    const double* position_at = state[position_column()];
    double* radius_at = state[radius_column()];
    double square_end = 0.0;
    for (std::uint64_t k = 0; k < d; ++k) square_end += squares_[new_position * d + k];
    const double end = static_cast<double>(new_position);
    for (std::size_t i = 0; i < size; ++i) {
      dominated[i] = 0.0;
      const double length = end - position_at[i];
      double within = square_end - square_at[i];
      for (std::uint64_t k = 0; k < d; ++k) {
        const double sum = sums_[new_position * d + k] - state[sum_column(k)][i];
        within -= sum * (sum / length);
      }
      const double reach = (margin_ + (new_best - best[i])) - within;
      if (reach <= 0.0) {
        dominated[i] = 1.0;
        continue;
      }
      // An overflowed or NaN reach proves nothing.
      if (!(reach < infinity_)) continue;
      const double radius = std::sqrt(reach / length);
      double distance = 0.0;
      double mean_norm = 0.0;
      double centre_norm = 0.0;
      for (std::uint64_t k = 0; k < d; ++k) {
        const double mean = (sums_[new_position * d + k] - state[sum_column(k)][i]) / length;
        const double centre = state[centre_column(k)][i];
        distance += (mean - centre) * (mean - centre);
        mean_norm += mean * mean;
        centre_norm += centre * centre;
      }
      distance = std::sqrt(distance);
      const double kept_radius = radius_at[i];
      const double slack =
          relative_slack * (std::sqrt(mean_norm) + std::sqrt(centre_norm) + radius +
                            (kept_radius < infinity_ ? kept_radius : 0.0));
      if (kept_radius < infinity_ && distance > radius + kept_radius + slack) {
        dominated[i] = 1.0;
        continue;
      }
      if (radius + slack < kept_radius) {
        for (std::uint64_t k = 0; k < d; ++k) {
          state[centre_column(k)][i] = (sums_[new_position * d + k] - state[sum_column(k)][i]) / length;
        }
        radius_at[i] = radius + slack;
      }
      if (radius_at[i] < infinity_ && (inside_hole(state, i) || beaten_by_previous(state, best, i))) {
        dominated[i] = 1.0;
      }
    }
  }

 private:
  std::size_t sum_column(std::uint64_t k) const noexcept { return k; }
  std::size_t square_column() const noexcept { return d_; }
  std::size_t position_column() const noexcept { return d_ + 1; }
  std::size_t centre_column(std::uint64_t k) const noexcept { return d_ + 2 + k; }
  std::size_t radius_column() const noexcept { return 2 * d_ + 2; }
  std::size_t hole_centre_column(std::uint64_t k) const noexcept { return 2 * d_ + 3 + k; }
  std::size_t hole_radius_column() const noexcept { return 3 * d_ + 3; }

  // The kept ball lies inside the (narrowed) ball where the predecessor wins.
  bool inside_hole(Columns state, std::size_t i) const noexcept {
    const double hole_radius = state[hole_radius_column()][i];
    if (!(hole_radius > 0.0)) return false;
    double distance = 0.0;
    double norms = 0.0;
    for (std::uint64_t k = 0; k < d_; ++k) {
      const double gap = state[centre_column(k)][i] - state[hole_centre_column(k)][i];
      distance += gap * gap;
      norms += std::fabs(state[centre_column(k)][i]) + std::fabs(state[hole_centre_column(k)][i]);
    }
    const double radius = state[radius_column()][i];
    return std::sqrt(distance) + radius + relative_slack * (norms + radius + hole_radius) < hole_radius;
  }

  // The start e before τ in the list beats τ by more than the margin on all
  // of τ's ball: G_τ − G_e = F(τ) − F(e) − q(μ) with q(μ) = Σ_{[e,τ)} ‖y − μ‖²
  // = SS + L‖μ − m‖², whose largest value on the ball (centre c, radius ρ) is
  // SS + L(‖c − m‖ + ρ)². Its rounding is bounded from the magnitudes.
  bool beaten_by_previous(Columns state, const double* best, std::size_t i) const noexcept {
    if (i == 0) return false;
    const std::size_t e = i - 1;
    const double length = state[position_column()][i] - state[position_column()][e];
    if (!(length > 0.0)) return false;
    const double squares = state[square_column()][i] - state[square_column()][e];
    double within = squares;
    double distance = 0.0;
    double magnitude = 0.0;
    for (std::uint64_t k = 0; k < d_; ++k) {
      const double sum = state[sum_column(k)][i] - state[sum_column(k)][e];
      const double mean = sum / length;
      within -= sum * mean;
      const double centre = state[centre_column(k)][i];
      distance += (centre - mean) * (centre - mean);
      magnitude += std::fabs(centre) + std::fabs(mean);
    }
    const double radius = state[radius_column()][i];
    const double reach = std::sqrt(distance) + radius;
    const double largest = within + length * reach * reach;
    const double extent = magnitude + radius;
    const double rounding = relative_slack * (std::fabs(state[square_column()][i]) +
                                              std::fabs(state[square_column()][e]) + length * extent * extent);
    const double advantage = (best[i] - best[e]) - margin_;
    return advantage > largest + rounding;
  }

  // Relative widening for the rounding of means, norms and radii: far more
  // than the few units in the last place (times d) they carry.
  static constexpr double relative_slack = 0x1p-36;
  static constexpr double infinity_ = std::numeric_limits<double>::infinity();

  const double* sums_;
  const double* squares_;
  std::uint64_t d_;
  double margin_;
};

}  // namespace tarnwell
