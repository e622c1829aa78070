// One fused pass of the one-feature interval pruning over Pelt's start list,
// for processors with AVX2: at grid step j it settles every start against
// the optimum at end e_j (the marking of the interval pruning), computes
// each start's endpoint cost at the next end e_{j+1}, and the smallest and
// second smallest value there.
//
// The list is updated in place, four starts per aligned block: the sweep
// writes back only the five columns a step changes. A start found dominated
// stays in the list, excluded from the values, until a block's worth have
// gathered and a separate pass packs the list. The interval where the entry
// before a start beats it is set when the start joins the list and again at
// each packing, the only times that entry changes; a dominated start left in
// place may still be that entry, which is sound: the test holds for any
// earlier start, pruned or not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwell {

// The columns of a swept start list, all doubles (positions, grid indices
// and expiries are exact below 2^53): the prefix sums at the start, its
// position and optimal value, the interval of means where it still matches
// every later start, the intervals where its predecessor and the entry
// before it in the list beat it by more than the margin, its
// endpoint cost and segment mean at the current end (NaN when unknown: the
// marking then learns nothing about it at that end), its grid index and the
// end position from which it is dropped (infinite while it is not).
enum class L2SweepColumn : std::size_t {
  sum,
  square,
  position,
  best,
  low,
  high,
  hole_low,
  hole_high,
  partner_low,
  partner_high,
  cost,
  mean,
  index,
  expiry,
};
inline constexpr std::size_t l2_sweep_column_count = 14;

// Columns are 32-byte aligned and begin with a block of four entries before
// the first, whose last entry (-1) is the list's sentinel (an infinite
// position, never an earlier partner); a pass reads and writes whole blocks.
inline constexpr std::size_t l2_sweep_block = 4;

struct L2SweepColumns {
  double* column[l2_sweep_column_count];

  double* operator[](L2SweepColumn which) const noexcept { return column[static_cast<std::size_t>(which)]; }
};

struct L2SweepStep {
  // The end the starts are settled at, its prefix sums and optimum
  // (infinite when it has none: nothing is settled), and the position from
  // which a start dominated there is dropped (infinite: never).
  double end;
  double sum_end;
  double square_end;
  double optimum;
  double expires_at;
  // The next end, where the costs are taken, and its prefix sums.
  double next_end;
  double sum_next;
  double square_next;
  double min_size;
  double pen;
  double margin;
};

// The smallest and second smallest value at the next end among the starts
// that are usable there and not yet dropped, the list entry of the first
// smallest, how many values there were, whether all were finite, and how
// many listed starts are dropped by then.
struct L2SweepSelection {
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
struct L2SweepAdmission {
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

struct L2SweepPasses {
  // Settles and costs the `size` starts of the list, in place.
  void (*sweep)(const L2SweepStep& step, std::size_t size, const L2SweepColumns& list,
                L2SweepSelection& selection) noexcept;
  // Removes, in order, the starts dropped at `end`, and sets each remaining
  // start's interval where the entry now before it beats it by more than
  // `margin`; returns how many remain.
  std::size_t (*pack)(std::size_t size, const L2SweepColumns& list, double end, double margin) noexcept;
  // Writes the start to entry `at`, after the entry before it, with the
  // intervals where its predecessor and that entry beat it by more than the
  // margin, and its cost and mean at the next end; returns that cost, as
  // the cost's own batch computes it (NaN where the cost must handle it).
  double (*admit)(const L2SweepColumns& list, std::size_t at, const L2SweepAdmission& start) noexcept;
};

// The fused passes, or nothing when this processor lacks AVX2.
const L2SweepPasses* l2_interval_sweep_avx2() noexcept;

}  // namespace tarnwell
