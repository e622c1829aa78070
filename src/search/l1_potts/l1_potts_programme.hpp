// The sample loop of the L1-Potts programme: rows 1 .. n - 1 of the dynamic
// programme over (sample, level), given row 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "search/common/tie_rule.hpp"

namespace tarnwell {

// Rows run over K levels padded to a whole number of vector blocks
// (padded_levels): the padding repeats the last level, so its values copy
// those of level K - 1, and the arg-min rule, which keeps the first of equal
// values, never picks it. Padding spares the short rows of a signal with few
// levels most of the scalar remainder loops.
inline constexpr std::size_t level_block = 8;

inline std::size_t padded_level_count(std::size_t K) noexcept {
  return (K + level_block - 1) / level_block * level_block;
}

struct L1PottsProblem {
  const double* values;  // n samples
  const double* weights;
  const double* levels;  // padded_level_count(K), increasing then repeated
  std::uint64_t n = 0;
  std::size_t K = 0;  // real levels: the stride of the flag rows
  double pen = 0.0;
  TieRule tie_rule = TieRule::unit();
};

// Where the loop stopped: at the end (failed_sample = 0), or at the first
// sample whose base (best value plus pen) or row came out non-finite. `prev`
// then still holds the row before it, so the caller can name the value.
struct L1PottsProgress {
  std::uint64_t failed_sample = 0;
  bool base_failed = false;
};

// `prev` holds row 0 on entry and the last row on return (or the row before
// the failing sample); `cur` is scratch; both hold padded_level_count(K)
// values. best[0] must be set; best[i] and flags[i K .. i K + K) are written
// for every completed sample i (padding levels get no flags).
L1PottsProgress run_l1_potts_rows(const L1PottsProblem& problem, double*& prev, double*& cur, std::uint8_t* flags,
                                  std::uint32_t* best) noexcept;

// Index of the smallest value by the programme's arg-min rule (see
// l1_potts_row.hpp); for row 0.
std::uint32_t l1_potts_arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept;

}  // namespace tarnwell
