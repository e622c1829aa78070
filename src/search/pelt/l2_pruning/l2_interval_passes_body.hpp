// The two passes of the one-feature interval pruning over the list of
// starts. Included once per instruction set (see l2_interval_passes.cpp and
// l2_interval_passes_avx2.cpp), each time into that unit's unnamed namespace;
// the arithmetic is the same, operation for operation, so every target gives
// bit-identical results (no contraction into fused multiply-adds).
// Include only after every other header of the unit.

namespace tarnwell {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double largest = std::numeric_limits<double>::max();

// The endpoint costs at `end` of the first `count` starts.
void costs_span(std::size_t count, double end, double sum_end, double square_end, const double* __restrict sum_at,
                const double* __restrict square_at, const double* __restrict position_at,
                double* __restrict out) noexcept {
  // A negative term (round-off, clamped or refused by the cost depending
  // on its size) or a non-finite one is left to the cost: marked NaN here,
  // which makes the whole batch fall back. One sample has no spread: 0
  // whatever its table difference.
  const double not_a_number = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < count; ++i) {
    const double length = end - position_at[i];
    const double sum_delta = sum_end - sum_at[i];
    const double mean_square = (sum_delta / length) * sum_delta;
    const double term = (square_end - square_at[i]) - mean_square;
    const double settled = std::fabs(term) <= largest ? term : not_a_number;
    const double checked = term >= 0.0 ? settled : not_a_number;
    out[i] = length == 1.0 ? 0.0 : checked;
  }
}

// Every start against the new one, its predecessor and the entry before it.
// Unaliased pointer parameters and straight-line arithmetic without early
// exits, so the loop vectorises.
void mark_span(const L2IntervalStep& step, std::size_t size, const double* __restrict best,
               const double* __restrict sum_at, const double* __restrict square_at,
               const double* __restrict position_at, double* __restrict lows, double* __restrict highs,
               const double* __restrict hole_lows, const double* __restrict hole_highs,
               double* __restrict dominated) noexcept {
  const double end = step.end;
  const double sum_end = step.sum_end;
  const double square_end = step.square_end;
  const double new_best = step.new_best;
  const double margin = step.margin;
  for (std::size_t i = 0; i < size; ++i) {
    // Entry -1 is the sentinel.
    const std::ptrdiff_t partner = static_cast<std::ptrdiff_t>(i) - 1;
    const double inverse_length = 1.0 / (end - position_at[i]);
    const double sum = sum_end - sum_at[i];
    const double mean = sum * inverse_length;
    const double within = (square_end - square_at[i]) - sum * mean;
    // τ is within the margin of s where (s − τ)(μ − mean)² ≤ reach.
    // reach ≤ 0: s is lower everywhere (the square root is then of 0 and
    // the bounds are not used). An overflowed or NaN reach proves nothing:
    // its bounds are infinite or NaN, and the comparisons keep the old ones.
    const double reach = (margin + (new_best - best[i])) - within;
    const double radius = std::sqrt((reach > 0.0 ? reach : 0.0) * inverse_length);
    const double slack = l2_interval_relative_slack * (std::fabs(mean) + radius);
    const double candidate_low = mean - radius - slack;
    const double candidate_high = mean + radius + slack;
    const double low_bound = lows[i] < candidate_low ? candidate_low : lows[i];
    const double high_bound = highs[i] > candidate_high ? candidate_high : highs[i];
    lows[i] = low_bound;
    highs[i] = high_bound;
    const bool outside = (low_bound > high_bound) | ((low_bound >= hole_lows[i]) & (high_bound <= hole_highs[i]));
    // The partner e beats τ by more than the margin on all of τ's interval
    // when G_τ − G_e = F(τ) − F(e) − q(μ) exceeds it at both ends, q being
    // the convex quadratic Σ_{[e,τ)} (y_i − μ)², evaluated without
    // division; its rounding is bounded from the magnitudes of its terms.
    // Before τ met any later start its interval is unbounded; overflowed
    // terms give infinite or NaN values, for which the comparisons fail.
    const double length = position_at[i] - position_at[partner];
    const double partner_sum = sum_at[i] - sum_at[partner];
    const double partner_squares = square_at[i] - square_at[partner];
    const double at_low = (partner_squares - 2.0 * low_bound * partner_sum) + length * low_bound * low_bound;
    const double at_high = (partner_squares - 2.0 * high_bound * partner_sum) + length * high_bound * high_bound;
    const double low_magnitude = std::fabs(low_bound);
    const double high_magnitude = std::fabs(high_bound);
    const double extent = low_magnitude > high_magnitude ? low_magnitude : high_magnitude;
    const double magnitude = std::fabs(partner_squares) + extent * (2.0 * std::fabs(partner_sum) + length * extent);
    const double rounding = l2_interval_relative_slack * magnitude;
    const double advantage = (best[i] - best[partner]) - margin;
    const bool bounded = (low_bound > -infinity) & (high_bound < infinity);
    const bool beaten =
        bounded & (length > 0.0) & (advantage > at_low + rounding) & (advantage > at_high + rounding);
    dominated[i] = (reach <= 0.0) | outside | beaten ? 1.0 : 0.0;
  }
}

}  // namespace
}  // namespace tarnwell
