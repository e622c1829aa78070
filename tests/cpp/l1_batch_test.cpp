// The L1 endpoint batch keeps each column sorted across the nested segments of
// one batch instead of sorting every segment; its values must be bit-identical
// to segment_cost's, and its failures those of the one-by-one batch. Python
// reaches the batch only through the searches, which hide the values.
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "check.hpp"
#include "cost/l1/l1_cost.hpp"

using namespace tarnwell;

namespace {

std::vector<double> tie_heavy_values(std::mt19937_64& generator, std::size_t count) {
  std::uniform_int_distribution<int> small(-3, 3);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    const int pick = small(generator);
    // Repeated levels, signed zeros and continuous values mixed.
    values[i] = pick == 0 ? (i % 2 ? -0.0 : 0.0) : (pick > 1 ? normal(generator) : 0.5 * pick);
  }
  return values;
}

bool same_bits(double left, double right) { return std::bit_cast<std::uint64_t>(left) == std::bit_cast<std::uint64_t>(right); }

}  // namespace

void run_l1_batch_tests() {
  std::mt19937_64 generator(17);
  for (const std::size_t d : {1u, 3u}) {
    const std::size_t n = 90;
    Result<Signal> signal = Signal::create(tie_heavy_values(generator, n * d), n, d);
    Result<L1Cost> cost = L1Cost::fit(*signal);
    CHECK(cost.has_value());
    EndpointBatch batch;
    for (int round = 0; round < 40; ++round) {
      std::uniform_int_distribution<std::uint64_t> end_at(2, n);
      const std::uint64_t end = end_at(generator);
      std::vector<std::uint64_t> starts;
      const std::uint64_t step = 1 + round % 4;
      for (std::uint64_t s = round % 3; s + 1 <= end - 1; s += step) starts.push_back(s);
      if (starts.size() < 2) continue;
      CHECK(cost->endpoint_costs(starts, end, batch).has_value());
      bool identical = batch.size() == starts.size();
      for (std::size_t i = 0; identical && i < starts.size(); ++i) {
        identical = same_bits(batch[i], *cost->segment_cost(starts[i], end));
      }
      CHECK(identical);
    }
    // An invalid start is reported as the one-by-one batch reports it.
    const std::vector<std::uint64_t> bad{0, 5, 7, 7};
    Result<void> failed = cost->endpoint_costs(bad, 7, batch);
    CHECK(!failed.has_value());
    if (!failed.has_value()) CHECK_EQ(failed.error().message(), "invalid segment [7, 7) for a signal of length 90");
    // Unordered starts fall back to the one-by-one batch with the same values.
    const std::vector<std::uint64_t> unordered{30, 2, 10};
    CHECK(cost->endpoint_costs(unordered, 40, batch).has_value());
    CHECK(batch.size() == 3 && same_bits(batch[1], *cost->segment_cost(2, 40)));
  }
}
