#include "search/l1_potts/l1_potts_engine.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/strided_matrix.hpp"
#include "search/l1_potts/l1_potts_flags.hpp"
#include "search/l1_potts/l1_potts_memory.hpp"
#include "search/l1_potts/l1_potts_objective.hpp"
#include "search/l1_potts/l1_potts_programme.hpp"
#include "search/l1_potts/l1_potts_row.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view parent_matrix_context = "allocating the L1-Potts parent matrix";

template <class T>
std::unique_ptr<T[]> allocate_uninitialised(std::size_t count) noexcept {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// After the row step reported a non-finite value: the first one in
// the order the step computes them, the weighted deviation before the sum.
double first_non_finite(const double* prev, const double* levels, std::size_t K, double y, double w, double base,
                        const TieRule& tie_rule) {
  for (std::size_t k = 0; k < K; ++k) {
    const double deviation = w * std::fabs(levels[k] - y);
    if (!is_finite_value(deviation)) return deviation;
    const double p = prev[k];
    const double value = (starts_segment(p, base, tie_rule) ? base : p) + deviation;
    if (!is_finite_value(value)) return value;
  }
  return 0.0;  // unreachable: the row step saw one
}

// Level of every sample on the optimal path, read backwards through the
// parent flags; only the positions where it changes are kept.
std::vector<std::uint64_t> backtrack(const ParentFlags& flags, const std::uint32_t* best, std::uint64_t n,
                                     std::size_t K) {
  std::vector<std::uint64_t> breakpoints;
  std::uint32_t level = best[n - 1];
  std::uint64_t i = n - 1;
  while (i >= 1) {
    // Rows that keep the level: a tight walk down its column of flags.
    const std::uint8_t* flag = flags.row(i, K) + level;
    while (i >= 1 && *flag == 0) {
      --i;
      flag -= K;
    }
    if (i == 0) break;
    const std::uint32_t before = best[i - 1];
    if (before != level) breakpoints.push_back(i);
    level = before;
    --i;
  }
  std::reverse(breakpoints.begin(), breakpoints.end());
  breakpoints.push_back(n);
  return breakpoints;
}

}  // namespace

Result<Segmentation> run_l1_potts(const L1PottsData& data, double pen) {
  TARNWELL_CHECK(check_penalty(pen));
  const std::uint64_t n = data.n_samples();
  const std::size_t K = data.distinct_levels();
  const double* y = data.values().data();
  const double* w = data.weights().data();
  const std::size_t lanes = padded_level_count(K);

  constexpr std::string_view rows_context = "allocating L1-Potts value rows";
  TARNWELL_TRY(padded_levels, filled_buffer(lanes, data.levels().back(), rows_context));
  TARNWELL_TRY(prev_row, filled_buffer(lanes, 0.0, rows_context));
  TARNWELL_TRY(cur_row, filled_buffer(lanes, 0.0, rows_context));
  std::copy(data.levels().begin(), data.levels().end(), padded_levels.begin());
  const double* levels = padded_levels.data();
  double* prev = prev_row.data();
  double* cur = cur_row.data();
  for (std::size_t k = 0; k < lanes; ++k) {
    prev[k] = w[0] * std::fabs(levels[k] - y[0]);
    if (!is_finite_value(prev[k])) return errors::fail(errors::non_finite_objective(prev[k]));
  }

  const std::optional<std::uint64_t> flag_count = checked_product(n, K);
  const std::optional<std::uint64_t> required = estimate_l1_potts_memory(n, K);
  if (!flag_count || !required) return errors::fail(errors::numerical_failure(parent_matrix_context));
  // Beyond physical memory the flags could only live in swap, or get the
  // process killed when first touched; refuse before allocating them.
  const std::uint64_t physical_memory = physical_memory_bytes();
  if (*required > physical_memory) return errors::fail(errors::l1_potts_memory_limit(*required, physical_memory));
  // Every K fits 32 bits once n K fits in memory (K <= n, so K^2 <= n K).
  if (K > UINT32_MAX) return errors::fail(errors::numerical_failure(parent_matrix_context));
  // Row 0 of the flags is never read and each later row is written whole
  // before it is read, so neither buffer needs clearing.
  std::optional<ParentFlags> flags;
  {
    // The row step may spill a few padding flags past the last row.
    TARNWELL_TRY(mapped, ParentFlags::allocate(*flag_count + level_block, parent_matrix_context));
    flags.emplace(std::move(mapped));
  }
  std::unique_ptr<std::uint32_t[]> best = allocate_uninitialised<std::uint32_t>(n);
  if (!best) return errors::fail(errors::allocation_failed("allocating L1-Potts best levels"));

  // Ties are judged against the problem's own scale: the penalty or the
  // mean cost per sample of the whole signal, whichever is larger, so that
  // a signal and its penalty in other units give the same answer.
  const TieRule tie_rule = TieRule::for_search(data.whole_signal_cost(), n, pen);
  best[0] = l1_potts_arg_min(prev, lanes, tie_rule);
  const L1PottsProblem problem{y, w, levels, n, K, pen, tie_rule,
                               l1_potts_values_stay_finite(n, data.largest_deviation(), pen, tie_rule)};
  // Rows in runs of about a few million level-samples (a few milliseconds),
  // with a check for interruption between runs.
  const std::uint64_t rows_per_run = std::clamp<std::uint64_t>((std::uint64_t{1} << 22) / lanes, 1, 4096);
  for (std::uint64_t first = 1; first < n;) {
    const std::uint64_t last = std::min(n, first + rows_per_run);
    flags->prefault(first * K, last * K + level_block);
    const L1PottsProgress progress = run_l1_potts_rows(problem, first, last, prev, cur, flags->row(0, K), best.get());
    if (const std::uint64_t i = progress.failed_sample; i != 0) {
      const double base = prev[best[i - 1]] + pen;
      if (progress.base_failed) return errors::fail(errors::non_finite_objective(base));
      return errors::fail(
          errors::non_finite_objective(first_non_finite(prev, levels, K, y[i], w[i], base, tie_rule)));
    }
    TARNWELL_CHECK(check_interruption(last, n));
    first = last;
  }
  const double optimum = prev[best[n - 1]];

  std::vector<std::uint64_t> breakpoints;
  TARNWELL_CHECK(try_allocate("backtracking an L1-Potts segmentation",
                              [&] { breakpoints = backtrack(*flags, best.get(), n, K); }));
  // The flags are the bulk of the memory; the check below needs none of it.
  flags.reset();
  best.reset();
  TARNWELL_TRY(checked, recompute_l1_potts_objective(data, breakpoints, pen, optimum, tie_rule));
  return make_segmentation(std::move(breakpoints), n, 1, checked.cost, checked.objective);
}

}  // namespace tarnwell
