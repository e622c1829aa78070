// Pelt with the L2 cost, min_size = jump = 1, pen = 3 ln n (one feature; three
// features on smaller signals): time per sample and mean number of start candidates evaluated per end
// position, with the functional pruning (the default) and, where it finishes
// in reasonable time, with the inequality rule alone, whose breakpoints must
// be the same.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "cost/l2/l2_cost.hpp"
#include "search/pelt/pelt_engine.hpp"

using namespace tarnwell;

namespace {

// Levels uniform in [-5, 5], changing every `spacing` samples, plus unit noise.
std::vector<double> piecewise_signal(std::size_t n, std::size_t spacing, std::uint64_t seed, std::size_t d = 1) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_real_distribution<double> uniform(-5.0, 5.0);
  std::vector<double> values(n * d);
  std::vector<double> level(d, 0.0);
  for (std::size_t t = 0; t < n; ++t) {
    for (std::size_t k = 0; k < d; ++k) {
      if (t % spacing == 0) level[k] = uniform(generator);
      values[t * d + k] = level[k] + normal(generator);
    }
  }
  return values;
}

struct Run {
  double seconds = std::numeric_limits<double>::infinity();
  SearchCounters counters;
  std::vector<std::uint64_t> breakpoints;
  bool failed = false;
};

// Best of `repetitions` runs of fit + search (what a caller of Pelt pays).
Run timed(const Signal& signal, double pen, PeltPruning pruning, int repetitions) {
  Run run;
  for (int r = 0; r < repetitions; ++r) {
    SearchCounters counters;
    const auto start = std::chrono::steady_clock::now();
    auto cost = L2Cost::fit(signal);
    auto outcome = cost ? run_pelt(*cost, SearchParameters{1, 1}, pen, pruning, &counters)
                        : Result<Segmentation>(errors::fail(cost.error()));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!outcome) {
      run.failed = true;
      return run;
    }
    if (elapsed.count() < run.seconds) {
      run.seconds = elapsed.count();
      run.counters = counters;
      run.breakpoints = outcome->breakpoints;
    }
  }
  return run;
}

}  // namespace

// With arguments `n spacing`, one functional-pruning run of that size only
// (for profilers).
int main(int argc, char** argv) {
  if (argc == 3 || argc == 4) {
    const std::size_t n = std::strtoull(argv[1], nullptr, 10);
    const std::size_t spacing = std::strtoull(argv[2], nullptr, 10);
    const std::vector<double> x = piecewise_signal(n, spacing, 1);
    auto signal = Signal::create(x, n, 1);
    if (!signal || n == 0 || spacing == 0) return 1;
    // The best of the repetitions asked for (one by default): on a shared
    // machine the fastest run is the one least disturbed.
    const int repetitions = argc == 4 ? std::max(1, std::atoi(argv[3])) : 1;
    const Run run = timed(*signal, 3.0 * std::log(static_cast<double>(n)), PeltPruning::as_declared, repetitions);
    std::printf("n=%zu spacing=%zu: %.1f ms, %.1f ns/sample, %zu changes, %.2f candidates/step\n", n, spacing,
                run.seconds * 1e3, run.seconds * 1e9 / static_cast<double>(n), run.breakpoints.size() - 1,
                static_cast<double>(run.counters.candidate_segments) / static_cast<double>(run.counters.end_positions));
    return run.failed ? 1 : 0;
  }
  // One feature up to 10^7 samples; three features (balls of means) smaller.
  struct Case {
    std::size_t n;
    std::size_t spacing;
    std::size_t d;
  };
  std::vector<Case> cases;
  for (const std::size_t spacing : {100u, 10'000u}) {
    for (const std::size_t n : {100'000u, 1'000'000u, 10'000'000u}) cases.push_back({n, spacing, 1});
  }
  for (const std::size_t spacing : {100u, 10'000u}) cases.push_back({100'000, spacing, 3});
  std::printf("%-9s %-8s %-2s %10s %8s %10s | %12s %10s %10s %s\n", "n", "spacing", "d", "time_ms", "ns/smp",
              "cands/step", "ineq_time_ms", "ineq_cands", "speed-up", "changes");
  for (const auto& [n, spacing, d] : cases) {
    {
      const std::vector<double> x = piecewise_signal(n, spacing, 1, d);
      auto signal = Signal::create(x, n, d);
      if (!signal) return 1;
      const double pen = 3.0 * std::log(static_cast<double>(n));
      const int repetitions = n >= 10'000'000 ? 2 : 5;
      const Run functional = timed(*signal, pen, PeltPruning::as_declared, repetitions);
      const double per_step =
          static_cast<double>(functional.counters.candidate_segments) / functional.counters.end_positions;
      std::printf("%-9zu %-8zu %-2zu %10.1f %8.1f %10.2f |", n, spacing, d, functional.seconds * 1e3,
                  functional.seconds * 1e9 / static_cast<double>(n), per_step);
      // The inequality rule alone keeps every start of a quiet stretch: its
      // work grows with n times the spacing, so only the smaller products run.
      if (static_cast<double>(n) * static_cast<double>(spacing) <= 1e9) {
        const Run inequality = timed(*signal, pen, PeltPruning::inequality_only, n * spacing <= 1e8 ? 3 : 1);
        const double inequality_per_step =
            static_cast<double>(inequality.counters.candidate_segments) / inequality.counters.end_positions;
        std::printf(" %12.1f %10.2f %9.1fx %zu %s", inequality.seconds * 1e3, inequality_per_step,
                    inequality.seconds / functional.seconds, functional.breakpoints.size() - 1,
                    inequality.breakpoints == functional.breakpoints ? "same breakpoints" : "DIFFERENT BREAKPOINTS");
      } else {
        std::printf(" %12s %10s %10s %zu", "-", "-", "-", functional.breakpoints.size() - 1);
      }
      std::printf("%s\n", functional.failed ? " (failed)" : "");
    }
  }
  return 0;
}
