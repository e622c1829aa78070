// Exact penalised search: minimises the sum of segment costs plus `pen` per
// change over grid-aligned segmentations with segments of at least min_size.
// Pruned mode drops start candidates that can never again be optimal (valid
// for costs that declare a pruning constant); exhaustive mode tries every
// admissible start. Both return the same optimum.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "core/vector_paths.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/segment_cost.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/segmentation_cost.hpp"
#include "core/tie_rule.hpp"
#include "search/pelt/pelt_active_set.hpp"
#include "search/pelt/pelt_functional_pruning.hpp"
#include "search/pelt/pelt_model_tests.hpp"
#include "search/pelt/pelt_step_selection.hpp"
#include "search/pelt/pelt_swept_steps.hpp"
#include "search/pelt/pelt_tables.hpp"

namespace tarnwell {

enum class PeltPruning : std::uint8_t {
  as_declared,      // prune exactly when the cost declares a pruning constant,
                    // with its functional pruning too when it offers one
  stepwise,         // as declared, but a functional pruning runs in separate passes even
                    // where it offers a fused sweep (the form of other processors)
  inequality_only,  // the pruning constant's rule alone (cross-checks, benchmarks)
  never,            // always exhaustive (cross-checks)
};

namespace pelt_detail {

// After entry j is settled: a start whose value, plus the pruning constant,
// exceeds the optimum at `end` beyond the tie tolerance cannot win once `end`
// itself is a start, which happens min_size samples later.
template <std::size_t Columns>
Status schedule_expiries(ActiveSet<Columns>& active, const double* costs, std::size_t count, double optimum,
                         double pruning_constant, std::uint64_t expires_at, const TieRule& tie) {
  bool all_finite = true;
  bool any_expiry = false;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = (costs[i] + active.best[i]) + pruning_constant;
    all_finite &= is_finite_value(value);
    const bool expire = optimum < value && tie.clearly_above_sum(value, optimum);
    any_expiry |= expire;
    const std::uint64_t current = active.expiry[i];
    active.expiry[i] = expire && expires_at < current ? expires_at : current;
  }
  if (!all_finite) {
    for (std::size_t i = 0; i < count; ++i) {
      const double value = (costs[i] + active.best[i]) + pruning_constant;
      if (!is_finite_value(value)) return errors::fail(errors::non_finite_objective(value));
    }
  }
  if (any_expiry) active.note_expiry(expires_at);
  return {};
}

// Stands in for a cost's functional pruning when there is none.
struct NoFunctionalPruning {};

// The number of state columns a pruner keeps, when it is fixed at compile
// time (the compaction and append loops then unroll).
template <class Pruner>
constexpr std::size_t static_state_columns() {
  if constexpr (requires { Pruner::fixed_state_columns; }) {
    return Pruner::fixed_state_columns;
  } else {
    return runtime_state_columns;
  }
}

// After entry j is settled, the functional pruning flags the starts, among
// all live ones including those still too close to be used, that can never
// again come within its margin of the optimum at an end where the new start
// at `end` is usable. Its margin is wider than the tie tolerance, so this
// includes the inequality rule (a start whose value at `end` is above the
// optimum by the margin). A flagged start expires at `expires_at`, once `end`
// is usable, and one pass removes the starts whose expiry the next end
// position `next_end` reaches.
template <class Pruner, std::size_t Columns>
void settle_functional_step(const Pruner& pruner, ActiveSet<Columns>& active, double optimum, std::uint64_t end,
                            std::uint64_t expires_at, std::uint64_t next_end) noexcept {
  const double* flag = active.scratch;
  pruner.mark_dominated(active.size(), active.best, active.state_columns(), end, optimum, active.scratch);
  std::uint64_t* expiry = active.expiry;
  active.compact([&](std::size_t i) {
    const std::uint64_t until = flag[i] != 0.0 && expires_at < expiry[i] ? expires_at : expiry[i];
    expiry[i] = until;
    return until > next_end;
  });
}

// Runs `run` with the pruner itself, or with the one a choice of pruners
// picks for this search.
template <class Pruner, class Run>
Status with_concrete_pruner(const Pruner& pruner, Run&& run) {
  if constexpr (PeltFunctionalPruner<Pruner>) {
    return run(pruner);
  } else {
    return pruner.visit(run);
  }
}

template <SegmentCost Cost, class Pruner>
Status run_pruned_steps(const Cost& cost, const SearchGrid& grid, PeltTables& tables,
                        std::uint64_t min_size, double pen, double pruning_constant, const Pruner* pruner,
                        SearchCounters* counters) {
  constexpr bool functional = !std::is_same_v<Pruner, NoFunctionalPruning>;
  constexpr std::size_t columns = functional ? static_state_columns<Pruner>() : 0;
  using Active = ActiveSet<columns>;
  std::optional<Active> active_storage;
  std::vector<double> admitted;  // the state of the start being added
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] {
    if constexpr (functional) {
      std::vector<double> sentinel(pruner->state_columns());
      pruner->sentinel(sentinel.data());
      active_storage.emplace(grid.size(), pruner->state_columns(), sentinel);
      admitted.resize(pruner->state_columns());
    } else {
      active_storage.emplace(grid.size(), 0);
    }
  }));
  Active& active = *active_storage;
  if constexpr (functional) {
    pruner->admit(0, tables.best(0), 0, tables.best(0), admitted.data());
    active.append(0, 0, tables.best(0), admitted.data());
  } else {
    active.append(0, 0, tables.best(0), nullptr);
  }
  EndpointBatch batch;
  std::uint64_t candidates = 0;
  std::uint64_t listed = 0;
  for (std::size_t j = 1; j < grid.size(); ++j) {
    TARNWELL_CHECK(check_interruption(j, grid.size()));
    const std::uint64_t end = grid[j];
    active.drop_expired(end);
    listed += active.size();
    // Positions increase along the active list, so the starts far enough
    // from `end` form a prefix; the newest ones may still be too close.
    std::size_t count = active.size();
    while (count > 0 && end - active.position[count - 1] < min_size) --count;
    TARNWELL_CHECK(prepare_endpoint_batch(batch, count));
    // A functional pruning keeps each start's prefix statistics and gives
    // the same batch from them without scattered reads; where it cannot, or
    // where a value needs the cost's own handling (its batch then holds a
    // non-finite marker), the cost computes the batch.
    bool evaluated = false;
    if constexpr (functional) {
      evaluated = pruner->endpoint_costs(active.state_columns(), count, end, batch.data());
      if (evaluated) batch.set_size(count);
    }
    StepSelection selection{};
    if (evaluated) selection = select_lowest(batch.data(), active.best, count, pen);
    if (!evaluated || !selection.all_finite) {
      TARNWELL_CHECK(cost.endpoint_costs(std::span<const std::uint64_t>(active.position, count), end, batch));
      if (batch.size() != count) {
        return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
      }
      selection = select_lowest(batch.data(), active.best, count, pen);
    }
    const double* costs = batch.values().data();
    TARNWELL_CHECK(choose_pruned_optimum(tables, active.index, active.best, costs, count, j, pen, selection));
    const double optimum = tables.best(j);
    if (!std::isinf(optimum)) {
      const std::uint64_t expires_at = saturating_add(end, min_size);
      if constexpr (functional) {
        const std::uint64_t next_end = j + 1 < grid.size() ? grid[j + 1] : Active::never;
        settle_functional_step(*pruner, active, optimum, end, expires_at, next_end);
        const std::uint64_t predecessor = tables.predecessor(j);
        pruner->admit(end, optimum, grid[predecessor], tables.best(predecessor), admitted.data());
        active.append(j, end, optimum, admitted.data());
      } else {
        TARNWELL_CHECK(schedule_expiries(active, costs, count, optimum, pruning_constant, expires_at, tables.tie_rule()));
        active.append(j, end, optimum, nullptr);
      }
    }
    candidates += count;
  }
  if (counters != nullptr) {
    counters->candidate_segments += candidates;
    counters->end_positions += grid.size() - 1;
    counters->listed_starts += listed;
  }
  return {};
}

}  // namespace pelt_detail

