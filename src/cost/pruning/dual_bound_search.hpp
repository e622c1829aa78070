// The search over a pair's multiplier mu for a dual bound that proves a start
// beaten: the bound is concave in mu on [low, high] (a minimum of functions
// linear in mu), so a golden-section search climbs to its maximum; it stops
// as soon as a positive value is met, since any positive bound is a proof.
// Where the bound is −∞ on both probes the maximum lies to the left (past the
// multiplier at which the combined form stops being bounded below).
#pragma once

#include <algorithm>

namespace tarnwell {

inline constexpr int dual_bound_steps = 16;

template <class Bound>
double best_dual_bound(const Bound& bound, double low, double high) {
  constexpr double ratio = 0.6180339887498949;
  double left = high - ratio * (high - low);
  double right = low + ratio * (high - low);
  double left_value = bound(left);
  double right_value = bound(right);
  double best = std::max(left_value, right_value);
  for (int step = 0; step < dual_bound_steps && best <= 0.0; ++step) {
    if (left_value < right_value) {
      low = left;
      left = right;
      left_value = right_value;
      right = low + ratio * (high - low);
      right_value = bound(right);
    } else {
      high = right;
      right = left;
      right_value = left_value;
      left = high - ratio * (high - low);
      left_value = bound(left);
    }
    best = std::max({best, left_value, right_value});
  }
  return best;
}

}  // namespace tarnwell
