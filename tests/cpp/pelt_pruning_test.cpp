// Pruning only saves work: the pruned and the exhaustive Pelt searches must
// return the same breakpoints. Python always gets the pruned mode for L2, so
// the comparison runs here with the engine's internal switch.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "check.hpp"
#include "cost/l2/l2_cost.hpp"
#include "search/pelt/pelt_engine.hpp"

using namespace tarnwell;

namespace {

std::vector<double> piecewise_signal(std::mt19937_64& generator, std::size_t n, std::size_t d, std::size_t spacing,
                                     bool integer_values) {
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> small(0, 2);
  std::vector<double> values(n * d);
  std::vector<double> level(d, 0.0);
  for (std::size_t t = 0; t < n; ++t) {
    if (t % spacing == 0) {
      for (double& mean : level) mean = integer_values ? small(generator) : 4.0 * normal(generator);
    }
    for (std::size_t j = 0; j < d; ++j) {
      values[t * d + j] = integer_values ? level[j] + small(generator) : level[j] + normal(generator);
    }
  }
  return values;
}

}  // namespace

void run_pelt_pruning_tests() {
  std::mt19937_64 generator(2024);
  int compared = 0;
  for (const std::size_t d : {1u, 2u, 3u}) {
    for (const bool integer_values : {false, true}) {
      for (const std::size_t n : {7u, 60u, 400u}) {
        const std::vector<double> values = piecewise_signal(generator, n, d, 1 + n / 6, integer_values);
        auto signal = Signal::create(values, n, d);
        CHECK(signal.has_value());
        auto cost = L2Cost::fit(*signal);
        CHECK(cost.has_value());
        for (const SearchParameters parameters : {SearchParameters{1, 1}, SearchParameters{2, 1},
                                                  SearchParameters{3, 2}, SearchParameters{5, 5}}) {
          for (const double pen : {0.1, 1.0, 2.0 * std::log(static_cast<double>(n)), 50.0}) {
            auto pruned = run_pelt(*cost, parameters, pen, PeltPruning::as_declared);
            auto exhaustive = run_pelt(*cost, parameters, pen, PeltPruning::never);
            CHECK(pruned.has_value() == exhaustive.has_value());
            if (pruned && exhaustive) {
              CHECK(pruned->breakpoints == exhaustive->breakpoints);
              CHECK(pruned->objective == exhaustive->objective);
              ++compared;
            }
          }
        }
      }
    }
  }
  CHECK(compared > 250);
}
