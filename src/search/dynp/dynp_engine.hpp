// Exact fixed-change search: the segmentation with exactly n_bkps grid-aligned
// change points and segments of at least min_size samples that minimises the
// sum of segment costs. Full score and predecessor tables make it exact at
// the price of memory, which is estimated and bounded before allocation.
// Written once over SegmentCost; the per-cost work is one endpoint batch per
// grid position, and the table relaxation is shared by every cost type.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "cost/segment_cost.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/common/segmentation.hpp"
#include "search/dynp/dynp_memory.hpp"
#include "search/dynp/dynp_plan.hpp"
#include "search/dynp/dynp_tables.hpp"

namespace tarnwell {

namespace dynp_detail {

// No change: the whole signal is one segment and no table is needed.
template <SegmentCost Cost>
Result<Segmentation> single_segment(const Cost& cost, std::uint64_t n, std::uint64_t min_size) {
  TARNWELL_TRY(value, cost.segment_cost(0, n));
  if (!is_finite_value(value)) return errors::fail(errors::non_finite_objective(value));
  TARNWELL_TRY(breakpoints, filled_buffer<std::uint64_t>(1, n, "allocating Dynp breakpoints"));
  return make_segmentation(std::move(breakpoints), n, min_size, value, value);
}

// The costs themselves are checked for finiteness by the relaxation.
inline Status check_batch_length(const EndpointBatch& batch, std::size_t count) {
  if (batch.size() != count) return errors::fail(errors::numerical_failure("evaluating a Dynp endpoint cost batch"));
  return {};
}

}  // namespace dynp_detail

template <SegmentCost Cost>
Result<Segmentation> run_dynp(const Cost& cost, SearchParameters parameters, std::uint64_t n_bkps,
                              std::uint64_t max_memory_bytes, SearchCounters* counters = nullptr) {
  const std::uint64_t min_size = parameters.min_size;
  const std::uint64_t jump = parameters.jump;
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  const std::uint64_t minimum = cost.min_segment_length();
  if (min_size < minimum) return errors::fail(errors::min_size_below_cost(min_size, minimum));
  const std::uint64_t n = cost.n_samples();
  if (n < min_size) return errors::fail(errors::infeasible(n, n_bkps, min_size, jump));
  if (n_bkps == 0) return dynp_detail::single_segment(cost, n, min_size);

  TARNWELL_TRY(shape, plan_dynp_tables(n, n_bkps, parameters, max_memory_bytes));
  TARNWELL_TRY(grid, build_search_grid(n, jump, "allocating Dynp search-grid positions"));
  if (grid.size() != shape.grid_length) {
    return errors::fail(errors::numerical_failure("counting Dynp search-grid positions"));
  }
  TARNWELL_TRY(tie, TieRule::for_cost(cost, 0.0, TieRule::value_scale_of(cost)));
  TARNWELL_TRY(tables, DynpTables::allocate(grid, shape.segment_count, tie));
  // Sized for the largest batch up front, so no batch ever reallocates.
  EndpointBatch batch;
  if (!batch.prepare(grid.size())) {
    return errors::fail(errors::allocation_failed("allocating a Dynp endpoint cost batch"));
  }

  const std::span<const std::uint64_t> positions(grid);
  for (std::size_t column = 1; column < grid.size(); ++column) {
    TARNWELL_CHECK(check_interruption(triangular_work(column), triangular_work(grid.size())));
    const std::uint64_t end = grid[column];
    const std::size_t count = admissible_start_count(grid, column, end, min_size);
    if (count == 0) continue;
    TARNWELL_CHECK(cost.endpoint_costs(positions.first(count), end, batch));
    TARNWELL_CHECK(dynp_detail::check_batch_length(batch, count));
    TARNWELL_CHECK(tables.relax_column(column, batch.values()));
    if (counters != nullptr) {
      counters->candidate_segments += count;
      ++counters->end_positions;
    }
  }

  const double optimum = tables.final_score();
  if (!is_finite_value(optimum)) return errors::fail(errors::infeasible(n, n_bkps, min_size, jump));
  TARNWELL_TRY(breakpoints, tables.backtrack());
  return make_segmentation(std::move(breakpoints), n, min_size, optimum, optimum);
}

}  // namespace tarnwell
