// Pruned Pelt steps for a cost whose model offers a pruning test of its own
// (cost/pruning_query.hpp). With few changes a segment grows long and the
// inequality rule keeps every start inside it; two things keep the search
// near-linear then, the same for every model:
//
// - Lazy evaluation. Every start keeps a lower bound of its future values:
//   its value when last evaluated, raised by the least its cost can grow
//   since (the model's per-sample floors, and the superadditive chain of its
//   costs over whole blocks of samples). A step first evaluates the start
//   of the previous optimum, an upper bound of this optimum, then only the
//   starts whose bound lies within the decision band of it (and those due
//   for a test). A start left out is above the optimum by more than the band:
//   it could neither win nor tie, so the step decides what an exhaustive one
//   decides (the near-ties among the evaluated starts go through the same
//   sequential offers).
// - The model's test. An evaluated start that the inequality rule keeps is,
//   when due, tested against the newest start, its neighbours in the list and
//   its own predecessor; a start proven dominated is dropped once the newest
//   start is usable, as the inequality rule drops its starts. Tests come due
//   at a pace that slows with the start's age, so an old start costs little.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/tie_rule.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/pruning_query.hpp"
#include "cost/segment_cost.hpp"
#include "search/common/search_counters.hpp"
#include "search/common/search_grid.hpp"
#include "search/pelt/pelt_active_set.hpp"
#include "search/pelt/pelt_step_selection.hpp"
#include "search/pelt/pelt_tables.hpp"

namespace tarnwell {

template <class Test>
concept PeltModelTest = requires(Test& test, const Test& fixed, const PruningQuery& query, std::uint64_t position) {
  { test.dominated(query) } -> std::same_as<bool>;
  { fixed.floor_prefix(position) } -> std::same_as<double>;
  { fixed.chain_bound(position, position) } -> std::same_as<double>;
  { fixed.chain_slack() } -> std::same_as<double>;
};

namespace pelt_detail {

// A lower bound of a start's cost growth over [first, last): the model's chain
// bound, or its floors where those say more.
template <PeltModelTest Test>
double piece_bound(const Test& test, std::uint64_t first, std::uint64_t last) {
  const double floors = test.floor_prefix(last) - test.floor_prefix(first);
  const double piece = test.chain_bound(first, last);
  return is_finite_value(piece) && piece > floors ? piece : floors;
}

// The least a start's cost grows from its last evaluation on: the per-sample
// floors, and the chain of block costs Ψ(k) = Σ_{blocks before k} chain_bound
// over whole blocks of `block_length` samples.
template <PeltModelTest Test>
class GrowthPotential {
 public:
  static constexpr std::uint64_t block_length = 8;

  GrowthPotential(const Test& test, std::uint64_t n) : test_(&test), n_(n) {}

  Status reserve() {
    return try_allocate("allocating Pelt search tables", [&] {
      blocks_.reserve(n_ / block_length + 2);
      blocks_.push_back(0.0);
    });
  }

  // Extends the chain over the blocks that end at or before `end`.
  void advance(std::uint64_t end) {
    while ((blocks_.size()) * block_length <= end) {
      const std::uint64_t first = (blocks_.size() - 1) * block_length;
      const std::uint64_t last = first + block_length;
      const double piece = piece_bound(*test_, first, last);
      magnitude_ += std::fabs(piece);
      blocks_.push_back(blocks_.back() + piece);
    }
  }

  // The chain up to the block boundary `block` (block * block_length <= the
  // last end advanced to).
  double chain(std::uint64_t block) const noexcept { return blocks_[block]; }
  // Bounds on the rounding of the sums above.
  double magnitude() const noexcept { return magnitude_; }

