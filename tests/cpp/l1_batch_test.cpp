// The L1 endpoint batch keeps each column sorted across the nested segments of
// one batch instead of sorting every segment, and takes the longer segments
// from the median index; its values must be bit-identical to segment_cost's,
// and its failures those of the one-by-one batch. Python reaches the batch
// only through the searches, which hide the values. The index itself must
// give the sorted segment's value whenever it answers, and must decline when
// a node's range dwarfs the segment's deviations.
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "check.hpp"
#include "cost/l1/l1_cost.hpp"
#include "cost/l1/median_deviation_index.hpp"
#include "cost/l1/median_index_switch.hpp"

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

// Unit noise with rare outliers up to 1e12, on an offset of 1e6.
std::vector<double> heavy_tailed_values(std::mt19937_64& generator, std::size_t count) {
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> rare(0, 40);
  std::vector<double> values(count);
  for (double& value : values) value = 1e6 + normal(generator) * (rare(generator) == 0 ? 1e12 : 1.0);
  return values;
}

bool same_bits(double left, double right) { return std::bit_cast<std::uint64_t>(left) == std::bit_cast<std::uint64_t>(right); }

void check_batches_against_segments(const L1Cost& cost, std::size_t n, std::mt19937_64& generator) {
  EndpointBatch batch;
  for (int round = 0; round < 40; ++round) {
    std::uniform_int_distribution<std::uint64_t> end_at(2, n);
    const std::uint64_t end = end_at(generator);
    std::vector<std::uint64_t> starts;
    const std::uint64_t step = 1 + round % 4;
    for (std::uint64_t s = round % 3; s + 1 <= end - 1; s += step) starts.push_back(s);
    if (starts.size() < 2) continue;
    CHECK(cost.endpoint_costs(starts, end, batch).has_value());
    bool identical = batch.size() == starts.size();
    for (std::size_t i = 0; identical && i < starts.size(); ++i) {
      identical = same_bits(batch[i], *cost.segment_cost(starts[i], end));
    }
    CHECK(identical);
  }
}

}  // namespace

void run_l1_batch_tests() {
  std::mt19937_64 generator(17);
  for (const std::size_t d : {1u, 3u}) {
    const std::size_t n = 90;
    Result<Signal> signal = Signal::create(tie_heavy_values(generator, n * d), n, d);
    Result<L1Cost> cost = L1Cost::fit(*signal);
    CHECK(cost.has_value());
    check_batches_against_segments(*cost, n, generator);
    EndpointBatch batch;
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

  // Long heavy-tailed signals: the index answers most segments, declines
  // some, and the batches still match segment_cost with it on and off.
  const std::size_t n = 700;
  const std::vector<double> values = heavy_tailed_values(generator, n);
  Result<Signal> signal = Signal::create(values, n, 1);
  const Result<L1Cost> indexed = L1Cost::fit(*signal);
  const bool previous = set_l1_median_index_enabled(false);
  const Result<L1Cost> sorted = L1Cost::fit(*signal);
  set_l1_median_index_enabled(previous);
  CHECK(indexed.has_value() && sorted.has_value() && indexed->index_bytes() > 0 && sorted->index_bytes() == 0);
  check_batches_against_segments(*indexed, n, generator);
  check_batches_against_segments(*sorted, n, generator);
  const Result<MedianDeviationIndex> index = MedianDeviationIndex::build(values.data(), n, 1);
  CHECK(index.has_value());
  std::uniform_int_distribution<std::uint64_t> start_at(0, n - 2);
  int answered = 0;
  int declined = 0;
  bool agree = true;
  for (int round = 0; round < 2000; ++round) {
    const std::uint64_t start = start_at(generator);
    const std::uint64_t end = std::uniform_int_distribution<std::uint64_t>(start + 1, n)(generator);
    const std::optional<double> fast = index->deviation_sum(start, end);
    const double expected = *sorted->segment_cost(start, end);
    agree = agree && same_bits(*indexed->segment_cost(start, end), expected);
    if (!fast) {
      ++declined;
      continue;
    }
    ++answered;
    agree = agree && same_bits(*fast, expected);
  }
  CHECK(agree);
  CHECK(answered > 1000 && declined > 0);
}
