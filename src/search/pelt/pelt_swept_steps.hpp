// Pruned Pelt steps for a functional pruning that offers a fused sweep: the
// pruner's passes run the steps (one pass per grid entry settles the listed
// starts at its end and takes their costs at the next end, updating the list
// in place; dropped starts are packed away once a block's worth has
// gathered) and return here for more room in the list and for the
// sequential offers of a near-tie. The values offered, the tie rule and the
// path tie-break are those of the stepwise form; only starts proven to stay
// above the optimum by more than the pruning margin are offered one step
// longer, which changes no optimum and no tie.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/segment_cost.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/pelt/pelt_tables.hpp"

namespace tarnwell::pelt_detail {

template <class Pruner>
concept SweepingPruner = requires(const Pruner& pruner) {
  typename Pruner::SweepList;
  { pruner.sweep() };
};

// Entry j + 1 when the sweep's selection cannot settle it alone (a near-tie,
// a value the cost must compute itself): the starts of `list` usable at
// `end` and not dropped there are offered one by one, in order, with the
// cost's own batch where a stored cost is unknown. The batch's values are
// kept in the list, where the next sweep reads them.
template <SegmentCost Cost, class List>
Status offer_swept_list(const Cost& cost, List& list, std::size_t size, std::uint64_t end, std::uint64_t min_size,
                        double pen, std::size_t j, PeltTables& tables, std::vector<std::size_t>& entries,
                        std::vector<std::uint64_t>& starts, EndpointBatch& batch) {
  using Column = typename List::Column;
  entries.clear();
  starts.clear();
  bool all_known = true;
  for (std::size_t i = 0; i < size; ++i) {
    const double position = list.at(Column::position, i);
    if (!(list.at(Column::expiry, i) > static_cast<double>(end))) continue;
    if (static_cast<double>(end) - position < static_cast<double>(min_size)) continue;
    TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] {
      entries.push_back(i);
      starts.push_back(static_cast<std::uint64_t>(position));
    }));
    all_known &= is_finite_value((list.at(Column::cost, i) + list.at(Column::best, i)) + pen);
  }
  if (!all_known) {
    TARNWELL_CHECK(cost.endpoint_costs(std::span<const std::uint64_t>(starts), end, batch));
    if (batch.size() != entries.size()) {
      return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
    }
    for (std::size_t k = 0; k < entries.size(); ++k) list.at(Column::cost, entries[k]) = batch[k];
  }
  for (const std::size_t i : entries) {
    const auto index = static_cast<std::uint64_t>(list.at(Column::index, i));
    TARNWELL_CHECK(tables.offer(j + 1, index, tables.candidate(index, list.at(Column::cost, i), pen)));
  }
  return {};
}

template <SegmentCost Cost, SweepingPruner Pruner>
Status run_swept_steps(const Cost& cost, const SearchGrid& grid, PeltTables& tables, std::uint64_t min_size,
                       double pen, const Pruner& pruner, SearchCounters* counters) {
  using List = typename Pruner::SweepList;
  static_assert(no_predecessor == std::numeric_limits<std::uint64_t>::max(),
                "the fused passes read the largest integer as no predecessor");
  const auto& passes = *pruner.sweep();
  std::optional<List> storage;
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] { storage.emplace(); }));
  List& list = *storage;
  std::vector<std::size_t> entries;
  std::vector<std::uint64_t> starts;
  EndpointBatch batch;
  const auto search =
      pruner.sweep_search(grid, min_size, pen, tables.tie_rule(), tables.best_table(), tables.predecessor_table());
  typename List::Cursor cursor;
  cursor.capacity = list.capacity();
  // The passes run the steps the selection decides alone and return for
  // more room or for the sequential offers of a near-tie.
  std::size_t from = 0;
  while (true) {
    TARNWELL_TRY(run, passes.run(search, list.columns(), cursor, from));
    if (run.stop == List::Stop::finished) break;
    if (run.stop == List::Stop::needs_room) {
      TARNWELL_CHECK(
          try_allocate("allocating Pelt search tables", [&] { list.reserve(cursor.size + 1, cursor.size); }));
      cursor.capacity = list.capacity();
      from = run.step;
      continue;
    }
    TARNWELL_CHECK(offer_swept_list(cost, list, cursor.size, grid[run.step + 1], min_size, pen, run.step, tables,
                                    entries, starts, batch));
    from = run.step + 1;
  }
  if (counters != nullptr) {
    counters->candidate_segments += cursor.candidates;
    counters->end_positions += grid.size() - 1;
    // Every usable listed start is costed at every step of a sweep.
    counters->listed_starts += cursor.candidates;
  }
  return {};
}

}  // namespace tarnwell::pelt_detail
