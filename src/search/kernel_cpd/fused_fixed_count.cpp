#include <limits>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/signal.hpp"
#include "core/vector_paths.hpp"
#include "kernel/kernel_dispatch.hpp"
#include "kernel/kernel_fold.hpp"
#include "search/kernel_cpd/fixed_count_relax.hpp"
#include "search/kernel_cpd/fused_cost.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"

namespace tarnwell {
namespace {

constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();

// The smallest grid point at or above min_size: the shortest segment a grid
// start can leave before it. Fails when any quantity of the feasibility test
// overflows or the changes do not fit.
Result<std::uint64_t> shortest_grid_segment(const FusedKernelState& state, std::uint64_t n_bkps) {
  const std::uint64_t n = state.n;
  const std::uint64_t min_size = state.min_size;
  const std::uint64_t jump = state.jump;
  const auto infeasible = [&] { return errors::fail(errors::infeasible(n, n_bkps, min_size, jump)); };
  if (n_bkps == UINT64_MAX || n < min_size) return infeasible();
  const std::uint64_t blocks = min_size / jump + (min_size % jump != 0 ? 1 : 0);
  const std::optional<std::uint64_t> first = checked_product(blocks, jump);
  if (!first) return infeasible();
  const std::optional<std::uint64_t> changes_span = checked_product(n_bkps, *first);
  if (!changes_span || *changes_span > UINT64_MAX - min_size || *changes_span + min_size > n) return infeasible();
  return *first;
}

struct Tables {
  std::vector<double> values;
  std::vector<std::uint64_t> predecessor;
  std::vector<double> tolerance;
  std::vector<double> diagonal;
  std::vector<double> within;
};

Result<Tables> allocate_tables(std::uint64_t n, std::uint64_t columns) {
  const std::optional<std::uint64_t> entries = checked_product(n + 1, columns);
  if (!entries || *entries > std::numeric_limits<std::size_t>::max() / sizeof(double)) {
    return errors::fail(errors::numerical_failure("allocating fused KernelCPD tables"));
  }
  Tables tables;
  TARNWELL_CHECK(try_allocate("allocating fused KernelCPD tables", [&] {
    tables.values.assign(static_cast<std::size_t>(*entries), infinity);
    tables.predecessor.assign(static_cast<std::size_t>(*entries), no_predecessor);
    tables.tolerance.assign(static_cast<std::size_t>(columns), 0.0);
    tables.diagonal.assign(static_cast<std::size_t>(n + 1), 0.0);
    tables.within.assign(static_cast<std::size_t>(n + 1), 0.0);
  }));
  return tables;
}

RelaxEnd choose_relaxation(std::uint64_t n_bkps, ColumnForm form) noexcept {
  // Few columns do not fill a vector; those runs are not counted as either form.
  if (n_bkps <= 3) return relax_end_scalar;
  const bool vectorised = form == ColumnForm::automatic && fused_vector_columns_available() && !portable_paths_forced();
  record_vector_path(VectorPath::kernel_columns, vectorised);
  return vectorised ? relax_end_avx2 : relax_end_scalar;
}

// Runs the relaxation of one end, settling the rare costs that are not
// plainly non-negative (clamp to 0 or fail) and resuming after them.
Status relax_end(RelaxEnd relax, const FixedCountTables& tables, const FixedCountEnd& end) {
  std::uint64_t from = end.first;
  const double* settled = nullptr;
  double settled_cost = 0.0;
  for (;;) {
    const UnsettledCost outcome = relax(tables, end, from, settled);
    if (!outcome.stopped) return {};
    TARNWELL_TRY(cost, settle_fused_cost(outcome.cost, end.diagonal[end.t], end.within[outcome.start],
                                         end.t - outcome.start));
    settled_cost = cost;
    settled = &settled_cost;
    from = outcome.start;
  }
}

}  // namespace

bool fused_vector_columns_available() noexcept {
  static const bool available = cpu_has_avx2();
  return available;
}

Result<Segmentation> run_fused_fixed_count(const FusedKernelState& state, std::uint64_t n_bkps, ColumnForm form) {
  TARNWELL_TRY(first, shortest_grid_segment(state, n_bkps));
  const std::uint64_t n = state.n;
  const std::uint64_t min_size = state.min_size;
  const std::uint64_t jump = state.jump;
  const std::uint64_t columns = n_bkps + 1;
  TARNWELL_TRY(tables, allocate_tables(n, columns));
  const FixedCountTables view{tables.values.data(), tables.predecessor.data(), tables.tolerance.data(), columns,
                              state.tie_floor};
  const RelaxEnd relax = choose_relaxation(n_bkps, form);
  double* diagonal = tables.diagonal.data();
  double* within = tables.within.data();

  Status status = with_kernel(state.family, state.rows.data(), static_cast<std::size_t>(state.width), state.gamma,
                              [&](const auto& kernel) -> Status {
    for (std::uint64_t t = 1; t <= n; ++t) {
      TARNWELL_CHECK(check_interruption(triangular_work(t), triangular_work(n)));
      fold_fused_row(kernel, static_cast<std::size_t>(t - 1), 0, within, diagonal);
      if (t != n && (t < min_size || t % jump != 0)) continue;
      double whole = diagonal[t] - within[0] / static_cast<double>(t);
      if (!plain_fused_cost(whole)) {
        TARNWELL_TRY(settled, settle_fused_cost(whole, diagonal[t], within[0], t));
        whole = settled;
      }
      tables.values[t * columns] = whole;
      if (n_bkps >= 1 && t - min_size >= first) {
        TARNWELL_CHECK(relax_end(relax, view, FixedCountEnd{t, first, t - min_size, jump, diagonal, within}));
      }
    }
    return {};
  });
  TARNWELL_CHECK(status);

  const double optimum = tables.values[n * columns + n_bkps];
  if (!std::isfinite(optimum)) return errors::fail(errors::non_finite_objective(optimum));
  std::vector<std::uint64_t> breakpoints(static_cast<std::size_t>(columns));
  breakpoints[n_bkps] = n;
  std::uint64_t end = n;
  for (std::uint64_t k = n_bkps; k >= 1; --k) {
    end = tables.predecessor[end * columns + k];
    if (end == no_predecessor) return errors::fail(errors::numerical_failure("reconstructing a fused fixed-K path"));
    breakpoints[k - 1] = end;
  }
  return make_segmentation(std::move(breakpoints), n, min_size, optimum, optimum);
}

}  // namespace tarnwell