template <SegmentCost Cost>
Result<Segmentation> run_pelt(const Cost& cost, SearchParameters parameters, double pen,
                              PeltPruning pruning = PeltPruning::as_declared, SearchCounters* counters = nullptr) {
  using pelt_detail::PeltTables;
  TARNWELL_CHECK(check_penalty(pen));
  const std::uint64_t min_size = parameters.min_size;
  const std::uint64_t minimum = cost.min_segment_length();
  if (min_size < minimum) return errors::fail(errors::min_size_below_cost(min_size, minimum));
  const std::uint64_t n = cost.n_samples();
  if (n < min_size) return errors::fail(errors::segment_too_short(0, n, n, min_size));
  if (parameters.jump == 0) return errors::fail(errors::jump_zero(0));

  TARNWELL_TRY(tie, TieRule::for_cost(cost, pen));
  const SearchGrid grid(n, parameters.jump);
  const std::size_t grid_size = grid.size();
  const std::optional<double> pruning_constant =
      pruning != PeltPruning::never ? cost.pelt_pruning_constant() : std::nullopt;

  std::optional<PeltTables> tables_storage;
  std::vector<std::uint64_t> starts;
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] {
    tables_storage.emplace(grid, pen, tie);
    if (!pruning_constant) starts.reserve(grid_size);
  }));
  PeltTables& tables = *tables_storage;

  if (pruning_constant) {
    bool searched = false;
    if constexpr (OffersPeltFunctionalPruning<Cost>) {
      if (pruning == PeltPruning::as_declared || pruning == PeltPruning::stepwise) {
        if (const auto pruner = pelt_functional_pruning(cost, pen, min_size, parameters.jump, tie)) {
          TARNWELL_CHECK(pelt_detail::with_concrete_pruner(*pruner, [&](const auto& concrete) -> Status {
            if constexpr (pelt_detail::SweepingPruner<std::decay_t<decltype(concrete)>>) {
              const bool swept = pruning == PeltPruning::as_declared && concrete.sweep() != nullptr;
              record_vector_path(VectorPath::pelt_sweep, swept);
              if (swept) return pelt_detail::run_swept_steps(cost, grid, tables, min_size, pen, concrete, counters);
            }
            return pelt_detail::run_pruned_steps(cost, grid, tables, min_size, pen, *pruning_constant, &concrete,
                                                 counters);
          }));
          searched = true;
        }
      }
    }
    if constexpr (OffersPeltPruningTest<Cost>) {
      if (!searched && (pruning == PeltPruning::as_declared || pruning == PeltPruning::stepwise)) {
        using Test = std::decay_t<decltype(*pelt_pruning_test(cost, pen, min_size, parameters.jump, tie))>;
        std::optional<Test> test;
        TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] {
          test = pelt_pruning_test(cost, pen, min_size, parameters.jump, tie);
        }));
        if (test) {
          TARNWELL_CHECK(pelt_detail::run_tested_steps(cost, grid, tables, min_size, parameters.jump, pen,
                                                       *pruning_constant, *test, counters));
          searched = true;
        }
      }
    }
    if (!searched) {
      TARNWELL_CHECK(pelt_detail::run_pruned_steps(cost, grid, tables, min_size, pen, *pruning_constant,
                                                   static_cast<const pelt_detail::NoFunctionalPruning*>(nullptr),
                                                   counters));
    }
  } else {
    EndpointBatch batch;
    for (std::size_t j = 1; j < grid_size; ++j) {
      TARNWELL_CHECK(check_interruption(triangular_work(j), triangular_work(grid_size)));
      const std::uint64_t end = grid[j];
      const std::size_t count = grid.admissible_start_count(j, end, min_size);
      starts.clear();
      for (std::size_t k = 0; k < count; ++k) starts.push_back(grid[k]);
      TARNWELL_CHECK(cost.endpoint_costs(starts, end, batch));
      if (batch.size() != count) {
        return errors::fail(errors::numerical_failure("evaluating an unpruned Pelt endpoint cost batch"));
      }
      for (std::size_t k = 0; k < count; ++k) {
        const double previous = tables.best(k);
        if (!std::isfinite(previous)) continue;
        TARNWELL_CHECK(tables.offer(j, k, tables.candidate(k, batch[k], pen)));
      }
      if (counters != nullptr) {
        counters->candidate_segments += batch.size();
        ++counters->end_positions;
      }
    }
  }

  if (!std::isfinite(tables.best(grid_size - 1))) {
    return errors::fail(errors::numerical_failure("finding a feasible penalized segmentation"));
  }
  TARNWELL_TRY(breakpoints, tables.backtrack(grid_size - 1));
  TARNWELL_TRY(total, recompute_segmentation_cost(cost, breakpoints));
  const double objective = total + pen * static_cast<double>(breakpoints.size() - 1);
  return make_segmentation(std::move(breakpoints), n, min_size, total, objective);
}

}  // namespace tarnwell
