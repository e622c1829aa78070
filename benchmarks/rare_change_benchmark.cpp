// Pelt with every built-in model on signals with few changes and with many:
// CPU time, and per end position the mean number of starts still listed
// (the surviving starts), of starts evaluated and of starts put to the
// model's pruning test. pen = 3 ln n (1 + d), min_size = the model's
// minimum (5 for ar, d + 1 for normal), jump = 1.
//
// The signal: `changes` changes spread evenly, the segments in turn shifted
// in level (+3), in spread (x2) and by a slope (0 to 5 across the segment),
// over unit Gaussian noise; for linear, the response is the second feature
// times a slope that changes at the same places, plus noise. "frequent"
// rows put a level change every 100 samples.
//
// usage: rare_change_benchmark [models] [sizes] [changes] [check]
//   models: comma-separated model:d (default: the table), sizes:
//   comma-separated n (default 4000,16000,64000), changes: comma-separated
//   counts, "frequent" for a change every 100 (default 1,2,frequent);
//   check: also run the exhaustive search and compare breakpoints.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "cost/cost_model.hpp"
#include "cost/fitted_cost.hpp"
#include "search/pelt/pelt_engine.hpp"

using namespace tarnwell;

namespace {

std::vector<double> rare_signal(std::size_t n, std::size_t d, std::size_t changes, bool frequent, bool regression,
                                std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<std::size_t> bounds{0};
  if (frequent) {
    for (std::size_t b = 100; b < n; b += 100) bounds.push_back(b);
  } else {
    for (std::size_t k = 1; k <= changes; ++k) bounds.push_back(n * k / (changes + 1));
  }
  bounds.push_back(n);
  std::vector<double> values(n * d);
  std::uniform_real_distribution<double> uniform(-5.0, 5.0);
  for (std::size_t s = 0; s + 1 < bounds.size(); ++s) {
    const std::size_t first = bounds[s];
    const std::size_t last = bounds[s + 1];
    const std::size_t kind = s % 3;
    const double level = frequent ? uniform(generator) : 0.0;
    for (std::size_t t = first; t < last; ++t) {
      const double along = static_cast<double>(t - first) / static_cast<double>(last - first);
      for (std::size_t k = 0; k < d; ++k) {
        double noise = normal(generator);
        double value = level + noise;
        if (!frequent) {
          if (kind == 1) value = 3.0 + 2.0 * noise;
          if (kind == 2) value = 5.0 * along + noise;
        }
        values[t * d + k] = value;
      }
      if (regression) {
        const double slope = frequent ? level : (kind == 0 ? 1.0 : kind == 1 ? -2.0 : 3.0);
        values[t * d] = slope * values[t * d + 1] + normal(generator);
      }
    }
  }
  return values;
}

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return parts;
}

struct Outcome {
  double seconds = 0.0;
  SearchCounters counters;
  std::vector<std::uint64_t> breakpoints;
  bool failed = false;
};

Outcome search(const FittedCost& fitted, std::uint64_t min_size, double pen, PeltPruning pruning) {
  Outcome outcome;
  const double start = cpu_seconds();
  fitted.visit([&](const auto& cost) {
    auto result = run_pelt(cost, SearchParameters{min_size, 1}, pen, pruning, &outcome.counters);
    if (result) {
      outcome.breakpoints = result->breakpoints;
    } else {
      outcome.failed = true;
    }
  });
  outcome.seconds = cpu_seconds() - start;
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string models_text =
      argc > 1 ? argv[1] : "l1:1,rank:2,normal:1,linear:2,ar:1,clinear:1,mahalanobis:2,l2:1,l2:2,l2:3,l2:5";
  const std::string sizes_text = argc > 2 ? argv[2] : "4000,16000,64000";
  const std::string changes_text = argc > 3 ? argv[3] : "1,2,frequent";
  const bool check = argc > 4 && std::string(argv[4]) == "check";
  std::printf("%-12s %2s %-9s %8s %10s %8s %9s %8s %8s %7s%s\n", "model", "d", "changes", "n", "cpu_s", "growth",
              "listed", "evaluated", "tested", "found", check ? "  exhaustive" : "");
  for (const std::string& entry : split(models_text)) {
    const std::size_t colon = entry.find(':');
    const std::string name = entry.substr(0, colon);
    const std::size_t d = colon == std::string::npos ? 1 : std::strtoull(entry.c_str() + colon + 1, nullptr, 10);
    const auto model = parse_model(name);
    if (!model) {
      std::printf("unknown model %s\n", name.c_str());
      return 1;
    }
    for (const std::string& changes : split(changes_text)) {
      const bool frequent = changes == "frequent";
      const std::size_t count = frequent ? 0 : std::strtoull(changes.c_str(), nullptr, 10);
      double previous = 0.0;
      for (const std::string& size : split(sizes_text)) {
        const std::size_t n = std::strtoull(size.c_str(), nullptr, 10);
        auto signal = Signal::create(rare_signal(n, d, count, frequent, name == "linear", 1), n, d);
        if (!signal) return 1;
        auto fitted = model->visit([&](const auto& descriptor) -> Result<FittedCost> {
          TARNWELL_TRY(cost, descriptor.fit(*signal));
          return FittedCost(std::move(cost));
        });
        if (!fitted) {
          std::printf("%s: fit failed\n", name.c_str());
          return 1;
        }
        const std::uint64_t min_size = std::max<std::uint64_t>(2, fitted->search_min_segment_length());
        const double pen = 3.0 * std::log(static_cast<double>(n)) * (1.0 + static_cast<double>(d));
        const Outcome run = search(*fitted, min_size, pen, PeltPruning::as_declared);
        const double steps = static_cast<double>(run.counters.end_positions);
        std::printf("%-12s %2zu %-9s %8zu %10.3f %8s %9.1f %8.2f %8.2f %7zu", name.c_str(), d, changes.c_str(), n,
                    run.seconds, previous > 0.0 ? ("x" + std::to_string(run.seconds / previous).substr(0, 4)).c_str() : "",
                    static_cast<double>(run.counters.listed_starts) / steps,
                    static_cast<double>(run.counters.candidate_segments) / steps,
                    static_cast<double>(run.counters.tested_starts) / steps, run.breakpoints.size() - 1);
        previous = run.seconds;
        if (check) {
          const Outcome exhaustive = search(*fitted, min_size, pen, PeltPruning::never);
          std::printf("  %s (%.3f s)", exhaustive.breakpoints == run.breakpoints ? "same" : "DIFFERENT",
                      exhaustive.seconds);
        }
        std::printf("%s\n", run.failed ? " FAILED" : "");
        std::fflush(stdout);
      }
    }
  }
  return 0;
}
