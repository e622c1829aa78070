#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/tie_rule.hpp"
#include "kernel/kernel_dispatch.hpp"
#include "kernel/kernel_fold.hpp"
#include "search/kernel_cpd/fused_cost.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"

namespace tarnwell {
namespace {

constexpr std::uint64_t no_predecessor = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();

struct Buffers {
  std::vector<double> best;  // F[u]: least penalised value of [0, u); F[0] = -pen
  std::vector<std::uint64_t> predecessor;
  std::vector<double> diagonal;
  std::vector<double> within;
  std::vector<std::uint64_t> expiry;  // a start stays usable for ends below its expiry
  std::vector<std::uint64_t> active;  // candidate starts, increasing
  std::vector<std::uint64_t> evaluated_start;
  std::vector<double> evaluated_value;  // c(s, u) + F[s]
};

constexpr const char* buffers_context = "allocating fused KernelCPD buffers";

Result<Buffers> allocate_buffers(std::uint64_t n, double pen) {
  const std::size_t size = static_cast<std::size_t>(n + 1);
  Buffers buffers;
  TARNWELL_CHECK(try_allocate(buffers_context, [&] {
    buffers.best.assign(size, infinity);
    buffers.predecessor.assign(size, no_predecessor);
    buffers.diagonal.assign(size, 0.0);
    buffers.within.assign(size, 0.0);
    buffers.expiry.assign(size, never);
    buffers.active.reserve(64);
    buffers.active.push_back(0);
    buffers.evaluated_start.reserve(64);
    buffers.evaluated_value.reserve(64);
  }));
  buffers.best[0] = -pen;
  return buffers;
}

std::uint64_t saturating_add(std::uint64_t left, std::uint64_t right) noexcept {
  return left > UINT64_MAX - right ? UINT64_MAX : left + right;
}

// Steps of one end u; the growable lists may throw bad_alloc, which the caller turns into an error.
template <class Kernel>
Status advance(const Kernel& kernel, Buffers& buffers, std::uint64_t u, std::uint64_t n, std::uint64_t min_size,
               std::uint64_t jump, double pen, double tie_floor) {
  std::vector<std::uint64_t>& active = buffers.active;
  std::erase_if(active, [&](std::uint64_t s) { return buffers.expiry[s] <= u; });
  // Sums below the lowest active start are never read again, so the fold stops there.
  const std::uint64_t lowest = active.empty() ? u - 1 : active.front();
  double* diagonal = buffers.diagonal.data();
  double* within = buffers.within.data();
  fold_fused_row(kernel, static_cast<std::size_t>(u - 1), static_cast<std::size_t>(lowest), within, diagonal);
  if (u != n && u % jump != 0) return {};

  double best = infinity;
  std::uint64_t arg = no_predecessor;
  buffers.evaluated_start.clear();
  buffers.evaluated_value.clear();
  const double diagonal_end = diagonal[u];
  for (const std::uint64_t s : active) {
    if (u - s < min_size) break;  // starts increase, so the rest are closer still
    double cost = (diagonal_end - diagonal[s]) - within[s] / static_cast<double>(u - s);
    if (!plain_fused_cost(cost)) {
      TARNWELL_TRY(settled, settle_fused_cost(cost, diagonal_end, within[s], u - s));
      cost = settled;
    }
    const double value = cost + buffers.best[s];
    buffers.evaluated_start.push_back(s);
    buffers.evaluated_value.push_back(value);
    const double candidate = value + pen;
    if (clearly_better(candidate, best, tie_floor)) {
      best = candidate;
      arg = s;
    } else if (std::isfinite(best) && candidate - best <= std::fabs(best) * 1e-12 + tie_floor) {
      // A near-tie: as in every penalised search, the segmentation whose
      // earliest differing change point comes first wins, so all backends
      // agree when many segmentations tie (a kernel so narrow that every
      // segment costs its length less one, for instance).
      TARNWELL_TRY(smaller, candidate_path_is_smaller(
                                s, arg, [&](std::uint64_t node) -> std::optional<std::uint64_t> {
                                  const std::uint64_t up = buffers.predecessor[node];
                                  if (up == no_predecessor) return std::nullopt;
                                  return up;
                                },
                                [](std::uint64_t node) { return node; }, "reconstructing a fused penalized path"));
      if (smaller) {
        best = candidate;
        arg = s;
      }
    }
  }
  buffers.best[u] = best;
  buffers.predecessor[u] = arg;
  if (!std::isfinite(best)) return {};

  // A start clearly worse than the optimum at u can never win once u itself
  // is a usable start, min_size samples later (costs are superadditive).
  const std::uint64_t expires_at = saturating_add(u, min_size);
  for (std::size_t i = 0; i < buffers.evaluated_start.size(); ++i) {
    const double value = buffers.evaluated_value[i];
    if (!(value > best)) continue;
    if (!std::isfinite(value) || value - best > value * 1e-12 + tie_floor) {
      std::uint64_t& expiry = buffers.expiry[buffers.evaluated_start[i]];
      if (expires_at < expiry) expiry = expires_at;
    }
  }
  active.push_back(u);
  return {};
}

}  // namespace

Result<Segmentation> run_fused_penalized(const FusedKernelState& state, double pen) {
  TARNWELL_CHECK(check_penalty(pen));
  const std::uint64_t n = state.n;
  const std::uint64_t min_size = state.min_size;
  const std::uint64_t jump = state.jump;
  if (n < min_size) return errors::fail(errors::segment_too_short(0, n, n, min_size));
  TARNWELL_TRY(buffers, allocate_buffers(n, pen));

  Status status = with_kernel(state.family, state.rows.data(), static_cast<std::size_t>(state.width), state.gamma,
                              [&](const auto& kernel) -> Status {
    Status outcome;
    TARNWELL_CHECK(try_allocate(buffers_context, [&] {
      for (std::uint64_t u = 1; u <= n && outcome; ++u) {
        outcome = check_interruption(u, n);
        if (outcome) outcome = advance(kernel, buffers, u, n, min_size, jump, pen, state.tie_floor);
      }
    }));
    return outcome;
  });
  TARNWELL_CHECK(status);

  if (!std::isfinite(buffers.best[n])) {
    return errors::fail(errors::numerical_failure("finding a feasible fused kernel segmentation"));
  }
  std::vector<std::uint64_t> breakpoints;
  for (std::uint64_t end = n; end != 0;) {
    breakpoints.push_back(end);
    end = buffers.predecessor[end];
    if (end == no_predecessor) return errors::fail(errors::numerical_failure("reconstructing a fused penalized path"));
  }
  std::reverse(breakpoints.begin(), breakpoints.end());
  const double objective = buffers.best[n];
  const double cost = objective - pen * static_cast<double>(breakpoints.size() - 1);
  return make_segmentation(std::move(breakpoints), n, min_size, cost, objective);
}

}  // namespace tarnwell
