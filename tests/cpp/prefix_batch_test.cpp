// The endpoint batches of CostNormal (one feature) and CostCLinear compute in
// a loop of their own (CLinear four starts at a time where the processor
// allows) what segment_cost computes one by one; the values must be
// bit-identical, with the vectorised and the portable forms alike. Python
// reaches the batches only through the searches, which hide the values.
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/vector_paths.hpp"
#include "cost/clinear/clinear_cost.hpp"
#include "cost/normal/normal_cost.hpp"

using namespace tarnwell;

namespace {

// Random walks with level jumps, on an offset, rounded to integers (exact
// ties) in some rounds.
std::vector<double> walk(std::mt19937_64& generator, std::size_t count, double offset, bool integer) {
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> values(count);
  double level = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    level += normal(generator) * 0.3 + (i % 37 == 0 ? 5.0 * normal(generator) : 0.0);
    values[i] = offset + level + normal(generator);
    if (integer) values[i] = std::round(values[i]);
  }
  return values;
}

template <class Cost>
bool batches_match_segments(const Cost& cost, std::uint64_t n, std::uint64_t minimum, std::mt19937_64& generator) {
  EndpointBatch batch;
  bool identical = true;
  for (int round = 0; round < 30; ++round) {
    std::uniform_int_distribution<std::uint64_t> end_at(minimum, n);
    const std::uint64_t end = end_at(generator);
    std::vector<std::uint64_t> starts;
    const std::uint64_t step = 1 + static_cast<std::uint64_t>(round % 3);
    for (std::uint64_t s = static_cast<std::uint64_t>(round % 2); s + minimum <= end; s += step) starts.push_back(s);
    if (!cost.endpoint_costs(starts, end, batch).has_value()) return false;
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const Result<double> single = cost.segment_cost(starts[i], end);
      identical = identical && single.has_value() &&
                  std::bit_cast<std::uint64_t>(batch[i]) == std::bit_cast<std::uint64_t>(*single);
    }
  }
  return identical;
}

}  // namespace

void run_prefix_batch_tests() {
  std::mt19937_64 generator(29);
  for (const bool portable : {false, true}) {
    force_portable_paths(portable);
    for (const double offset : {0.0, 1e6, -3e-7}) {
      for (const bool integer : {false, true}) {
        for (const std::size_t d : {1u, 2u, 3u}) {
          const std::size_t n = 150;
          const Result<Signal> signal = Signal::create(walk(generator, n * d, offset, integer), n, d);
          CHECK(signal.has_value());
          const Result<CLinearCost> clinear = CLinearCost::fit(*signal);
          CHECK(clinear.has_value() && batches_match_segments(*clinear, n, 3, generator));
          if (d == 1) {
            const Result<NormalCost> normal = NormalCost::fit(*signal, 1e-6);
            CHECK(normal.has_value() && batches_match_segments(*normal, n, 2, generator));
          }
        }
      }
    }
  }
  force_portable_paths(false);
  // Failures are those of the one-by-one evaluation.
  const Result<Signal> signal = Signal::create(std::vector<double>(20, 1.0), 20, 1);
  const Result<CLinearCost> clinear = CLinearCost::fit(*signal);
  EndpointBatch batch;
  const std::vector<std::uint64_t> short_segment{0, 5, 18};
  const Result<void> failed = clinear->endpoint_costs(short_segment, 20, batch);
  CHECK(!failed.has_value());
  if (!failed.has_value()) CHECK_EQ(failed.error().message(), clinear->segment_cost(18, 20).error().message());
}
