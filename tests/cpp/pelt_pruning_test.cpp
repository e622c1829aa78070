// Pruning only saves work: the functionally pruned, the inequality-pruned and
// the exhaustive Pelt searches must return the same breakpoints and
// objective. Python always gets the fully pruned mode for L2, so the
// comparison runs here with the engine's internal switch.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "cost/fitted_cost.hpp"
#include "cost/l2/l2_cost.hpp"
#include "search/pelt/l2_pruning/l2_interval_passes.hpp"
#include "search/pelt/pelt_engine.hpp"

using namespace tarnwell;

namespace {

struct PiecewiseShape {
  std::size_t n;
  std::size_t d;
  std::size_t spacing;  // samples between changes of level
  enum class Values : std::uint8_t { gaussian, small_integers, offset_and_scaled, offset_unit_noise } values;
};

// Piecewise-constant levels plus noise. Small integers make exact ties
// between segmentations common; the offset and scaled signals move the
// magnitudes the pruning margins are made of.
std::vector<double> piecewise_signal(std::mt19937_64& generator, const PiecewiseShape& shape) {
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> small(0, 2);
  std::vector<double> values(shape.n * shape.d);
  std::vector<double> level(shape.d, 0.0);
  const bool offset_shape = shape.values == PiecewiseShape::Values::offset_and_scaled ||
                            shape.values == PiecewiseShape::Values::offset_unit_noise;
  const double offset = offset_shape ? 1e6 : 0.0;
  const double scale = shape.values == PiecewiseShape::Values::offset_and_scaled ? 1e-3 : 1.0;
  for (std::size_t t = 0; t < shape.n; ++t) {
    if (t % shape.spacing == 0) {
      for (double& mean : level) {
        mean = shape.values == PiecewiseShape::Values::small_integers ? small(generator) : 3.0 * normal(generator);
      }
    }
    for (std::size_t k = 0; k < shape.d; ++k) {
      const double noise = shape.values == PiecewiseShape::Values::small_integers ? small(generator) : normal(generator);
      values[t * shape.d + k] = offset + scale * (level[k] + noise);
    }
  }
  return values;
}

struct Outcome {
  Result<Segmentation> result;
  std::uint64_t candidates;
};

template <class Cost>
Outcome search(const Cost& cost, SearchParameters parameters, double pen, PeltPruning pruning) {
  SearchCounters counters;
  Result<Segmentation> result = run_pelt(cost, parameters, pen, pruning, &counters);
  return {std::move(result), counters.candidate_segments};
}

bool same_bits(double left, double right) {
  return (left != left && right != right) || std::bit_cast<std::uint64_t>(left) == std::bit_cast<std::uint64_t>(right);
}

// The AVX2 form of the interval passes gives the baseline form's values bit
// for bit: costs, narrowed intervals and flags, on lists of every length
// (vector bodies and remainders), with one-sample segments, starts whose
// terms overflow or are NaN, unbounded intervals and empty holes.
void check_interval_passes_agree(std::mt19937_64& generator) {
  const L2IntervalPasses* avx2 = l2_interval_passes_avx2();
  if (avx2 == nullptr) return;
  const L2IntervalPasses& portable = l2_interval_passes_portable();
  std::normal_distribution<double> normal(0.0, 1.0);
  for (int round = 0; round < 400; ++round) {
    const std::size_t size = generator() % 40;
    const double magnitude = round % 7 == 6 ? 1e154 : (round % 5 == 4 ? 1e6 : 1.0);
    // Column values with a sentinel before the first entry.
    std::vector<double> best(size + 1), sums(size + 1), squares(size + 1), positions(size + 1);
    std::vector<double> lows(size + 1), highs(size + 1), hole_lows(size + 1), hole_highs(size + 1);
    const double end = 1000.0;
    // Some lists reach the end, so that their last starts are one sample away.
    double position = round % 2 == 0 ? 0.0 : end - 2.0 * static_cast<double>(size) - 2.0;
    positions[0] = std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i <= size; ++i) {
      position += 1.0 + static_cast<double>(generator() % 3);
      positions[i] = std::min(position, end - 1.0);
      best[i] = magnitude * normal(generator);
      sums[i] = magnitude * normal(generator);
      squares[i] = std::fabs(magnitude * magnitude * normal(generator));
      const double centre = normal(generator);
      const bool bounded = generator() % 3 != 0;
      lows[i] = bounded ? centre - std::fabs(normal(generator)) : -std::numeric_limits<double>::infinity();
      highs[i] = bounded ? centre + std::fabs(normal(generator)) : std::numeric_limits<double>::infinity();
      const bool hole = generator() % 2 == 0;
      hole_lows[i] = hole ? centre - 2.0 : std::numeric_limits<double>::infinity();
      hole_highs[i] = hole ? centre + 2.0 : -std::numeric_limits<double>::infinity();
      if (generator() % 17 == 0) sums[i] = std::numeric_limits<double>::quiet_NaN();
    }
    const double sum_end = magnitude * normal(generator);
    const double square_end = std::fabs(magnitude * magnitude * normal(generator)) * 4.0;
    std::vector<double> costs_portable(size + 1), costs_avx2(size + 1);
    portable.costs(size, end, sum_end, square_end, sums.data() + 1, squares.data() + 1, positions.data() + 1,
                   costs_portable.data());
    avx2->costs(size, end, sum_end, square_end, sums.data() + 1, squares.data() + 1, positions.data() + 1,
                costs_avx2.data());
    const L2IntervalStep step{end, sum_end, square_end, magnitude * normal(generator), 1e-9 * magnitude};
    std::vector<double> lows_avx2 = lows, highs_avx2 = highs;
    std::vector<double> flags_portable(size + 1), flags_avx2(size + 1);
    portable.mark(step, size, best.data() + 1, sums.data() + 1, squares.data() + 1, positions.data() + 1,
                  lows.data() + 1, highs.data() + 1, hole_lows.data() + 1, hole_highs.data() + 1,
                  flags_portable.data());
    avx2->mark(step, size, best.data() + 1, sums.data() + 1, squares.data() + 1, positions.data() + 1,
               lows_avx2.data() + 1, highs_avx2.data() + 1, hole_lows.data() + 1, hole_highs.data() + 1,
               flags_avx2.data());
    bool same = true;
    for (std::size_t i = 0; i < size; ++i) {
      same = same && same_bits(costs_portable[i], costs_avx2[i]) && same_bits(lows[i + 1], lows_avx2[i + 1]) &&
             same_bits(highs[i + 1], highs_avx2[i + 1]) && flags_portable[i] == flags_avx2[i];
    }
    CHECK(same);
  }
}

