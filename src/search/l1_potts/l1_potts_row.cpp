#include "search/l1_potts/l1_potts_row.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "search/common/near_equal.hpp"

namespace tarnwell {

bool advance_l1_potts_row(const double* __restrict prev, double* __restrict cur, std::uint8_t* __restrict flags,
                          const double* __restrict levels, std::size_t K, double y, double w, double base) noexcept {
  // near(p, base) reads |p - base| <= 1e-12 max(|p|, |base|) + 1e-12. With
  // p >= 0 and base > 0 the test "keep" (p <= base or near) is exactly
  // p - base <= 1e-12 p + 1e-12: for p <= base the left side is <= 0 and the
  // right side positive; for p > base both absolute values and the maximum
  // resolve to the same operands, so the rounded results agree bit for bit.
  unsigned non_finite = 0;
  for (std::size_t k = 0; k < K; ++k) {
    const double p = prev[k];
    const bool start = p - base > 1e-12 * p + 1e-12;
    const double value = (start ? base : p) + w * std::fabs(levels[k] - y);
    flags[k] = static_cast<std::uint8_t>(start);
    cur[k] = value;
    // False for NaN as well as for both infinities.
    non_finite |= static_cast<unsigned>(!(std::fabs(value) <= DBL_MAX));
  }
  return non_finite == 0;
}

std::uint32_t l1_potts_arg_min(const double* row, std::size_t K) noexcept {
  // Most levels cannot beat the running best at all. A vectorised test per
  // block of levels finds the blocks holding a smaller value; only those are
  // walked with the exact (sequential) rule.
  constexpr std::size_t block = 64;
  std::uint32_t best = 0;
  double best_value = row[0];
  for (std::size_t start = 1; start < K; start += block) {
    const std::size_t end = std::min(start + block, K);
    unsigned smaller = 0;
    for (std::size_t k = start; k < end; ++k) smaller |= static_cast<unsigned>(row[k] < best_value);
    if (smaller == 0) continue;
    for (std::size_t k = start; k < end; ++k) {
      if (row[k] < best_value && !near_equal(row[k], best_value)) {
        best = static_cast<std::uint32_t>(k);
        best_value = row[k];
      }
    }
  }
  return best;
}

}  // namespace tarnwell
