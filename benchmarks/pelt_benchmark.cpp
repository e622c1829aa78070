// Pelt with the L2 cost on 1-D signals: time, candidate segments evaluated and
// nanoseconds per candidate, next to a bare pruned loop (no validation, no tie
// handling, no error paths) that bounds what the engine can reach.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "cost/l2/l2_cost.hpp"
#include "search/pelt/pelt_engine.hpp"

using namespace tarnwell;

namespace {

std::vector<double> piecewise_signal(std::size_t n, std::size_t spacing, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> values(n);
  double level = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    if (t % spacing == 0) level = 3.0 * normal(generator);
    values[t] = level + normal(generator);
  }
  return values;
}

// The same pruned recursion on plain prefix sums, min_size = jump = 1.
std::uint64_t bare_pruned_pelt(const std::vector<double>& x, double pen, std::vector<std::uint64_t>& breakpoints) {
  const std::size_t n = x.size();
  std::vector<double> sums(n + 1, 0.0), squares(n + 1, 0.0), best(n + 1, 0.0);
  std::vector<std::uint32_t> previous(n + 1, 0), active{0}, kept;
  std::vector<double> values;
  for (std::size_t t = 0; t < n; ++t) {
    sums[t + 1] = sums[t] + x[t];
    squares[t + 1] = squares[t] + x[t] * x[t];
  }
  best[0] = -pen;
  std::uint64_t candidates = 0;
  for (std::size_t t = 1; t <= n; ++t) {
    double optimum = std::numeric_limits<double>::infinity();
    std::uint32_t argmin = 0;
    values.resize(active.size());
    for (std::size_t i = 0; i < active.size(); ++i) {
      const std::uint32_t s = active[i];
      const double delta = sums[t] - sums[s];
      const double value = best[s] + (squares[t] - squares[s]) - delta * delta / static_cast<double>(t - s) + pen;
      values[i] = value;
      if (value < optimum) {
        optimum = value;
        argmin = s;
      }
    }
    candidates += active.size();
    best[t] = optimum;
    previous[t] = argmin;
    kept.clear();
    for (std::size_t i = 0; i < active.size(); ++i) {
      if (values[i] - pen <= optimum) kept.push_back(active[i]);
    }
    kept.push_back(static_cast<std::uint32_t>(t));
    active.swap(kept);
  }
  breakpoints.clear();
  for (std::size_t t = n; t != 0; t = previous[t]) breakpoints.push_back(t);
  std::reverse(breakpoints.begin(), breakpoints.end());
  return candidates;
}

template <class Run>
double best_seconds(int repetitions, Run&& run) {
  double best = std::numeric_limits<double>::infinity();
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

}  // namespace

int main() {
  std::printf("%-8s %-8s %10s %14s %10s %10s %10s %s\n", "n", "spacing", "time_ms", "candidates", "ns/cand",
              "bare_ms", "bare_ns", "changes");
  for (const std::size_t spacing : {100u, 1000u}) {
    double previous_ms = 0.0;
    for (const std::size_t n : {10'000u, 100'000u, 1'000'000u}) {
      const std::vector<double> x = piecewise_signal(n, spacing, 42);
      auto signal = Signal::create(x, n, 1);
      auto cost = L2Cost::fit(*signal);
      const double pen = 3.0 * std::log(static_cast<double>(n));
      SearchCounters counters;
      Result<Segmentation> outcome = errors::fail(errors::empty_breakpoints());
      const int repetitions = n >= 1'000'000 ? 3 : 7;
      const double seconds = best_seconds(repetitions, [&] {
        counters = {};
        outcome = run_pelt(*cost, SearchParameters{1, 1}, pen, PeltPruning::as_declared, &counters);
      });
      std::vector<std::uint64_t> bare_breakpoints;
      std::uint64_t bare_candidates = 0;
      const double bare_seconds =
          best_seconds(repetitions, [&] { bare_candidates = bare_pruned_pelt(x, pen, bare_breakpoints); });
      const double ms = seconds * 1e3;
      std::printf("%-8zu %-8zu %10.2f %14llu %10.2f %10.2f %10.2f %zu%s", n, spacing, ms,
                  static_cast<unsigned long long>(counters.candidate_segments),
                  seconds * 1e9 / static_cast<double>(counters.candidate_segments), bare_seconds * 1e3,
                  bare_seconds * 1e9 / static_cast<double>(bare_candidates),
                  outcome ? outcome->breakpoints.size() - 1 : 0, outcome ? "" : " (failed)");
      if (previous_ms > 0) std::printf("  x%.1f vs n/10", ms / previous_ms);
      std::printf("\n");
      previous_ms = ms;
    }
  }
  return 0;
}