 private:
  const Test* test_;
  std::uint64_t n_;
  std::vector<double> blocks_;
  double magnitude_ = 0.0;
};

// Columns the tested steps keep per start beside the active set's own.
enum TestedColumn : std::size_t { plain_key, chain_key, chain_block, next_test, tested_columns };

// The relative widening of every bound for the rounding of the few sums it
// is made of.
inline constexpr double bound_rounding = 0x1p-40;

template <SegmentCost Cost, PeltModelTest Test>
Status run_tested_steps(const Cost& cost, const SearchGrid& grid, PeltTables& tables, std::uint64_t min_size,
                        std::uint64_t jump, double pen, double pruning_constant, Test& test,
                        SearchCounters* counters) {
  using Active = ActiveSet<tested_columns>;
  constexpr double infinity = std::numeric_limits<double>::infinity();
  constexpr std::size_t neighbours = 4;  // list neighbours on each side a test may use
  // A start is first tested once it is `first_test` samples old (younger
  // ones fall to the inequality rule when changes are frequent, and survive
  // any test when they are rare), then whenever its age has grown by a
  // 1/`test_pace` share; a model whose test costs more than an evaluation
  // asks for fewer tests.
  std::uint64_t first_test = 8;
  std::uint64_t test_pace = 3;
  if constexpr (requires { test.test_schedule(); }) std::tie(first_test, test_pace) = test.test_schedule();
  const std::uint64_t n = grid[grid.size() - 1];
  const TieRule& tie = tables.tie_rule();
  const double slack = test.chain_slack();
  // A start a test dominates is dropped once every partner is usable, or
  // later where the test says so.
  std::uint64_t test_delay = min_size;
  if constexpr (requires { test.expiry_delay(); }) test_delay = std::max(min_size, test.expiry_delay());
  constexpr std::uint64_t block_length = GrowthPotential<Test>::block_length;

  std::optional<Active> active_storage;
  GrowthPotential<Test> potential(test, n);
  std::vector<std::size_t> chosen;          // list entries evaluated this step, in list order
  std::vector<std::uint64_t> starts;        // their positions (the reference start's aside)
  std::vector<std::uint64_t> chosen_index;  // their grid indices
  std::vector<double> chosen_best;
  std::vector<double> chosen_cost;
  std::vector<PruningPartner> later;
  std::vector<PruningPartner> earlier;
  TARNWELL_CHECK(try_allocate("allocating Pelt search tables", [&] {
    active_storage.emplace(grid.size(), tested_columns);
    // At most every listed start is evaluated in a step: nothing grows later.
    chosen.reserve(grid.size());
    starts.reserve(grid.size());
    chosen_index.resize(grid.size());
    chosen_best.resize(grid.size());
    chosen_cost.resize(grid.size());
    later.reserve(neighbours);
    earlier.reserve(neighbours + 1);
  }));
  TARNWELL_CHECK(potential.reserve());
  Active& active = *active_storage;
  const double fresh[tested_columns] = {-infinity, -infinity, infinity, 0.0};
  active.append(0, 0, tables.best(0), fresh);
  EndpointBatch batch;
  std::uint64_t evaluated_total = 0;
  std::uint64_t listed_total = 0;
  std::uint64_t tested_total = 0;

  for (std::size_t j = 1; j < grid.size(); ++j) {
    TARNWELL_CHECK(check_interruption());
    const std::uint64_t end = grid[j];
    active.drop_expired(end);
    listed_total += active.size();
    std::size_t usable = active.size();
    while (usable > 0 && end - active.position[usable - 1] < min_size) --usable;

    double* const plain = active.state[plain_key];
    double* const chained = active.state[chain_key];
    double* const checkpoint = active.state[chain_block];
    double* const due = active.state[next_test];
    double* const bound = active.scratch;
    // The least every start's value has grown by since its evaluation: the
    // floors since then, or the chain from its first block boundary to the
    // last one before `end`, then the stretch since that boundary.
    potential.advance(end);
    const std::uint64_t block = end / block_length;
    const std::uint64_t block_start = block * block_length;
    const double floors_now = test.floor_prefix(end);
    const double trail = end > block_start ? piece_bound(test, block_start, end) : 0.0;
    const double chain_now = potential.chain(block) + trail;
    const double block_now = static_cast<double>(block);
    for (std::size_t i = 0; i < usable; ++i) {
      const double from_floors = plain[i] + floors_now;
      const double from_chain = checkpoint[i] <= block_now ? chained[i] + chain_now : -infinity;
      bound[i] = from_floors > from_chain ? from_floors : from_chain;
    }

    // The reference: the start of the previous optimum where it is still
    // listed, else the start with the lowest bound.
    std::optional<std::size_t> reference;
    if (j > 1 && usable > 0) {
      const std::uint64_t previous = tables.predecessor(j - 1);
      const std::uint64_t* found = std::lower_bound(active.index, active.index + usable, previous);
      if (found != active.index + usable && *found == previous) {
        reference = static_cast<std::size_t>(found - active.index);
      }
    }
    if (!reference && usable > 0) {
      reference = static_cast<std::size_t>(std::min_element(bound, bound + usable) - bound);
    }
    chosen.clear();
    starts.clear();
    if (reference) {
      const std::uint64_t position = active.position[*reference];
      TARNWELL_CHECK(cost.endpoint_costs(std::span<const std::uint64_t>(&position, 1), end, batch));
      if (batch.size() != 1) {
        return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
      }
      const double reference_cost = batch[0];
      const double upper = (reference_cost + active.best[*reference]) + pen;
      // A start whose bound exceeds the threshold is clearly above the
      // optimum, which is at most `upper`.
      double threshold = infinity;
      if (is_finite_value(upper)) {
        threshold = upper + tie.decision_band(std::fabs(upper)) +
                    bound_rounding * (std::fabs(upper) + std::fabs(floors_now) + std::fabs(chain_now) +
                                      potential.magnitude());
      }
      const double now = static_cast<double>(end);
      for (std::size_t i = 0; i < usable; ++i) {
        if ((!(due[i] > now) || !(bound[i] > threshold)) && i != *reference) chosen.push_back(i);
      }
      for (const std::size_t i : chosen) starts.push_back(active.position[i]);
      if (!starts.empty()) {
        TARNWELL_CHECK(cost.endpoint_costs(std::span<const std::uint64_t>(starts), end, batch));
        if (batch.size() != starts.size()) {
          return errors::fail(errors::numerical_failure("evaluating a pruned Pelt endpoint cost batch"));
        }
      }
      // The evaluated starts in list order, the reference among them.
      const auto insert_at = static_cast<std::size_t>(
          std::lower_bound(chosen.begin(), chosen.end(), *reference) - chosen.begin());
      chosen.insert(chosen.begin() + static_cast<std::ptrdiff_t>(insert_at), *reference);
      for (std::size_t k = 0, from = 0; k < chosen.size(); ++k) {
        const std::size_t i = chosen[k];
        chosen_index[k] = active.index[i];
        chosen_best[k] = active.best[i];
        chosen_cost[k] = k == insert_at ? reference_cost : batch[from++];
      }
    }
    const std::size_t count = chosen.size();
    const StepSelection selection = select_lowest(chosen_cost.data(), chosen_best.data(), count, pen);
    TARNWELL_CHECK(choose_pruned_optimum(tables, chosen_index.data(), chosen_best.data(), chosen_cost.data(), count, j,
                                         pen, selection));
    evaluated_total += count;
    const double optimum = tables.best(j);
    if (std::isinf(optimum)) continue;

    // New bounds of the evaluated starts: from the floors, and from the chain
    // once the next block boundary is passed (the blocks up to it are chained
    // ahead of the ends: the data are all known).
    const std::uint64_t next_block = (end + block_length - 1) / block_length;
    const std::uint64_t next_block_start = next_block * block_length;
    const bool chainable = next_block_start <= n;
    double lead = 0.0;
    double chain_there = 0.0;
    if (chainable) {
      potential.advance(next_block_start);
      lead = next_block_start > end ? piece_bound(test, end, next_block_start) : 0.0;
      chain_there = potential.chain(next_block);
    }
    const std::uint64_t expires_at = saturating_add(end, min_size);
    bool any_expiry = false;
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t i = chosen[k];
      const double value = (chosen_cost[k] + chosen_best[k]) + pen;
      const double widening = bound_rounding * (std::fabs(value) + std::fabs(floors_now));
      plain[i] = ((value - slack) - floors_now) - widening;
      if (chainable) {
        chained[i] = (((value - slack) + lead) - chain_there) -
                     (widening + bound_rounding * (std::fabs(lead) + std::fabs(chain_there)));
        checkpoint[i] = static_cast<double>(next_block);
      }
      const double bounded = (chosen_cost[k] + chosen_best[k]) + pruning_constant;
      if (!is_finite_value(bounded)) return errors::fail(errors::non_finite_objective(bounded));
      bool expire = optimum < bounded && tie.clearly_above(bounded, optimum);
      if (!expire && !(due[i] > static_cast<double>(end))) {
        const std::uint64_t position = active.position[i];
        later.clear();
        for (std::size_t m = i + 1; m < active.size() && later.size() < neighbours; ++m) {
          later.push_back({active.position[m], active.best[m]});
        }
        earlier.clear();
        const std::uint64_t predecessor = tables.predecessor(active.index[i]);
        if (active.index[i] != 0 && predecessor != no_predecessor) {
          earlier.push_back({grid[predecessor], tables.best(predecessor)});
        }
        for (std::size_t m = i; m-- > 0 && earlier.size() <= neighbours;) {
          if (!earlier.empty() && active.position[m] == earlier.front().position) continue;
          earlier.push_back({active.position[m], active.best[m]});
        }
        if (test.dominated(PruningQuery{{position, active.best[i]}, {end, optimum}, later, earlier})) {
          const std::uint64_t dropped_at = saturating_add(end, test_delay);
          if (dropped_at < active.expiry[i]) {
            active.expiry[i] = dropped_at;
            active.note_expiry(dropped_at);
          }
        }
        ++tested_total;
        const std::uint64_t age = end - position;
        due[i] = static_cast<double>(saturating_add(end, std::max<std::uint64_t>(jump, age / test_pace)));
      }
      if (expire && expires_at < active.expiry[i]) {
        active.expiry[i] = expires_at;
        any_expiry = true;
      }
    }
    if (any_expiry) active.note_expiry(expires_at);
    const double admitted[tested_columns] = {-infinity, -infinity, infinity,
                                             static_cast<double>(saturating_add(end, std::max(min_size, first_test)))};
    active.append(j, end, optimum, admitted);
  }
  if (counters != nullptr) {
    counters->candidate_segments += evaluated_total;
    counters->end_positions += grid.size() - 1;
    counters->listed_starts += listed_total;
    counters->tested_starts += tested_total;
  }
  return {};
}

}  // namespace pelt_detail
}  // namespace tarnwell
