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
#include "cost/segment_cost.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/common/segmentation.hpp"
#include "search/common/segmentation_cost.hpp"
#include "search/common/tie_rule.hpp"
#include "search/pelt/pelt_active_set.hpp"
#include "search/pelt/pelt_tables.hpp"

namespace tarnwell {

enum class PeltPruning : std::uint8_t {
  as_declared,      // prune exactly when the cost declares a pruning constant,
                    // with its functional pruning too when it offers one
  inequality_only,  // the pruning constant's rule alone (cross-checks, benchmarks)
  never,            // always exhaustive (cross-checks)
};

namespace pelt_detail {

inline std::uint64_t saturating_add(std::uint64_t left, std::uint64_t right) noexcept {
  return left > std::numeric_limits<std::uint64_t>::max() - right ? std::numeric_limits<std::uint64_t>::max()
                                                                  : left + right;
}

// Entry j of a pruned run: the smallest candidate value wins. When the
// runner-up is well outside the tie tolerance of the smallest, offering the
// candidates one by one would end with the smallest as well, whatever came
// before it; only near-ties and non-finite values need the sequential offers
// with their path comparison.
template <class Extra>
Status choose_pruned_optimum(PeltTables& tables, const ActiveSet<Extra>& active, const double* costs,
                                    std::size_t count, std::size_t j, double pen) {
  double lowest = std::numeric_limits<double>::infinity();
  double runner_up = lowest;
  std::size_t lowest_at = 0;
  bool all_finite = true;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = (costs[i] + active.best[i]) + pen;
    all_finite &= is_finite_value(value);
    if (value < runner_up) {
      if (value < lowest) {
        runner_up = lowest;
        lowest = value;
        lowest_at = i;
      } else {
        runner_up = value;
      }
    }
  }
  if (count == 0) return {};
  if (all_finite && (std::isinf(runner_up) || tables.tie_rule().well_separated(runner_up, lowest))) {
    tables.take(j, active.index[lowest_at], lowest);
    return {};
  }
  for (std::size_t i = 0; i < count; ++i) {
    TARNWELL_CHECK(tables.offer(j, active.index[i], (costs[i] + active.best[i]) + pen));
  }
  return {};
}

// After entry j is settled: a start whose value, plus the pruning constant,
// exceeds the optimum at `end` beyond the tie tolerance cannot win once `end`
// itself is a start, which happens min_size samples later.
template <class Extra>
Status schedule_expiries(ActiveSet<Extra>& active, const double* costs, std::size_t count, double optimum,
                         double pruning_constant, std::uint64_t expires_at, const TieRule& tie) {
  bool all_finite = true;
  bool any_expiry = false;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = (costs[i] + active.best[i]) + pruning_constant;
    all_finite &= is_finite_value(value);
    const bool expire = optimum < value && tie.clearly_above(value, optimum);
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
struct NoFunctionalPruning {
  using Candidate = NoExtra;
};

// After entry j is settled, one pass over the active starts does what the
// inequality rule does for those in the batch (`count` first ones, values
// `costs`), compares every start, including those still too close to be
// used, with the new start at `end` (and with one earlier start), and removes the starts whose expiry the next end
// position `next_end` reaches. A start that the comparisons prove can never
// again come near the optimum once `end` is usable expires at `expires_at`,
// like those the inequality rule drops.
template <class Pruner>
Status settle_functional_step(const Pruner& pruner, ActiveSet<typename Pruner::Candidate>& active,
                              const double* costs, std::size_t count, double optimum, double pruning_constant,
                              std::uint64_t end, std::uint64_t expires_at, std::uint64_t next_end,
                              const TieRule& tie) {
  // Raw pointers: the stores below cannot then be taken for writes to the
  // containers' bookkeeping.
  const std::size_t size = active.size();
  std::uint64_t* index = active.index.data();
  std::uint64_t* position = active.position.data();
  double* best = active.best.data();
  std::uint64_t* expiry = active.expiry.data();
  typename Pruner::Candidate* extra = active.extra.data();
  std::size_t kept = 0;
  std::uint64_t earliest = ActiveSet<typename Pruner::Candidate>::never;
  double non_finite = 0.0;
  bool all_finite = true;
  // The entry before the current one (for the first, itself).
  typename Pruner::Candidate previous_extra = size > 0 ? extra[0] : typename Pruner::Candidate{};
  std::uint64_t previous_position = size > 0 ? position[0] : 0;
  double previous_best = size > 0 ? best[0] : 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    bool expire = false;
    if (i < count) {
      const double value = (costs[i] + best[i]) + pruning_constant;
      if (!is_finite_value(value)) [[unlikely]] {
        all_finite = false;
        non_finite = value;
      }
      expire = optimum < value && tie.clearly_above(value, optimum);
    }
    // The partner is the start before it in the list (none for the first:
    // the start itself), whether or not that one stays: any earlier start
    // that was a candidate is a sound partner. Neighbours are close in value
    // and in mean, which is where one start most often makes the other
    // useless; as starts leave the list, a start meets several partners over
    // its life. Taking it regardless of this step's removals keeps the
    // iterations independent of each other.
    expire |= pruner.dominated_by(extra[i], position[i], best[i], end, optimum, previous_extra,
                                  previous_position, previous_best);
    previous_extra = extra[i];
    previous_position = position[i];
    previous_best = best[i];
    std::uint64_t until = expiry[i];
    if (expire && expires_at < until) until = expires_at;
    if (until > next_end) {
      if (kept != i) {
        index[kept] = index[i];
        position[kept] = position[i];
        best[kept] = best[i];
        extra[kept] = extra[i];
      }
      expiry[kept] = until;
      earliest = until < earliest ? until : earliest;
      ++kept;
    }
  }
  active.truncate(kept, earliest);
  if (!all_finite) return errors::fail(errors::non_finite_objective(non_finite));
  return {};
}

template <SegmentCost Cost, class Pruner>
Status run_pruned_steps(const Cost& cost, const std::vector<std::uint64_t>& grid, PeltTables& tables,
                        std::uint64_t min_size, double pen, double pruning_constant, const Pruner* pruner,
                        SearchCounters* counters) {
  constexpr bool functional = !std::is_same_v<Pruner, NoFunctionalPruning>;
  ActiveSet<typename Pruner::Candidate> active;
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] { active.reserve(grid.size()); }));
  if constexpr (functional) {
    active.append(0, 0, tables.best(0), pruner->admit(0, tables.best(0), 0, tables.best(0)));
  } else {
    active.append(0, 0, tables.best(0));
  }
  EndpointBatch batch;
  for (std::size_t j = 1; j < grid.size(); ++j) {
    TARNWELL_CHECK(check_interruption());
    const std::uint64_t end = grid[j];
    active.drop_expired(end);
    // Positions increase along the active list, so the starts far enough
    // from `end` form a prefix; the newest ones may still be too close.
    std::size_t count = active.size();
    while (count > 0 && end - active.position[count - 1] < min_size) --count;
    TARNWELL_CHECK(cost.endpoint_costs(std::span<const std::uint64_t>(active.position.data(), count), end, batch));
    if (batch.size() != count) {
      return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
    }
    const double* costs = batch.values().data();
    TARNWELL_CHECK(choose_pruned_optimum(tables, active, costs, count, j, pen));
    const double optimum = tables.best(j);
    if (!std::isinf(optimum)) {
      const std::uint64_t expires_at = saturating_add(end, min_size);
      if constexpr (functional) {
        const std::uint64_t next_end = j + 1 < grid.size() ? grid[j + 1] : ActiveSet<NoExtra>::never;
        TARNWELL_CHECK(settle_functional_step(*pruner, active, costs, count, optimum, pruning_constant, end,
                                              expires_at, next_end, tables.tie_rule()));
        const std::uint64_t predecessor = tables.predecessor(j);
        active.append(j, end, optimum,
                      pruner->admit(end, optimum, grid[predecessor], tables.best(predecessor)));
      } else {
        TARNWELL_CHECK(schedule_expiries(active, costs, count, optimum, pruning_constant, expires_at, tables.tie_rule()));
        active.append(j, end, optimum);
      }
    }
    if (counters != nullptr) {
      counters->candidate_segments += batch.size();
      ++counters->end_positions;
    }
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

  // The tie scale: one evaluation of the whole signal as a single segment.
  TARNWELL_TRY(whole_signal_cost, cost.segment_cost(0, n));
  const TieRule tie = TieRule::for_search(whole_signal_cost, n, pen);
  TARNWELL_TRY(grid, build_search_grid(n, parameters.jump, "allocating the Pelt search grid"));
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
      if (pruning == PeltPruning::as_declared) {
        if (const auto pruner = cost.pelt_functional_pruning(pen, min_size, parameters.jump, tie)) {
          TARNWELL_CHECK(pelt_detail::run_pruned_steps(cost, grid, tables, min_size, pen, *pruning_constant,
                                                       &*pruner, counters));
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
      TARNWELL_CHECK(check_interruption());
      const std::uint64_t end = grid[j];
      const std::size_t count = admissible_start_count(grid, j, end, min_size);
      starts.assign(grid.begin(), grid.begin() + static_cast<std::ptrdiff_t>(count));
      TARNWELL_CHECK(cost.endpoint_costs(starts, end, batch));
      if (batch.size() != count) {
        return errors::fail(errors::numerical_failure("evaluating an unpruned Pelt endpoint cost batch"));
      }
      for (std::size_t k = 0; k < count; ++k) {
        const double previous = tables.best(k);
        if (!std::isfinite(previous)) continue;
        TARNWELL_CHECK(tables.offer(j, k, (previous + batch[k]) + pen));
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
