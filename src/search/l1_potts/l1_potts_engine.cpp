#include "search/l1_potts/l1_potts_engine.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "core/strided_matrix.hpp"
#include "search/l1_potts/l1_potts_memory.hpp"
#include "search/l1_potts/l1_potts_objective.hpp"
#include "search/l1_potts/l1_potts_row.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view parent_matrix_context = "allocating the L1-Potts parent matrix";

template <class T>
std::unique_ptr<T[]> allocate_uninitialised(std::size_t count) noexcept {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// After advance_l1_potts_row reported a non-finite value: the first one in
// the order the step computes them, the weighted deviation before the sum.
double first_non_finite(const double* prev, const double* levels, std::size_t K, double y, double w, double base) {
  for (std::size_t k = 0; k < K; ++k) {
    const double deviation = w * std::fabs(levels[k] - y);
    if (!is_finite_value(deviation)) return deviation;
    const double p = prev[k];
    const double value = (p - base > 1e-12 * p + 1e-12 ? base : p) + deviation;
    if (!is_finite_value(value)) return value;
  }
  return 0.0;  // unreachable: the row step saw one
}

// Level of every sample on the optimal path, read backwards through the
// parent flags; only the positions where it changes are kept.
std::vector<std::uint64_t> backtrack(const std::uint8_t* flags, const std::uint32_t* best, std::uint64_t n,
                                     std::size_t K) {
  std::vector<std::uint64_t> breakpoints;
  std::uint32_t level = best[n - 1];
  for (std::uint64_t i = n - 1; i >= 1; --i) {
    const std::uint32_t before = flags[i * K + level] != 0 ? best[i - 1] : level;
    if (before != level) breakpoints.push_back(i);
    level = before;
  }
  std::reverse(breakpoints.begin(), breakpoints.end());
  breakpoints.push_back(n);
  return breakpoints;
}

}  // namespace

Result<Segmentation> run_l1_potts(const L1PottsData& data, double pen) {
  return run_l1_potts(data, pen, physical_memory_bytes());
}

Result<Segmentation> run_l1_potts(const L1PottsData& data, double pen, std::uint64_t memory_ceiling) {
  TARNWELL_CHECK(check_penalty(pen));
  const std::uint64_t n = data.n_samples();
  const std::size_t K = data.distinct_levels();
  const double* y = data.values().data();
  const double* w = data.weights().data();
  const double* levels = data.levels().data();

  std::vector<double> prev_row, cur_row;
  try {
    prev_row.resize(K);
    cur_row.resize(K);
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed("allocating L1-Potts value rows"));
  }
  double* prev = prev_row.data();
  double* cur = cur_row.data();
  for (std::size_t k = 0; k < K; ++k) {
    prev[k] = w[0] * std::fabs(levels[k] - y[0]);
    if (!is_finite_value(prev[k])) return errors::fail(errors::non_finite_objective(prev[k]));
  }

  const std::optional<std::uint64_t> flag_count = checked_product(n, K);
  const std::optional<std::uint64_t> required = estimate_l1_potts_memory(n, K);
  if (!flag_count || !required) return errors::fail(errors::numerical_failure(parent_matrix_context));
  if (*required > memory_ceiling) return errors::fail(errors::l1_potts_memory_limit(*required, memory_ceiling));
  // Every K fits 32 bits once n K fits in memory (K <= n, so K^2 <= n K).
  if (K > UINT32_MAX) return errors::fail(errors::numerical_failure(parent_matrix_context));
  // Row 0 of the flags is never read and each later row is written whole
  // before it is read, so neither buffer needs clearing.
  std::unique_ptr<std::uint8_t[]> flags = allocate_uninitialised<std::uint8_t>(*flag_count);
  std::unique_ptr<std::uint32_t[]> best = allocate_uninitialised<std::uint32_t>(n);
  if (!flags || !best) return errors::fail(errors::allocation_failed(parent_matrix_context));

  best[0] = l1_potts_arg_min(prev, K);
  for (std::uint64_t i = 1; i < n; ++i) {
    const double base = prev[best[i - 1]] + pen;
    if (!is_finite_value(base)) return errors::fail(errors::non_finite_objective(base));
    if (!advance_l1_potts_row(prev, cur, flags.get() + i * K, levels, K, y[i], w[i], base)) [[unlikely]] {
      return errors::fail(errors::non_finite_objective(first_non_finite(prev, levels, K, y[i], w[i], base)));
    }
    best[i] = l1_potts_arg_min(cur, K);
    std::swap(prev, cur);
  }
  const double optimum = prev[best[n - 1]];

  std::vector<std::uint64_t> breakpoints;
  try {
    breakpoints = backtrack(flags.get(), best.get(), n, K);
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed("backtracking an L1-Potts segmentation"));
  }
  // The flags are the bulk of the memory; the check below needs none of it.
  flags.reset();
  best.reset();
  TARNWELL_TRY(checked, recompute_l1_potts_objective(data, breakpoints, pen, optimum));
  return make_segmentation(std::move(breakpoints), n, 1, checked.cost, checked.objective);
}

}  // namespace tarnwell
