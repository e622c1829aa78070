// Pruned Pelt steps for a functional pruning that offers a fused sweep: one
// pass per grid entry settles the listed starts at its end and takes their
// costs at the next end, updating the list in place; dropped starts are
// packed away once a block's worth has gathered. The values offered, the
// tie rule and the path tie-break are those of the stepwise form; only
// starts proven to stay above the optimum by more than the pruning margin
// are offered one step longer, which changes no optimum and no tie.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
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
    const double value = (list.at(Column::cost, i) + list.at(Column::best, i)) + pen;
    TARNWELL_CHECK(tables.offer(j + 1, static_cast<std::uint64_t>(list.at(Column::index, i)), value));
  }
  return {};
}

template <SegmentCost Cost, SweepingPruner Pruner>
Status run_swept_steps(const Cost& cost, const SearchGrid& grid, PeltTables& tables, std::uint64_t min_size,
                       double pen, const Pruner& pruner, SearchCounters* counters) {
  using List = typename Pruner::SweepList;
  const auto& passes = *pruner.sweep();
  std::optional<List> storage;
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] { storage.emplace(); }));
  List& list = *storage;
  std::vector<std::size_t> entries;
  std::vector<std::uint64_t> starts;
  EndpointBatch batch;
  // The list holds the starts of the ends before the current one, some of
  // them already dropped; the start at the current end joins it after the
  // sweep, with its cost at the next end taken on its own.
  std::size_t size = 0;
  std::size_t dropped_before = 0;
  std::uint64_t candidates = 0;
  const double min_length = static_cast<double>(min_size);
  for (std::size_t j = 0; j + 1 < grid.size(); ++j) {
    TARNWELL_CHECK(check_interruption());
    const std::uint64_t end = grid[j];
    const std::uint64_t next_end = grid[j + 1];
    const double optimum = tables.best(j);
    const bool settled = !std::isinf(optimum);
    const auto step = pruner.sweep_step(end, optimum, next_end, min_length, pen);
    typename List::Selection selection{};
    passes.sweep(step, size, list.columns(), selection);
    std::uint64_t lowest_index = 0;
    if (selection.candidates > 0) {
      lowest_index = static_cast<std::uint64_t>(list.at(List::Column::index, selection.lowest_at));
    }
    // Packing is a pass over every column and resets the partner intervals:
    // only once a block's worth of starts has been dropped. The count of the
    // step before decides, so the branch need not wait for this sweep.
    if (dropped_before >= List::block) {
      size = passes.pack(size, list.columns(), static_cast<double>(next_end), pruner.margin());
    }
    dropped_before = selection.dropped;
    if (settled) {
      if (size + 1 > list.capacity()) {
        TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] { list.reserve(size + 1, size); }));
      }
      const std::uint64_t predecessor = tables.predecessor(j);
      const std::uint64_t predecessor_position = predecessor == no_predecessor ? end : grid[predecessor];
      const double predecessor_best = predecessor == no_predecessor ? optimum : tables.best(predecessor);
      const double cost_to_next =
          pruner.admit_swept(list, size, j, end, optimum, predecessor_position, predecessor_best, next_end);
      ++size;
      if (next_end - end >= min_size) {
        // Offered last, after every earlier start.
        const double value = (cost_to_next + optimum) + pen;
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
    if (selection.candidates > 0) {
      if (selection.all_finite &&
          (std::isinf(selection.runner_up) || tables.tie_rule().well_separated(selection.runner_up, selection.lowest))) {
        tables.take(j + 1, lowest_index, selection.lowest);
      } else {
        TARNWELL_CHECK(offer_swept_list(cost, list, size, next_end, min_size, pen, j, tables, entries, starts, batch));
      }
    }
  }
  if (counters != nullptr) {
    counters->candidate_segments += candidates;
    counters->end_positions += grid.size() - 1;
  }
  return {};
}

}  // namespace tarnwell::pelt_detail