// The computed grid has the stored grid's positions and admissible counts.
void check_computed_grid() {
  bool same = true;
  for (std::uint64_t n = 1; n < 40; ++n) {
    for (std::uint64_t jump = 1; jump < n + 3; ++jump) {
      const std::vector<std::uint64_t> stored = *build_search_grid(n, jump, "grid");
      const SearchGrid computed(n, jump);
      same = same && computed.size() == stored.size();
      for (std::size_t k = 0; same && k < stored.size(); ++k) same = computed[k] == stored[k];
      for (std::size_t limit = 0; same && limit <= stored.size(); ++limit) {
        for (std::uint64_t end = 0; end <= n + 1; ++end) {
          for (std::uint64_t min_size = 1; min_size < 5; ++min_size) {
            same = same && computed.admissible_start_count(limit, end, min_size) ==
                               admissible_start_count(stored, limit, end, min_size);
          }
        }
      }
    }
  }
  CHECK(same);
}

void check_same(const Outcome& left, const Outcome& right) {
  CHECK(left.result.has_value() == right.result.has_value());
  if (left.result && right.result) {
    CHECK(left.result->breakpoints == right.result->breakpoints);
    CHECK(left.result->objective == right.result->objective);
  }
}

}  // namespace

// A signal far from its first sample, with steps much smaller than its
// level: the terms of nearly constant segments lose everything to
// cancellation and often come out negative, values the cost must handle
// itself, so the functional searches take the cost's own batch for those
// steps. Their margins cover the cost's rounding, so they still find the
// exhaustive optimum. (The inequality rule alone, a cross-check that
// compares at the tie tolerance only, does not hold here.)
void check_cancelling_terms(std::mt19937_64& generator) {
  std::normal_distribution<double> noise(0.0, 1e-3);
  for (int round = 0; round < 20; ++round) {
    const std::size_t n = 120 + generator() % 200;
    std::vector<double> values(n);
    double level = 1e8;
    for (std::size_t t = 1; t < n; ++t) {
      if (t % 37 == 0) level += static_cast<double>(generator() % 3);
      values[t] = level + noise(generator);
    }
    auto signal = Signal::create(values, n, 1);
    CHECK(signal.has_value());
    auto cost = L2Cost::fit(*signal);
    CHECK(cost.has_value());
    for (const SearchParameters parameters : {SearchParameters{1, 1}, SearchParameters{3, 2}}) {
      for (const double pen : {1e-6, 0.5, 10.0}) {
        const Outcome exhaustive = search(*cost, parameters, pen, PeltPruning::never);
        check_same(exhaustive, search(*cost, parameters, pen, PeltPruning::as_declared));
        check_same(exhaustive, search(*cost, parameters, pen, PeltPruning::stepwise));
      }
    }
  }
}

