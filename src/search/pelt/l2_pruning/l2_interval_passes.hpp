// The passes of the one-feature interval pruning, compiled for the baseline
// instruction set and, where the processor has it, for AVX2 (twice the lanes
// and single-instruction selects); chosen once per process. Every form gives
// bit-identical results.
#pragma once

#include <cstddef>

namespace tarnwell {

// Relative widening of every interval end for the rounding of its mean and
// radius (a few units in the last place; far more than needed).
inline constexpr double l2_interval_relative_slack = 0x1p-40;

// What the marking pass knows about the new start.
struct L2IntervalStep {
  double end;
  double sum_end;
  double square_end;
  double new_best;
  double margin;
};

struct L2IntervalPasses {
  // The endpoint costs at `end` of the first `count` starts, from their
  // prefix sums and positions; NaN where the cost must handle a term itself.
  void (*costs)(std::size_t count, double end, double sum_end, double square_end, const double* sum_at,
                const double* square_at, const double* position_at, double* out) noexcept;
  // Narrows each start's interval with the new start and sets its flag to 1
  // when it can be discarded, 0 otherwise (each column has the list's
  // sentinel entry at index -1).
  void (*mark)(const L2IntervalStep& step, std::size_t size, const double* best, const double* sum_at,
               const double* square_at, const double* position_at, double* lows, double* highs,
               const double* hole_lows, const double* hole_highs, double* dominated) noexcept;
};

// The fastest form this processor runs.
const L2IntervalPasses& l2_interval_passes() noexcept;
// The baseline form, and the AVX2 form (nothing without AVX2), for tests.
const L2IntervalPasses& l2_interval_passes_portable() noexcept;
const L2IntervalPasses* l2_interval_passes_avx2() noexcept;

}  // namespace tarnwell
