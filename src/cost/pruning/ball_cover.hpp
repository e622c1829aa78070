// The geometry of the pruning test shared by the models whose loss is a
// squared distance in some coordinates z (squared error, Mahalanobis, rank):
// the value of a start as a function of the segment's centre θ is
//   G_x(θ) = F(x) + pen + Σ_{i∈[x,T)} (‖z_i − θ‖² + c_i),
// so against a later start s the candidate τ keeps up only inside the ball
//   (s − τ)‖θ − m‖² ≤ F(s) − F(τ) − SS + margin   (m, SS: mean and scatter of [τ, s))
// and an earlier start e beats it by more than the margin inside the ball
//   (τ − e)‖θ − m‖² < F(τ) − F(e) − SS − margin   (of [e, τ)),
// whatever the end. The candidate is dominated when the balls of the later
// starts have no point outside the balls of the earlier ones ("holes").
//
// The test keeps a ball around the intersection of the later balls (each
// intersection of two balls is bounded by the ball around their lens) and
// asks whether that ball lies inside one hole, or inside the union of two:
// the plane of equal power of two holes splits space so that on each side
// the union is the hole of that side, and a ball cut by the plane lies in
// the hole of a side when its cap on that side does, which the farthest
// point of the cap from the hole's centre decides (on the cap's sphere or
// on its rim). Every radius handed in is already widened (balls) or
// narrowed (holes) for the margin; the geometry adds its own room for
// rounding, so it answers "covered" only when it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwell {

class BallCover {
 public:
  explicit BallCover(std::size_t dimension) : d_(dimension) {}

  std::size_t dimension() const noexcept { return d_; }

  // Clears the balls and holes of the previous question.
  void clear() noexcept;
  // A later start's ball (radius >= 0) and an earlier start's hole (radius
  // > 0); the centre has dimension() values. `magnitude` bounds the size of
  // the numbers the centre and radius are computed from (whose rounding the
  // geometry allows for), `uncertainty` the error the centre carries from
  // the statistics it comes from.
  void add_ball(const double* centre, double radius, double magnitude, double uncertainty);
  void add_hole(const double* centre, double radius, double magnitude, double uncertainty);

  // True when the intersection of the balls lies in the union of the holes
  // (as far as one or two holes show it), or is empty.
  bool covered();

 private:
  struct Sphere {
    std::size_t at;  // offset of the centre in the coordinate store
    double radius;
    double magnitude;
    double uncertainty;
  };
  const double* centre(const Sphere& sphere) const noexcept { return coordinates_.data() + sphere.at; }
  double distance(const double* left, const double* right) const noexcept;
  bool inside_pair(const double* centre, double radius, double magnitude, double uncertainty, const Sphere& first,
                   const Sphere& second) const noexcept;

  std::size_t d_;
  std::vector<double> coordinates_;
  std::vector<Sphere> balls_;
  std::vector<Sphere> holes_;
  std::vector<double> region_;
};

}  // namespace tarnwell
