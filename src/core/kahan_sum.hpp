// Compensated (Kahan) summation: the running compensation recovers the
// low-order bits that plain addition drops, so long sums of costs and prefix
// statistics stay accurate to about one rounding.
#pragma once

namespace tarnwell {

struct KahanSum {
  double sum = 0.0;
  double compensation = 0.0;

  void add(double value) noexcept {
    const double corrected = value - compensation;
    const double total = sum + corrected;
    compensation = (total - sum) - corrected;
    sum = total;
  }
};

}  // namespace tarnwell
