// The fused sweep of the one-feature interval pruning in AVX2, four starts
// per iteration, and the loop of Pelt steps around it. The costs use the
// same operations, in the same order, as the cost's own batch (no fused
// multiply-adds), so they are bit-identical to it. The marking makes the
// tests of the portable passes, reading the cost and mean at the current end
// that the previous sweep stored; the test against the entry before a start
// compares with an interval that the packing pass (or the admission) sets
// whenever that entry changes, instead of evaluating the two quadratics
// every step. The steps run here, not in the search, so that the search's
// constants stay in registers and a step costs no call: they return to the
// search only for what it must do itself.
#include "search/pelt/l2_pruning/l2_interval_sweep.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <array>
#include <cstdint>
#include <limits>

#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "search/pelt/l2_pruning/l2_interval_passes.hpp"

// Everything included above is compiled for the baseline; only this unit's
// own functions, lambdas included, are compiled for AVX2, and they run only
// after the processor check.
#pragma GCC push_options
#pragma GCC target("avx2")
// The lambdas below take and return vectors; they are local to this unit and
// inlined, so the note that their calling convention differs without AVX
// concerns no caller.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tarnwell {
namespace {

// Lane permutations that move the kept lanes of a four-lane mask to the
// front, in order, as pairs of 32-bit indices.
constexpr std::array<std::array<std::int32_t, 8>, 16> left_pack_table() {
  std::array<std::array<std::int32_t, 8>, 16> table{};
  for (int mask = 0; mask < 16; ++mask) {
    int out = 0;
    for (int lane = 0; lane < 4; ++lane) {
      if (((mask >> lane) & 1) == 0) continue;
      table[mask][2 * out] = 2 * lane;
      table[mask][2 * out + 1] = 2 * lane + 1;
      ++out;
    }
    for (; out < 4; ++out) {
      table[mask][2 * out] = 0;
      table[mask][2 * out + 1] = 1;
    }
  }
  return table;
}

alignas(32) constexpr std::array<std::array<std::int32_t, 8>, 16> left_pack = left_pack_table();

// The numbers of the four entries from `first` on, as doubles. The list is
// far below 2^63 entries; converting as signed takes one instruction where
// an unsigned conversion tests the top bit first.
inline __m256d entry_numbers(std::size_t first) noexcept {
  return _mm256_add_pd(_mm256_set1_pd(static_cast<double>(static_cast<std::int64_t>(first))),
                       _mm256_set_pd(3.0, 2.0, 1.0, 0.0));
}

// One step's sweep: the prefix sums at the end the starts are settled at,
// its optimum (infinite when it has none: nothing is settled), and the
// position from which a start dominated there is dropped (infinite: never);
// the next end, where the costs are taken, and its prefix sums.
struct Step {
  double sum_end;
  double square_end;
  double optimum;
  double expires_at;
  double next_end;
  double sum_next;
  double square_next;
};

// The search's constants, as the sweep uses them.
struct Constants {
  double min_size;
  double pen;
  double margin;
};

// The smallest and second smallest value at the next end among the starts
// that are usable there and not yet dropped, the list entry of the first
// smallest, how many values there were, whether all were finite, and how
// many listed starts are dropped by then.
struct Selection {
  double lowest;
  double runner_up;
  std::size_t lowest_at;
  std::size_t candidates;
  std::size_t dropped;
  bool all_finite;
};

// A start joining the list: its position, prefix sums and optimal value;
// those of its predecessor (the start of the last segment of its optimum,
// its own when it has none); its grid index; and the next end, with its
// prefix sums, where its cost is taken.
struct Admission {
  double position;
  double sum;
  double square;
  double best;
  double predecessor_position;
  double predecessor_sum;
  double predecessor_square;
  double predecessor_best;
  double index;
  double next_end;
  double sum_next;
  double square_next;
  double margin;
};

// The cost's endpoint value from a segment's sum of squared deviations and
// its length: a negative, overflowing or NaN term becomes a NaN (all bits
// set), for the cost to handle itself, and one sample costs 0.
inline __m256d endpoint_cost(__m256d term, __m256d length) noexcept {
  const __m256d refused =
      _mm256_or_pd(_mm256_cmp_pd(term, _mm256_setzero_pd(), _CMP_NGE_UQ),
                   _mm256_cmp_pd(term, _mm256_set1_pd(std::numeric_limits<double>::max()), _CMP_NLE_UQ));
  return _mm256_andnot_pd(_mm256_cmp_pd(length, _mm256_set1_pd(1.0), _CMP_EQ_OQ), _mm256_or_pd(term, refused));
}

inline Selection sweep(const Step& step, const Constants& search, std::size_t size,
                       const L2SweepColumns& list) noexcept {
  using Column = L2SweepColumn;
  const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256d magnitude_bits = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d relative_slack = _mm256_set1_pd(l2_interval_relative_slack);
  const __m256d margin = _mm256_set1_pd(search.margin);
  const __m256d pen = _mm256_set1_pd(search.pen);
  const __m256d optimum = _mm256_set1_pd(step.optimum);
  const __m256d expires_at = _mm256_set1_pd(step.expires_at);
  const __m256d next_end = _mm256_set1_pd(step.next_end);
  const __m256d sum_next = _mm256_set1_pd(step.sum_next);
  const __m256d square_next = _mm256_set1_pd(step.square_next);
  const __m256d min_size = _mm256_set1_pd(search.min_size);
  const __m256d entries = _mm256_set1_pd(static_cast<double>(size));
  const auto abs = [&](__m256d value) { return _mm256_and_pd(value, magnitude_bits); };
  const auto select = [](__m256d mask, __m256d if_true, __m256d if_false) {
    return _mm256_blendv_pd(if_false, if_true, mask);
  };
  __m256d lowest = infinity;
  __m256d runner_up = infinity;
  __m256d lowest_at = zero;
  __m256d non_finite = zero;
  std::size_t candidates = 0;
  std::size_t dropped = 0;
  for (std::size_t i = 0; i < size; i += 4) {
    const auto load = [&](Column which) { return _mm256_load_pd(list[which] + i); };
    const auto store = [&](Column which, __m256d values) { _mm256_store_pd(list[which] + i, values); };
    const __m256d position = load(Column::position);
    const __m256d sum = load(Column::sum);
    const __m256d square = load(Column::square);
    const __m256d best = load(Column::best);
    const __m256d expiry = load(Column::expiry);
    const __m256d entry = entry_numbers(i);
    const __m256d listed = _mm256_cmp_pd(entry, entries, _CMP_LT_OQ);

    // Settling against the optimum at `end`, as in the portable marking
    // pass, with the cost, mean and inverse length at `end` from the previous
    // sweep. The inverse is taken there, where nothing waits for it, so that
    // the settling's chain to its square root starts with a product. A start
    // whose cost there is unknown (NaN) learns nothing at this end: its reach
    // and radius are NaN, its bounds NaN, and every comparison keeps the old
    // interval and drops nothing.
    const __m256d within = load(Column::cost);
    const __m256d mean = load(Column::mean);
    const __m256d reach = _mm256_sub_pd(_mm256_add_pd(margin, _mm256_sub_pd(optimum, best)), within);
    const __m256d inverse_length = load(Column::inverse_length);
    // The maximum returns its second operand when either is NaN.
    const __m256d radius = _mm256_sqrt_pd(_mm256_mul_pd(_mm256_max_pd(zero, reach), inverse_length));
    const __m256d slack = _mm256_mul_pd(relative_slack, _mm256_add_pd(abs(mean), radius));
    const __m256d candidate_low = _mm256_sub_pd(_mm256_sub_pd(mean, radius), slack);
    const __m256d candidate_high = _mm256_add_pd(_mm256_add_pd(mean, radius), slack);
    const __m256d old_low = load(Column::low);
    const __m256d old_high = load(Column::high);
    const __m256d low = select(_mm256_cmp_pd(old_low, candidate_low, _CMP_LT_OQ), candidate_low, old_low);
    const __m256d high = select(_mm256_cmp_pd(old_high, candidate_high, _CMP_GT_OQ), candidate_high, old_high);
    // Dominated when the later starts leave it nothing, or when what they
    // leave lies where its predecessor, or the entry before it in the list,
    // is lower by more than the margin.
    const auto inside = [&](Column from, Column to) {
      return _mm256_and_pd(_mm256_cmp_pd(low, load(from), _CMP_GE_OQ), _mm256_cmp_pd(high, load(to), _CMP_LE_OQ));
    };
    const __m256d dominated = _mm256_or_pd(
        _mm256_or_pd(_mm256_cmp_pd(reach, zero, _CMP_LE_OQ), _mm256_cmp_pd(low, high, _CMP_GT_OQ)),
        _mm256_or_pd(inside(Column::hole_low, Column::hole_high), inside(Column::partner_low, Column::partner_high)));
    const __m256d expiry_after =
        select(_mm256_and_pd(dominated, _mm256_cmp_pd(expires_at, expiry, _CMP_LT_OQ)), expires_at, expiry);

    // The endpoint cost at the next end, operation for operation the cost's
    // own: NaN marks a term the cost must handle itself, one sample costs 0.
    const __m256d next_length = _mm256_sub_pd(next_end, position);
    const __m256d sum_delta = _mm256_sub_pd(sum_next, sum);
    const __m256d next_mean = _mm256_div_pd(sum_delta, next_length);
    const __m256d term = _mm256_sub_pd(_mm256_sub_pd(square_next, square), _mm256_mul_pd(next_mean, sum_delta));
    const __m256d next_cost = endpoint_cost(term, next_length);

    // Offered: listed, not dropped before this step (a start dominated at
    // `end` is far above the optimum at the next end, and offering it once
    // more keeps the selection off the settling's latency), usable.
    const __m256d remains = _mm256_and_pd(listed, _mm256_cmp_pd(expiry, next_end, _CMP_GT_OQ));
    const __m256d usable = _mm256_and_pd(remains, _mm256_cmp_pd(next_length, min_size, _CMP_GE_OQ));
    const __m256d value = _mm256_add_pd(_mm256_add_pd(next_cost, best), pen);
    non_finite = _mm256_or_pd(
        non_finite, _mm256_andnot_pd(_mm256_cmp_pd(_mm256_sub_pd(value, value), zero, _CMP_EQ_OQ), usable));
    const __m256d offered = select(usable, value, infinity);
    const __m256d lower = _mm256_cmp_pd(offered, lowest, _CMP_LT_OQ);
    runner_up = select(lower, lowest, _mm256_min_pd(offered, runner_up));
    lowest_at = select(lower, entry, lowest_at);
    lowest = select(lower, offered, lowest);
    candidates += static_cast<std::size_t>(__builtin_popcount(_mm256_movemask_pd(usable)));
    const __m256d gone = _mm256_andnot_pd(_mm256_cmp_pd(expiry_after, next_end, _CMP_GT_OQ), listed);
    dropped += static_cast<std::size_t>(__builtin_popcount(_mm256_movemask_pd(gone)));

    store(Column::low, low);
    store(Column::high, high);
    store(Column::cost, next_cost);
    store(Column::mean, next_mean);
    store(Column::inverse_length, _mm256_div_pd(one, next_length));
    store(Column::expiry, expiry_after);
  }

  // The lanes' smallest values, first occurrences first, combined pairwise
  // in the vectors (lanes two apart, then neighbours), without branches on
  // the values: their order is not predictable. No value here is NaN.
  const auto combine = [&](__m256d other_lowest, __m256d other_at, __m256d other_runner_up) {
    const __m256d other_lower = _mm256_or_pd(
        _mm256_cmp_pd(other_lowest, lowest, _CMP_LT_OQ),
        _mm256_and_pd(_mm256_cmp_pd(other_lowest, lowest, _CMP_EQ_OQ), _mm256_cmp_pd(other_at, lowest_at, _CMP_LT_OQ)));
    const __m256d displaced = select(other_lower, lowest, other_lowest);
    runner_up = _mm256_min_pd(_mm256_min_pd(runner_up, other_runner_up), displaced);
    lowest_at = select(other_lower, other_at, lowest_at);
    lowest = select(other_lower, other_lowest, lowest);
  };
  combine(_mm256_permute2f128_pd(lowest, lowest, 1), _mm256_permute2f128_pd(lowest_at, lowest_at, 1),
          _mm256_permute2f128_pd(runner_up, runner_up, 1));
  combine(_mm256_permute_pd(lowest, 0x5), _mm256_permute_pd(lowest_at, 0x5), _mm256_permute_pd(runner_up, 0x5));
  const double best_value = _mm256_cvtsd_f64(lowest);
  const double second = _mm256_cvtsd_f64(runner_up);
  const double best_at = _mm256_cvtsd_f64(lowest_at);
  // Entry numbers and grid indices convert as signed: one instruction, where
  // an unsigned conversion compares with 2^63 first.
  return {best_value, second, static_cast<std::size_t>(static_cast<std::int64_t>(best_at)), candidates, dropped,
          _mm256_movemask_pd(non_finite) == 0};
}

// For each lane, an earlier start e and a later one τ, `length` samples
// apart, whose samples in between have the sum `between` and the sum of
// squares `squares`, and whose optimal values differ by `best_gap`: the
// interval of means on which e is lower than τ by more than `margin`,
// narrowed for round-off, and empty (infinite low, negative infinite high)
// when there is none or `length` is not a finite positive number. Also the
// mean of those samples and their sum of squared deviations, in the
// operations and order of the cost's own batch, and the inverse length.
struct BeatenIntervals {
  __m256d low;
  __m256d high;
  __m256d mean;
  __m256d within;
  __m256d inverse_length;
};

BeatenIntervals beaten_intervals(__m256d length, __m256d between, __m256d squares, __m256d best_gap,
                                 __m256d margin) noexcept {
  const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256d magnitude_bits = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m256d zero = _mm256_setzero_pd();
  const __m256d relative_slack = _mm256_set1_pd(l2_interval_relative_slack);
  const __m256d mean = _mm256_div_pd(between, length);
  // Taken beside the mean's division rather than after the reach, so that
  // the chain to the square root holds one division, not two; the product
  // rounds once more, far inside the slack.
  const __m256d inverse_length = _mm256_div_pd(_mm256_set1_pd(1.0), length);
  const __m256d within = _mm256_sub_pd(squares, _mm256_mul_pd(between, mean));
  const __m256d reach = _mm256_sub_pd(_mm256_sub_pd(best_gap, within), margin);
  const __m256d radius = _mm256_sqrt_pd(_mm256_mul_pd(_mm256_max_pd(reach, zero), inverse_length));
  const __m256d slack = _mm256_mul_pd(relative_slack, _mm256_add_pd(_mm256_and_pd(mean, magnitude_bits), radius));
  // A finite positive length (not the sentinel's), a positive reach and a
  // radius wider than its rounding; NaN anywhere fails these.
  const __m256d exists = _mm256_and_pd(
      _mm256_and_pd(_mm256_cmp_pd(length, zero, _CMP_GT_OQ), _mm256_cmp_pd(length, infinity, _CMP_LT_OQ)),
      _mm256_and_pd(_mm256_cmp_pd(reach, zero, _CMP_GT_OQ), _mm256_cmp_pd(radius, slack, _CMP_GT_OQ)));
  return {_mm256_blendv_pd(infinity, _mm256_add_pd(_mm256_sub_pd(mean, radius), slack), exists),
          _mm256_blendv_pd(_mm256_sub_pd(zero, infinity), _mm256_sub_pd(_mm256_add_pd(mean, radius), slack), exists),
          mean, within, inverse_length};
}

// Lane l of the result is entry l - 1: the block's own lanes moved up one,
// with the last entry of the block before in lane 0.
__m256d entries_before(__m256d block, __m256d previous_block) noexcept {
  return _mm256_blend_pd(_mm256_permute4x64_pd(block, 0x93), _mm256_permute4x64_pd(previous_block, 0xff), 0x1);
}

// Moves the starts not dropped at `end` to the front, in order, four at a
// time (a block is read before anything at or after it is written), then
// gives every start the interval where its new neighbour before it is lower
// by more than `margin`, as the scalar admission does (empty when there is
// none, and for the first, whose neighbour is the sentinel).
std::size_t pack(std::size_t size, const L2SweepColumns& list, double end_position, double margin_value) noexcept {
  using Column = L2SweepColumn;
  const __m256d end = _mm256_set1_pd(end_position);
  const __m256d entries = _mm256_set1_pd(static_cast<double>(size));
  // Whole blocks before the first dropped start stay where they are, and so
  // do their neighbours: neither pass touches them.
  std::size_t unchanged = 0;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size; i += 4) {
    const __m256d entry = entry_numbers(i);
    const __m256d listed = _mm256_cmp_pd(entry, entries, _CMP_LT_OQ);
    const __m256d remains =
        _mm256_and_pd(listed, _mm256_cmp_pd(_mm256_load_pd(list[Column::expiry] + i), end, _CMP_GT_OQ));
    const int keep = _mm256_movemask_pd(remains);
    if (keep == 0xf && kept == i) {
      kept += 4;
      unchanged = kept;
      continue;
    }
    const __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(left_pack[keep].data()));
    for (std::size_t column = 0; column < l2_sweep_column_count; ++column) {
      const __m256d values = _mm256_load_pd(list.column[column] + i);
      _mm256_storeu_pd(list.column[column] + kept,
                       _mm256_castsi256_pd(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(values), order)));
    }
    kept += static_cast<std::size_t>(__builtin_popcount(keep));
  }

  const __m256d margin = _mm256_set1_pd(margin_value);
  // The block before the first changed one; the sentinel block for the first.
  const std::ptrdiff_t before = static_cast<std::ptrdiff_t>(unchanged) - 4;
  __m256d previous_position = _mm256_load_pd(list[Column::position] + before);
  __m256d previous_sum = _mm256_load_pd(list[Column::sum] + before);
  __m256d previous_square = _mm256_load_pd(list[Column::square] + before);
  __m256d previous_best = _mm256_load_pd(list[Column::best] + before);
  for (std::size_t i = unchanged; i < kept; i += 4) {
    const __m256d position = _mm256_load_pd(list[Column::position] + i);
    const __m256d sum = _mm256_load_pd(list[Column::sum] + i);
    const __m256d square = _mm256_load_pd(list[Column::square] + i);
    const __m256d best = _mm256_load_pd(list[Column::best] + i);
    const __m256d length = _mm256_sub_pd(position, entries_before(position, previous_position));
    const __m256d between = _mm256_sub_pd(sum, entries_before(sum, previous_sum));
    const __m256d squares = _mm256_sub_pd(square, entries_before(square, previous_square));
    const __m256d best_gap = _mm256_sub_pd(best, entries_before(best, previous_best));
    previous_position = position;
    previous_sum = sum;
    previous_square = square;
    previous_best = best;
    const BeatenIntervals beaten = beaten_intervals(length, between, squares, best_gap, margin);
    _mm256_store_pd(list[Column::partner_low] + i, beaten.low);
    _mm256_store_pd(list[Column::partner_high] + i, beaten.high);
  }
  return kept;
}

