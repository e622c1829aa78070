// The two inner loops of the L1-Potts programme, one pass each over the K
// levels of a sample. Written as plain counted loops without early exits or
// calls so that the compiler vectorises them over levels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwell {

// One step of the programme at sample (y, w):
//   keep level k  when prev[k] <= base or near(prev[k], base): v = prev[k], flag 0
//   start anew    otherwise:                                  v = base,    flag 1
//   cur[k] = v + w |levels[k] - y|
// `base` is the best value of the previous sample plus the penalty. Needs
// every prev[k] finite and >= 0 (or -0.0) and base finite and > 0. Returns
// false when some cur[k] came out non-finite; the caller then finds which.
bool advance_l1_potts_row(const double* prev, double* cur, std::uint8_t* flags, const double* levels, std::size_t K,
                          double y, double w, double base) noexcept;

// Index of the smallest value by the scan rule: walking up from index 0, the
// running best b gives way to k only when row[k] < row[b] and the two are not
// near-equal, so among near-equal minima the smallest index wins. Needs K >= 1.
std::uint32_t l1_potts_arg_min(const double* row, std::size_t K) noexcept;

}  // namespace tarnwell
