#include "cost/pruning/ball_cover.hpp"

#include <algorithm>
#include <cmath>

namespace tarnwell {
namespace {

// Room for the rounding of a distance, a radius or a plane offset relative to
// the magnitudes they are computed from: far more than the few units in the
// last place (times the dimension) the arithmetic below loses.
constexpr double relative_slack = 0x1p-36;
// The most balls and holes one question holds; further ones are ignored
// (which only weakens the test).
constexpr std::size_t most_spheres = 16;
// Holes tried in pairs: the ones whose power at the region's centre is lowest.
constexpr std::size_t paired_holes = 6;

}  // namespace

void BallCover::clear() noexcept {
  coordinates_.clear();
  balls_.clear();
  holes_.clear();
}

void BallCover::add_ball(const double* centre, double radius, double magnitude, double uncertainty) {
  if (balls_.size() >= most_spheres) return;
  if (coordinates_.capacity() == 0) coordinates_.reserve(2 * most_spheres * d_ + d_);
  balls_.push_back({coordinates_.size(), radius, magnitude, uncertainty});
  coordinates_.insert(coordinates_.end(), centre, centre + d_);
}

void BallCover::add_hole(const double* centre, double radius, double magnitude, double uncertainty) {
  if (holes_.size() >= most_spheres) return;
  if (coordinates_.capacity() == 0) coordinates_.reserve(2 * most_spheres * d_ + d_);
  holes_.push_back({coordinates_.size(), radius, magnitude, uncertainty});
  coordinates_.insert(coordinates_.end(), centre, centre + d_);
}

double BallCover::distance(const double* left, const double* right) const noexcept {
  double sum = 0.0;
  for (std::size_t k = 0; k < d_; ++k) sum += (left[k] - right[k]) * (left[k] - right[k]);
  return std::sqrt(sum);
}

bool BallCover::covered() {
  if (balls_.empty() || holes_.empty()) {
    // Without holes only an empty intersection proves anything.
    if (holes_.empty() && balls_.size() < 2) return false;
  }
  // The region: a ball around the intersection of the balls, smallest first.
  std::sort(balls_.begin(), balls_.end(), [](const Sphere& a, const Sphere& b) { return a.radius < b.radius; });
  if (region_.size() != d_) region_.assign(d_, 0.0);
  const double* first = centre(balls_.front());
  std::copy(first, first + d_, region_.begin());
  double radius = balls_.front().radius;
  double magnitude = balls_.front().magnitude;
  double uncertainty = balls_.front().uncertainty;
  for (std::size_t b = 1; b < balls_.size(); ++b) {
    const Sphere& other = balls_[b];
    const double* other_centre = centre(other);
    const double gap = distance(region_.data(), other_centre);
    const double room = relative_slack * (magnitude + other.magnitude + radius + other.radius + gap) +
                        2.0 * (uncertainty + other.uncertainty);
    if (gap > radius + other.radius + room) return true;  // the balls do not meet
    // The lens of the two balls lies in the ball around its rim when the
    // plane of the rim separates the two centres (both caps are then no
    // higher than the rim's radius); otherwise the region stays as it is.
    if (!(gap > room)) continue;
    const double along = (gap * gap + radius * radius - other.radius * other.radius) / (2.0 * gap);
    if (!(along > room && gap - along > room)) continue;
    const double rim = std::sqrt(std::max(radius * radius - along * along, 0.0));
    if (!(rim + room < radius)) continue;
    for (std::size_t k = 0; k < d_; ++k) region_[k] += (other_centre[k] - region_[k]) * (along / gap);
    radius = rim + 2.0 * room;
    magnitude = std::max(magnitude, other.magnitude);
    uncertainty = std::max(uncertainty, other.uncertainty);
  }
  if (holes_.empty()) return false;

  // Single holes, then pairs of the most promising ones.
  std::sort(holes_.begin(), holes_.end(), [&](const Sphere& a, const Sphere& b) {
    const double da = distance(region_.data(), centre(a));
    const double db = distance(region_.data(), centre(b));
    return da * da - a.radius * a.radius < db * db - b.radius * b.radius;
  });
  for (const Sphere& hole : holes_) {
    const double gap = distance(region_.data(), centre(hole));
    const double room = relative_slack * (magnitude + hole.magnitude + radius + hole.radius + gap) +
                        2.0 * (uncertainty + hole.uncertainty);
    if (gap + radius + room < hole.radius) return true;
  }
  const std::size_t paired = std::min(holes_.size(), paired_holes);
  for (std::size_t a = 0; a < paired; ++a) {
    for (std::size_t b = a + 1; b < paired; ++b) {
      if (inside_pair(region_.data(), radius, magnitude, uncertainty, holes_[a], holes_[b])) return true;
    }
  }
  return false;
}

// Whether the ball (`centre`, `radius`) lies in the union of two holes. With
// n the unit vector from the first hole's centre to the second's, the plane
// n·θ = κ of equal power splits the union into the first hole (n·θ < κ) and
// the second (n·θ > κ); the ball's cap on each side must lie in that side's
// hole.
bool BallCover::inside_pair(const double* centre, double radius, double magnitude, double uncertainty,
                            const Sphere& first, const Sphere& second) const noexcept {
  const double* c1 = this->centre(first);
  const double* c2 = this->centre(second);
  const double apart = distance(c1, c2);
  const double room = relative_slack * (magnitude + first.magnitude + second.magnitude + radius + first.radius +
                                        second.radius + apart) +
                      4.0 * (uncertainty + first.uncertainty + second.uncertainty);
  if (!(apart > room)) return false;
  // Offsets along n measured from the first hole's centre.
  const double cut = (apart * apart + first.radius * first.radius - second.radius * second.radius) / (2.0 * apart);
  double along = 0.0;  // of the ball's centre
  for (std::size_t k = 0; k < d_; ++k) along += (centre[k] - c1[k]) * (c2[k] - c1[k]);
  along /= apart;
  const double to_first = distance(centre, c1);
  const double across = std::sqrt(std::max(to_first * to_first - along * along, 0.0));  // from the axis
  // The farthest point from a hole's centre of the ball's cap beyond the
  // plane on that hole's side: the ball's farthest point when it lies on
  // that side, else a point of the rim where the plane cuts the ball.
  const auto farthest = [&](double centre_along, double hole_along, double side) {
    // side = +1: the cap n·θ <= cut (first hole), -1: n·θ >= cut (second).
    const double signed_gap = side * (centre_along - cut);  // > 0: centre beyond the plane
    if (signed_gap >= radius) return -1.0;                  // no cap on that side
    const double to_hole = std::sqrt((centre_along - hole_along) * (centre_along - hole_along) + across * across);
    // The ball's farthest point from the hole's centre.
    if (to_hole > 0.0) {
      const double far_along = centre_along + radius * (centre_along - hole_along) / to_hole;
      if (side * (far_along - cut) <= 0.0) return to_hole + radius;
    }
    const double rim = std::sqrt(std::max(radius * radius - signed_gap * signed_gap, 0.0));
    return std::sqrt((cut - hole_along) * (cut - hole_along) + (across + rim) * (across + rim));
  };
  const double reach_first = farthest(along, 0.0, 1.0);
  if (!(reach_first + room < first.radius)) return false;
  const double reach_second = farthest(along, apart, -1.0);
  return reach_second + room < second.radius;
}

}  // namespace tarnwell
