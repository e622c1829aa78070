// The inner loops of the L1-Potts programme, one pass each over the K levels
// of a sample. Plain counted loops without early exits or calls, so that the
// compiler vectorises them over levels; they are inlined into the sample loop
// (l1_potts_programme.cpp), which is compiled once per instruction set.
#pragma once

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/tie_rule.hpp"

namespace tarnwell {

// Level k at one step keeps its running fit p unless starting a new segment
// from the best fit so far (`base`: that fit plus the penalty) is better by
// more than a tie: keep when p <= base or the two tie. With both finite, that
// is exactly "not clearly above".
inline bool starts_segment(double p, double base, const TieRule& tie_rule) noexcept {
  return tie_rule.clearly_above(p, base);
}

// One step at sample (y, w): cur[k] = (start ? base : prev[k]) + w |levels[k] - y|.
// Needs every prev[k] finite and >= 0 (or -0.0) and base finite and > 0.
// Returns false when some cur[k] came out non-finite. Only this loop and the
// arg-min lie on the chain from one sample to the next; the flags are stored
// by a loop of their own (below), whose byte stores would otherwise force a
// vector loop 32 levels wide onto short rows.
inline bool advance_row(const double* __restrict prev, double* __restrict cur, const double* __restrict levels,
                        std::size_t K, double y, double w, double base, const TieRule& tie_rule) noexcept {
  std::uint64_t non_finite = 0;
  for (std::size_t k = 0; k < K; ++k) {
    const double p = prev[k];
    const double value = (starts_segment(p, base, tie_rule) ? base : p) + w * std::fabs(levels[k] - y);
    cur[k] = value;
    // False for NaN as well as for both infinities.
    non_finite |= static_cast<std::uint64_t>(!(std::fabs(value) <= DBL_MAX));
  }
  return non_finite == 0;
}

// flags[k] = 1 when level k starts a new segment at this step, else 0.
inline void store_parent_flags(const double* __restrict prev, std::uint8_t* __restrict flags, std::size_t K,
                               double base, const TieRule& tie_rule) noexcept {
  for (std::size_t k = 0; k < K; ++k) flags[k] = static_cast<std::uint8_t>(starts_segment(prev[k], base, tie_rule));
}

// The smallest value of a row of finite values >= 0 (or -0.0). Such doubles
// order like their bit patterns read as signed integers (-0.0 reads as the
// most negative and is still a smallest value), and an integer minimum may
// be vectorised where a floating-point one, which must keep its order, may not.
inline double row_minimum(const double* row, std::size_t K) noexcept {
  std::int64_t smallest = std::bit_cast<std::int64_t>(row[0]);
  for (std::size_t k = 1; k < K; ++k) {
    const std::int64_t bits = std::bit_cast<std::int64_t>(row[k]);
    smallest = bits < smallest ? bits : smallest;
  }
  return std::bit_cast<double>(smallest);
}

// The exact scan rule, walking only the blocks of levels that hold a value
// below the running best.
inline std::uint32_t scan_arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept {
  constexpr std::size_t block = 64;
  std::uint32_t best = 0;
  double best_value = row[0];
  for (std::size_t start = 1; start < K; start += block) {
    const std::size_t end = std::min(start + block, K);
    std::uint64_t smaller = 0;
    for (std::size_t k = start; k < end; ++k) smaller |= static_cast<std::uint64_t>(row[k] < best_value);
    if (smaller == 0) continue;
    for (std::size_t k = start; k < end; ++k) {
      if (row[k] < best_value && !tie_rule.near(row[k], best_value)) {
        best = static_cast<std::uint32_t>(k);
        best_value = row[k];
      }
    }
  }
  return best;
}

// The first index holding `value`, which the row must contain: blocks are
// tested as a whole, and only the block that holds it is walked.
inline std::uint32_t first_index_of(const double* row, std::size_t K, double value) noexcept {
  constexpr std::size_t block = 32;
  std::size_t start = 0;
  for (; start + block <= K; start += block) {
    std::uint64_t found = 0;
    for (std::size_t k = start; k < start + block; ++k) found |= static_cast<std::uint64_t>(row[k] == value);
    if (found != 0) break;
  }
  while (!(row[start] == value)) ++start;
  return static_cast<std::uint32_t>(start);
}

// Index of the smallest value by the scan rule: walking up from index 0, the
// running best b gives way to k only when row[k] < row[b] and the two are not
// near-equal, so among near-equal minima the smallest index wins. Needs K >= 1
// and a row of finite values >= 0 (or -0.0).
//
// Fast path. Let m be the row's minimum. When no value lies strictly between
// m and m plus the tie rule's decision band, every value other than m is
// farther from it than a tie reaches from m or from any value tied with m. The scan then
// ends at the first m: whatever running best it holds before that index is
// far above m and gives way to it, and nothing after it is smaller. Otherwise
// near-ties decide, and the scan itself runs.
inline std::uint32_t arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept {
  const double smallest = row_minimum(row, K);
  const double reach = smallest + tie_rule.decision_band(smallest);
  std::uint64_t near_ties = 0;
  for (std::size_t k = 0; k < K; ++k) {
    near_ties |= static_cast<std::uint64_t>(row[k] > smallest) & static_cast<std::uint64_t>(row[k] <= reach);
  }
  if (near_ties != 0) return scan_arg_min(row, K, tie_rule);
  return first_index_of(row, K, smallest);
}

}  // namespace tarnwell
