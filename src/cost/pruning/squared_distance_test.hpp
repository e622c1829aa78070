// Pelt's pruning test for the models whose loss is a squared distance in some
// coordinates z (the squared error, Mahalanobis, rank): the argument is in
// ball_cover.hpp. A model supplies its range statistics in those coordinates
// and a margin covering the tie tolerance and its own rounding.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <utility>
#include <vector>

#include "cost/pruning/ball_cover.hpp"
#include "cost/pruning_query.hpp"

namespace tarnwell {

// Range statistics in the coordinates z: `range(a, b, sums)` writes the sum
// of z over [a, b) (dimension() values) and returns Σ (‖z_i‖² + c_i) over it,
// c_i the part of the loss that does not depend on θ (so that the loss of
// the range at θ is that − 2 θ·sums + (b − a)‖θ‖²), with a bound on the error
// the sums carry (the error of the returned value is the margin's business:
// it is the cost's own).
struct RangeSquares {
  double squares;
  double sum_error;  // of the vector of sums, in Euclidean norm
};

template <class Statistics>
concept SquaredDistanceStatistics = requires(const Statistics& statistics, std::uint64_t position, double* sums) {
  { statistics.dimension() } -> std::same_as<std::size_t>;
  { statistics.range(position, position, sums) } -> std::same_as<RangeSquares>;
};

template <SquaredDistanceStatistics Statistics>
class SquaredDistanceTest {
 public:
  // Allocates (the caller turns a failure into its error).
  SquaredDistanceTest(Statistics statistics, double margin)
      : statistics_(std::move(statistics)),
        margin_(margin),
        cover_(statistics_.dimension()),
        sums_(statistics_.dimension()),
        centre_(statistics_.dimension()) {}

  const Statistics& statistics() const noexcept { return statistics_; }
  double margin() const noexcept { return margin_; }

  bool dominated(const PruningQuery& query) {
    const std::uint64_t tau = query.candidate.position;
    cover_.clear();
    // Balls of the later starts, the newest first.
    const auto later = [&](const PruningPartner& partner) {
      const Sphere sphere = sphere_of(tau, partner.position);
      const double reach = (partner.best - query.candidate.best - sphere.within) + margin_;
      const double room = rounding * (std::fabs(partner.best) + std::fabs(query.candidate.best) + sphere.magnitude);
      if (reach + room < 0.0) return true;  // beaten at every θ
      cover_.add_ball(centre_.data(), std::sqrt((reach + room) / sphere.length), sphere.spread, sphere.uncertainty);
      return false;
    };
    if (later(query.newest)) return true;
    for (const PruningPartner& partner : query.later) {
      if (later(partner)) return true;
    }
    for (const PruningPartner& partner : query.earlier) {
      if (partner.position >= tau) continue;
      const Sphere sphere = sphere_of(partner.position, tau);
      const double room = rounding * (std::fabs(partner.best) + std::fabs(query.candidate.best) + sphere.magnitude);
      const double reach = ((query.candidate.best - partner.best - sphere.within) - margin_) - room;
      if (reach > 0.0) {
        cover_.add_hole(centre_.data(), std::sqrt(reach / sphere.length), sphere.spread, sphere.uncertainty);
      }
    }
    return cover_.covered();
  }

 private:
  struct Sphere {
    double length;
    double within;     // the scatter of the range about its mean
    double magnitude;    // of the numbers the scatter is the difference of
    double spread;       // of the centre's coordinates
    double uncertainty;  // of the centre, from the statistics
  };

  // The mean of [a, b) in centre_, with the range's scatter.
  Sphere sphere_of(std::uint64_t a, std::uint64_t b) {
    const RangeSquares range = statistics_.range(a, b, sums_.data());
    const double squares = range.squares;
    const double length = static_cast<double>(b - a);
    double mean_square = 0.0;
    double spread = 0.0;
    for (std::size_t k = 0; k < sums_.size(); ++k) {
      centre_[k] = sums_[k] / length;
      mean_square += sums_[k] * centre_[k];
      spread = std::max(spread, std::fabs(centre_[k]));
    }
    return {length, squares - mean_square, std::fabs(squares) + mean_square, spread, range.sum_error / length};
  }

  // Room for the rounding of a reach relative to the numbers it is made of
  // (the margin covers the rounding of the cost itself).
  static constexpr double rounding = 0x1p-40;

  Statistics statistics_;
  double margin_;
  BallCover cover_;
  std::vector<double> sums_;
  std::vector<double> centre_;
};

}  // namespace tarnwell