// Every built-in model that declares a pruning constant: the pruned search
// returns the exhaustive one's breakpoints on random signals of every shape,
// for tiny to huge penalties and every min_size/jump pair.
void check_every_pruned_model(std::mt19937_64& generator) {
  constexpr SearchParameters parameter_pairs[] = {{1, 1}, {2, 1}, {1, 2}, {2, 3}, {3, 2}, {4, 5}, {5, 5}};
  int compared = 0;
  for (const char* name : {"l1", "rank", "normal", "linear", "ar", "mahalanobis"}) {
    const CostModel model = *parse_model(name);
    for (int round = 0; round < 6; ++round) {
      for (const std::size_t d : {1u, 2u, 3u}) {
        if (std::string_view(name) == "linear" && d == 1) continue;
        for (const auto values : {PiecewiseShape::Values::gaussian, PiecewiseShape::Values::small_integers,
                                  PiecewiseShape::Values::offset_and_scaled,
                                  PiecewiseShape::Values::offset_unit_noise}) {
          const std::size_t n = 20 + generator() % 100;
          const std::size_t spacing = 5 + generator() % (round % 2 == 0 ? n : 30);
          const std::vector<double> signal_values = piecewise_signal(generator, {n, d, spacing, values});
          auto signal = Signal::create(signal_values, n, d);
          CHECK(signal.has_value());
          auto fitted = model.visit([&](const auto& descriptor) -> Result<FittedCost> {
            TARNWELL_TRY(cost, descriptor.fit(*signal));
            return FittedCost(std::move(cost));
          });
          CHECK(fitted.has_value());
          if (!fitted) continue;
          fitted->visit([&](const auto& cost) {
            CHECK(cost.pelt_pruning_constant().has_value());
            const auto whole = cost.segment_cost(0, n);
            const double scale = whole ? 1.0 + std::fabs(*whole) / static_cast<double>(n) : 1.0;
            for (const SearchParameters requested : parameter_pairs) {
              const SearchParameters parameters{std::max(requested.min_size, cost.min_segment_length()),
                                                requested.jump};
              for (const double pen : {1e-9, 0.1 * scale, scale, 2.0 * std::log(static_cast<double>(n)) * scale,
                                       50.0 * scale, 1e12}) {
                const Outcome exhaustive = search(cost, parameters, pen, PeltPruning::never);
                const Outcome pruned = search(cost, parameters, pen, PeltPruning::as_declared);
                CHECK(exhaustive.result.has_value() == pruned.result.has_value());
                if (exhaustive.result && pruned.result) {
                  CHECK(exhaustive.result->breakpoints == pruned.result->breakpoints);
                  if (exhaustive.result->breakpoints != pruned.result->breakpoints) {
                    std::printf("  %s n=%zu d=%zu min_size=%llu jump=%llu pen=%g\n", name, n, d,
                                static_cast<unsigned long long>(parameters.min_size),
                                static_cast<unsigned long long>(parameters.jump), pen);
                  }
                }
                ++compared;
              }
            }
          });
        }
      }
    }
  }
  CHECK(compared > 5000);
}

