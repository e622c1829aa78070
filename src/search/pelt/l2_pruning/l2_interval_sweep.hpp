// Pelt's steps over one feature with the interval pruning fused into one
// pass over the start list per step, for processors with AVX2: at grid
// step j the pass settles every start against the optimum at end e_j (the
// marking of the interval pruning), computes each start's endpoint cost at
// the next end e_{j+1}, and the smallest and second smallest value there;
// the start at e_j then joins the list and the optimum at e_{j+1} is taken,
// unless a near-tie (or a value the cost must compute itself) needs the
// search's sequential offers, for which the run returns to the search.
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

#include "core/error/error_kind.hpp"
#include "search/common/search_grid.hpp"
#include "core/tie_rule.hpp"

namespace tarnwell {

// The columns of a swept start list, all doubles (positions, grid indices
// and expiries are exact below 2^53): the prefix sums at the start, its
// position and optimal value, the interval of means where it still matches
// every later start, the intervals where its predecessor and the entry
// before it in the list beat it by more than the margin, its
// endpoint cost and segment mean at the current end (NaN when unknown: the
// marking then learns nothing about it at that end) and the inverse of its
// length there, its grid index and the end position from which it is
// dropped (infinite while it is not).
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
  inverse_length,
  index,
  expiry,
};
inline constexpr std::size_t l2_sweep_column_count = 15;

// Columns are 32-byte aligned and begin with a block of four entries before
// the first, whose last entry (-1) is the list's sentinel (an infinite
// position, never an earlier partner); a pass reads and writes whole blocks.
inline constexpr std::size_t l2_sweep_block = 4;

struct L2SweepColumns {
  double* column[l2_sweep_column_count];

  double* operator[](L2SweepColumn which) const noexcept { return column[static_cast<std::size_t>(which)]; }
};

// One search: the prefix tables, the grid of ends, the minimum segment
// length, the penalty, the pruning margin, the tie rule, and the search's
// tables of optimal values (infinite where none is known) and predecessors
// (the largest integer for none), which the steps write.
struct L2SweepSearch {
  const double* sums;
  const double* squares;
  SearchGrid grid;
  std::uint64_t min_size;
  double pen;
  double margin;
  TieRule tie;
  double* best;
  std::uint64_t* predecessor;
};

// The list between runs: its entries and room, the starts it still holds
// that were dropped at the last step (packed once a block's worth have
// gathered), and the values offered so far.
struct L2SweepCursor {
  std::size_t size = 0;
  std::size_t capacity = 0;
  std::size_t dropped = 0;
  std::uint64_t candidates = 0;
};

// Why a run returned at grid step `step`: every step is done; the start at
// that step needs more room in the list (nothing of the step is done yet);
// or the optimum at the next entry needs the search's sequential offers
// (the list holds every start usable there, with its cost, NaN where the
// cost must compute it).
enum class L2SweepStop { finished, needs_room, needs_offers };

struct L2SweepRun {
  std::size_t step;
  L2SweepStop stop;
};

struct L2SweepPasses {
  // Runs the search's steps from grid step `from` on, until one of the stops
  // above or an interruption (the error).
  Result<L2SweepRun> (*run)(const L2SweepSearch& search, const L2SweepColumns& list, L2SweepCursor& cursor,
                            std::size_t from) noexcept;
};

// The fused passes, or nothing when this processor lacks AVX2.
const L2SweepPasses* l2_interval_sweep_avx2() noexcept;

}  // namespace tarnwell
