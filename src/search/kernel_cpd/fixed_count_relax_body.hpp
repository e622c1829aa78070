// The relaxation loop shared by the scalar and the AVX2 translation units.
// Included only by those two; the anonymous namespace gives each unit its own
// copy, so code compiled for AVX2 never stands in for the scalar copy.
#pragma once

#include <cmath>
#include <cstdint>

#include "search/kernel_cpd/fixed_count_relax.hpp"
#include "search/kernel_cpd/fused_cost.hpp"

namespace tarnwell {
namespace {

// Column k of the end row takes h only by a clear margin over its current
// best (earlier starts win near-ties); the margin is remembered per column.
inline void relax_columns_scalar(const double* row_s, double* row_t, std::uint64_t* pred_t, double* tolerance,
                                 std::uint64_t from_column, std::uint64_t to_column, double cost,
                                 std::uint64_t start, double floor) {
  for (std::uint64_t k = from_column; k <= to_column; ++k) {
    const double h = row_s[k - 1] + cost;
    if (h < row_t[k] && row_t[k] - h > tolerance[k]) {
      row_t[k] = h;
      pred_t[k] = start;
      tolerance[k] = h * 1e-12 + floor;
    }
  }
}

template <class Columns>
UnsettledCost relax_end_with(const FixedCountTables& tables, const FixedCountEnd& end, std::uint64_t from,
                             const double* settled, Columns relax_columns) {
  const std::uint64_t segments_max = tables.columns - 1;
  const double diagonal_end = end.diagonal[end.t];
  double* row_t = tables.values + end.t * tables.columns;
  std::uint64_t* pred_t = tables.predecessor + end.t * tables.columns;
  double* tolerance = tables.tolerance;
  // q = s / first and its remainder, advanced with s instead of divided out:
  // first is a multiple of jump, so one step of jump wraps at most once.
  std::uint64_t q = from / end.first;
  std::uint64_t remainder = from - q * end.first;
  for (std::uint64_t s = from;;) {
    double cost;
    if (settled != nullptr && s == from) {
      cost = *settled;
    } else {
      cost = (diagonal_end - end.diagonal[s]) - end.within[s] / static_cast<double>(end.t - s);
      if (!plain_fused_cost(cost)) return UnsettledCost{true, s, cost};
    }
    // [0, s) holds at most q = s / first segments; at s = k * first exactly,
    // the smallest start that can hold k of them, column k is written
    // unconditionally (its first candidate for this end).
    const std::uint64_t k_max = q < segments_max ? q : segments_max;
    const bool exact = remainder == 0 && q <= segments_max;
    const double* row_s = tables.values + s * tables.columns;
    relax_columns(row_s, row_t, pred_t, tolerance, exact ? k_max - 1 : k_max, cost, s, tables.tie_floor);
    if (exact) {
      const double h = row_s[q - 1] + cost;
      row_t[q] = h;
      pred_t[q] = s;
      tolerance[q] = std::isfinite(h) ? h * 1e-12 + tables.tie_floor : 0.0;
    }
    if (end.last_start - s < end.jump) break;
    s += end.jump;
    remainder += end.jump;
    if (remainder >= end.first) {
      remainder -= end.first;
      ++q;
    }
  }
  return UnsettledCost{};
}

}  // namespace
}  // namespace tarnwell
