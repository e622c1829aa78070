// The sample loop of the L1-Potts programme: rows 1 .. n - 1 of the dynamic
// programme over (sample, level), given row 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/tie_rule.hpp"

namespace tarnwell {

// Rows run over K levels padded to a whole number of vector blocks
// (padded_level_count): the padding repeats the last level, so its values
// copy those of level K - 1, and the arg-min rule, which keeps the first of
// equal values, never picks it. Padding spares the short rows of a signal with
// few levels the scalar remainder loops.
inline constexpr std::size_t level_block = 4;

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
  // Proven beforehand (l1_potts_values_stay_finite): no value of any row can
  // overflow, so the rows need no finiteness checks.
  bool values_stay_finite = false;
};

// Where the loop stopped: at the end (failed_sample = 0), or at the first
// sample whose base (best value plus pen) or row came out non-finite. `prev`
// then still holds the row before it, so the caller can name the value.
struct L1PottsProgress {
  std::uint64_t failed_sample = 0;
  bool base_failed = false;
};

// Runs rows first .. last - 1 (first >= 1). `prev` holds row first - 1 on
// entry and the last row on return (or the row before the failing sample);
// `cur` is scratch; both hold padded_level_count(K) values. best[first - 1]
// must be set; best[i] and the flag row flags[i K .. i K + K) are written for
// every completed sample i. A flag row may spill up to level_block - 1 bytes
// of padding past its end, into the next row (written later) or, for the
// last sample, past n K: the flags need level_block bytes beyond n K.
L1PottsProgress run_l1_potts_rows(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last,
                                  double*& prev, double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept;

// True when every value of every row stays finite, for n samples whose
// weighted deviations from any level are at most `largest_deviation`. A row's
// largest value exceeds the previous row's by at most pen + 3 a + D (a the tie
// rule's absolute part, D the largest deviation) plus a relative 4e-12 (the
// keep rule's tolerance and the roundings), so row n - 1 stays below
// 1.5 n (D + pen + 3 a) while n <= 1e11.
bool l1_potts_values_stay_finite(std::uint64_t n, double largest_deviation, double pen,
                                 const TieRule& tie_rule) noexcept;

// Index of the smallest value by the programme's arg-min rule (see
// l1_potts_row.hpp); for row 0.
std::uint32_t l1_potts_arg_min(const double* row, std::size_t K, const TieRule& tie_rule) noexcept;

}  // namespace tarnwell
