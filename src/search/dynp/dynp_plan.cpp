#include "search/dynp/dynp_plan.hpp"

#include "search/dynp/dynp_memory.hpp"

namespace tarnwell {

bool dynp_is_feasible(std::uint64_t n_samples, std::uint64_t n_bkps, SearchParameters parameters) noexcept {
  const std::uint64_t jump = parameters.jump;
  // Interior segments start and end on the grid, so the shortest one is
  // min_size rounded up to a multiple of jump; the changes can then sit at
  // 1, 2, ..., n_bkps times that length, and no closer. Any overflow means
  // the changes cannot fit below n.
  const std::uint64_t steps = parameters.min_size / jump + (parameters.min_size % jump != 0 ? 1 : 0);
  std::uint64_t shortest_interior = 0;
  std::uint64_t last_change = 0;
  if (__builtin_mul_overflow(steps, jump, &shortest_interior)) return false;
  if (__builtin_mul_overflow(n_bkps, shortest_interior, &last_change)) return false;
  // The final segment [last change, n) needs min_size samples but no alignment.
  return last_change <= n_samples - parameters.min_size;
}

Result<DynpTableShape> plan_dynp_tables(std::uint64_t n_samples, std::uint64_t n_bkps, SearchParameters parameters,
                                        std::uint64_t max_memory_bytes) {
  if (!dynp_is_feasible(n_samples, n_bkps, parameters)) {
    return errors::fail(errors::infeasible(n_samples, n_bkps, parameters.min_size, parameters.jump));
  }
  const std::optional<std::uint64_t> grid_count = dynp_grid_count(n_samples, parameters.jump);
  if (!grid_count) return errors::fail(errors::numerical_failure("counting Dynp search-grid positions"));
  const std::uint64_t bytes = estimate_dynp_memory(n_samples, parameters.jump, n_bkps);
  // A saturated estimate stands for "beyond any table we could index", so it
  // is refused even under the largest possible limit.
  if (bytes > max_memory_bytes || bytes == saturated_memory_estimate) {
    return errors::fail(errors::dynp_memory_limit(bytes, max_memory_bytes));
  }
  return DynpTableShape{static_cast<std::size_t>(*grid_count + 2), static_cast<std::size_t>(n_bkps + 1)};
}

}  // namespace tarnwell