void run_pelt_pruning_tests() {
  std::mt19937_64 generator(2024);
  check_every_pruned_model(generator);
  check_interval_passes_agree(generator);
  check_cancelling_terms(generator);
  check_computed_grid();
  constexpr SearchParameters parameter_pairs[] = {{1, 1}, {2, 1}, {1, 2}, {2, 3}, {3, 2}, {4, 5}, {5, 5}};
  int compared = 0;
  // Per number of features: candidates evaluated with and without the
  // functional pruning where it has work to do.
  std::uint64_t functional_candidates[4] = {};
  std::uint64_t inequality_candidates[4] = {};
  for (int round = 0; round < 30; ++round) {
    for (const std::size_t d : {1u, 2u, 3u}) {
      if (d > 1 && round % 2 != 0) continue;
      for (const auto values : {PiecewiseShape::Values::gaussian, PiecewiseShape::Values::small_integers,
                                PiecewiseShape::Values::offset_and_scaled}) {
        // Mostly short signals, with long quiet stretches among them; a few
        // long ones.
        const std::size_t n = round % 15 == 14 ? 2000 : 5 + generator() % 250;
        const std::size_t spacing = 1 + generator() % (round % 2 == 0 ? n : 40);
        const std::vector<double> values_of_signal = piecewise_signal(generator, {n, d, spacing, values});
        auto signal = Signal::create(values_of_signal, n, d);
        CHECK(signal.has_value());
        auto cost = L2Cost::fit(*signal);
        CHECK(cost.has_value());
        const double scale = values == PiecewiseShape::Values::offset_and_scaled ? 1e-6 : 1.0;
        const double pens[] = {1e-9, 0.1 * scale, 0.5 * scale, scale, 2.0 * std::log(static_cast<double>(n)) * scale,
                               2.0 * scale, 50.0 * scale, 1e12};
        for (const SearchParameters parameters : parameter_pairs) {
          // The exhaustive search is quadratic: long signals get a subset.
          if (n > 500 && parameters.min_size + parameters.jump > 4) continue;
          for (const double pen : pens) {
            const Outcome functional = search(*cost, parameters, pen, PeltPruning::as_declared);
            const Outcome inequality = search(*cost, parameters, pen, PeltPruning::inequality_only);
            check_same(functional, inequality);
            // The separate passes other processors run, where this one sweeps.
            if (d == 1) check_same(functional, search(*cost, parameters, pen, PeltPruning::stepwise));
            if (n <= 500 || pen == pens[4]) check_same(functional, search(*cost, parameters, pen, PeltPruning::never));
            // Penalties that leave long segments give the pruning work.
            if (pen == pens[4]) {
              functional_candidates[d] += functional.candidates;
              inequality_candidates[d] += inequality.candidates;
            }
            ++compared;
          }
        }
      }
    }
  }
  CHECK(compared > 1500);
  // The functional pruning is in use and discards far more than the
  // inequality, whatever the number of features.
  for (const std::size_t d : {1u, 2u, 3u}) CHECK(functional_candidates[d] * 3 < inequality_candidates[d]);
}