// The start's two intervals and its cost at the next end in the lanes of
// one computation: lane 0 against its predecessor, lane 1 against the entry
// before it in the list (the sentinel for the first), lane 2 its own
// segment up to the next end, whose sum of squared deviations is the cost's
// term, operation for operation.
inline double admit(const L2SweepColumns& list, std::size_t at, const Admission& start) noexcept {
  using Column = L2SweepColumn;
  const __m256d position = _mm256_set1_pd(start.position);
  const __m256d sum = _mm256_set1_pd(start.sum);
  const __m256d square = _mm256_set1_pd(start.square);
  const __m256d best = _mm256_set1_pd(start.best);
  // The entry before the first is the sentinel block's last.
  const std::ptrdiff_t before = static_cast<std::ptrdiff_t>(at) - 1;
  const __m256d earlier_position = _mm256_set_pd(0.0, start.next_end, list[Column::position][before],
                                                 start.predecessor_position);
  const __m256d earlier_sum = _mm256_set_pd(0.0, start.sum_next, list[Column::sum][before], start.predecessor_sum);
  const __m256d earlier_square =
      _mm256_set_pd(0.0, start.square_next, list[Column::square][before], start.predecessor_square);
  const __m256d earlier_best = _mm256_set_pd(0.0, 0.0, list[Column::best][before], start.predecessor_best);
  // Lane 2 runs forwards from the start, the others backwards to it; only
  // the signs of the differences change, which rounding does not see.
  const __m256d forwards = _mm256_castsi256_pd(_mm256_set_epi64x(0, -1, 0, 0));
  const auto difference = [&](__m256d own, __m256d other) {
    return _mm256_blendv_pd(_mm256_sub_pd(own, other), _mm256_sub_pd(other, own), forwards);
  };
  const __m256d length = difference(position, earlier_position);
  const BeatenIntervals beaten = beaten_intervals(length, difference(sum, earlier_sum),
                                                  difference(square, earlier_square),
                                                  _mm256_sub_pd(best, earlier_best), _mm256_set1_pd(start.margin));
  alignas(32) double low[4];
  alignas(32) double high[4];
  alignas(32) double mean[4];
  _mm256_store_pd(low, beaten.low);
  _mm256_store_pd(high, beaten.high);
  _mm256_store_pd(mean, beaten.mean);
  // Lane 2 moved to the bottom rather than stored and read back: the step's
  // optimum waits for this value.
  const auto lane_2 = [](__m256d values) { return _mm256_cvtsd_f64(_mm256_permute4x64_pd(values, 0x2)); };
  const double cost = lane_2(endpoint_cost(beaten.within, length));
  const double infinity = std::numeric_limits<double>::infinity();
  const auto set = [&](Column which, double value) { list[which][at] = value; };
  set(Column::sum, start.sum);
  set(Column::square, start.square);
  set(Column::position, start.position);
  set(Column::best, start.best);
  set(Column::low, -infinity);
  set(Column::high, infinity);
  set(Column::hole_low, low[0]);
  set(Column::hole_high, high[0]);
  set(Column::partner_low, low[1]);
  set(Column::partner_high, high[1]);
  set(Column::cost, cost);
  set(Column::mean, mean[2]);
  set(Column::inverse_length, lane_2(beaten.inverse_length));
  set(Column::index, start.index);
  set(Column::expiry, infinity);
  return cost;
}

// The search's steps from `from` on: each sweeps the list, packs it when a
// block's worth of starts was dropped at the step before, admits the start
// at its end, and takes the optimum at the next end when the selection
// settles it alone, as the search's own steps would.
Result<L2SweepRun> run(const L2SweepSearch& search, const L2SweepColumns& list, L2SweepCursor& cursor,
                       std::size_t from) noexcept {
  constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();
  const SearchGrid& grid = search.grid;
  const auto exact = [](std::uint64_t value) { return static_cast<double>(static_cast<std::int64_t>(value)); };
  const double infinity = std::numeric_limits<double>::infinity();
  const Constants constants{static_cast<double>(search.min_size), search.pen, search.margin};
  std::size_t size = cursor.size;
  std::size_t dropped_before = cursor.dropped;
  std::uint64_t candidates = cursor.candidates;
  const auto stop = [&](std::size_t step, L2SweepStop why) {
    cursor.size = size;
    cursor.dropped = dropped_before;
    cursor.candidates = candidates;
    return L2SweepRun{step, why};
  };
  // The optimum and predecessor at the step's end, carried from the step
  // that took them rather than read back from the tables it just wrote.
  double optimum_here = search.best[from];
  std::uint64_t predecessor_here = search.predecessor[from];
  for (std::size_t j = from; j + 1 < grid.size(); ++j) {
    TARNWELL_CHECK(check_interruption(j, grid.size()));
    const std::uint64_t end = grid[j];
    const std::uint64_t next_end = grid[j + 1];
    const double optimum = optimum_here;
    const bool settled = !std::isinf(optimum);
    if (settled && size + 1 > cursor.capacity) return stop(j, L2SweepStop::needs_room);
    // Positions are below 2^53, so their doubles are exact; a sum beyond
    // that rounds to beyond every position.
    const double end_position = exact(end);
    const double next_position = exact(next_end);
    const Step step{search.sums[end],
                    search.squares[end],
                    optimum,
                    settled ? end_position + constants.min_size : infinity,
                    next_position,
                    search.sums[next_end],
                    search.squares[next_end]};
    Selection selection = sweep(step, constants, size, list);
    std::uint64_t lowest_index = 0;
    if (selection.candidates > 0) {
      lowest_index = static_cast<std::uint64_t>(
          static_cast<std::int64_t>(list[L2SweepColumn::index][selection.lowest_at]));
    }
    // Packing is a pass over every column and resets the partner intervals:
    // only once a block's worth of starts has been dropped. The count of the
    // step before decides, so the branch need not wait for this sweep.
    if (dropped_before >= l2_sweep_block) size = pack(size, list, next_position, search.margin);
    dropped_before = selection.dropped;
    if (settled) {
      const std::uint64_t predecessor = predecessor_here;
      // Without a predecessor the hole is empty: its segment is empty.
      const std::uint64_t predecessor_position = predecessor == no_predecessor ? end : grid[predecessor];
      const double predecessor_best = predecessor == no_predecessor ? optimum : search.best[predecessor];
      const Admission start{end_position,
                            step.sum_end,
                            step.square_end,
                            optimum,
                            exact(predecessor_position),
                            search.sums[predecessor_position],
                            search.squares[predecessor_position],
                            predecessor_best,
                            exact(j),
                            next_position,
                            step.sum_next,
                            step.square_next,
                            search.margin};
      const double cost_to_next = admit(list, size, start);
      ++size;
      if (next_end - end >= search.min_size) {
        // Offered last, after every earlier start.
        const double value = (cost_to_next + optimum) + search.pen;
        selection.all_finite &= is_finite_value(value);
        // Without branches: whether the newest start is the lowest or the
        // runner-up follows the data.
        const bool lower = value < selection.lowest;
        const double displaced = lower ? selection.lowest : value;
        selection.runner_up = displaced < selection.runner_up ? displaced : selection.runner_up;
        lowest_index = lower ? j : lowest_index;
        selection.lowest = lower ? value : selection.lowest;
        ++selection.candidates;
      }
    }
    candidates += selection.candidates;
    if (selection.candidates == 0) {
      optimum_here = search.best[j + 1];
      predecessor_here = search.predecessor[j + 1];
      continue;
    }
    if (selection.all_finite &&
        (std::isinf(selection.runner_up) || search.tie.well_separated(selection.runner_up, selection.lowest))) {
      search.best[j + 1] = selection.lowest;
      search.predecessor[j + 1] = lowest_index;
      optimum_here = selection.lowest;
      predecessor_here = lowest_index;
    } else {
      return stop(j, L2SweepStop::needs_offers);
    }
  }
  return stop(grid.size(), L2SweepStop::finished);
}

}  // namespace

const L2SweepPasses* l2_interval_sweep_avx2() noexcept {
  static constexpr L2SweepPasses passes{run};
  return __builtin_cpu_supports("avx2") ? &passes : nullptr;
}

}  // namespace tarnwell
#pragma GCC diagnostic pop
#pragma GCC pop_options
#else
namespace tarnwell {

const L2SweepPasses* l2_interval_sweep_avx2() noexcept { return nullptr; }

}  // namespace tarnwell
#endif
