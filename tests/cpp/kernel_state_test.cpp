// Kernel state internals Python cannot reach: the streaming endpoint cache,
// the clamp, the Gram memory arithmetic at its overflow edges, and the AVX2
// column update against the scalar one, value for value.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "check.hpp"
#include "kernel/bandwidth.hpp"
#include "kernel/gram_prefix_memory.hpp"
#include "kernel/pair_median.hpp"
#include "kernel/prepare_kernel.hpp"
#include "search/kernel_cpd/fixed_count_relax.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"

using namespace tarnwell;

namespace {

Signal random_signal(std::mt19937_64& generator, std::uint64_t n, std::uint64_t d, bool small_integers) {
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> small(0, 2);
  std::vector<double> values(n * d);
  for (double& value : values) value = small_integers ? small(generator) : normal(generator);
  return *Signal::create(std::move(values), n, d);
}

std::shared_ptr<const KernelGramState> gram_state(const Signal& signal, KernelKind kind, KernelBackend backend) {
  KernelSpec kernel_choice{kind};
  return std::get<std::shared_ptr<const KernelGramState>>(*prepare_kernel(signal, kernel_choice, backend, 1, 1, UINT64_MAX));
}

std::vector<double> batch(const KernelGramState& state, std::uint64_t end) {
  std::vector<std::uint64_t> starts(end);
  std::iota(starts.begin(), starts.end(), 0);
  EndpointBatch out;
  CHECK(state.endpoint_costs(starts, end, out).has_value());
  return {out.values().begin(), out.values().end()};
}

bool same_bits(const std::vector<double>& left, const std::vector<double>& right) {
  return left.size() == right.size() && std::memcmp(left.data(), right.data(), left.size() * sizeof(double)) == 0;
}

void streaming_cache_restarts_for_an_earlier_end() {
  std::mt19937_64 generator(7);
  const Signal signal = random_signal(generator, 100, 2, false);
  for (const KernelKind kind : {KernelKind::rbf_exact_median, KernelKind::linear, KernelKind::cosine}) {
    const auto used = gram_state(signal, kind, KernelBackend::streaming);
    const auto fresh = gram_state(signal, kind, KernelBackend::streaming);
    const auto full = gram_state(signal, kind, KernelBackend::full);
    batch(*used, 80);
    const std::vector<double> after_later_end = batch(*used, 50);
    CHECK(same_bits(after_later_end, batch(*fresh, 50)));
    const std::vector<double> from_table = batch(*full, 50);
    for (std::size_t i = 0; i < from_table.size(); ++i) {
      CHECK(std::fabs(from_table[i] - after_later_end[i]) <= 1e-9 * (1.0 + std::fabs(from_table[i])));
    }
  }
}

void endpoint_batches_validate_before_work() {
  std::mt19937_64 generator(8);
  const Signal signal = random_signal(generator, 10, 1, false);
  for (const KernelBackend backend : {KernelBackend::full, KernelBackend::streaming}) {
    const auto state = gram_state(signal, KernelKind::linear, backend);
    EndpointBatch out;
    const std::vector<std::uint64_t> none;
    CHECK(state->endpoint_costs(none, 11, out).has_value());  // nothing to evaluate
    const std::vector<std::uint64_t> starts{3, 1, 4};
    CHECK_EQ(state->endpoint_costs(starts, 11, out).error().message(), "invalid segment [3, 11) for a signal of length 10");
    CHECK_EQ(state->endpoint_costs(starts, 4, out).error().message(), "invalid segment [4, 4) for a signal of length 10");
    CHECK_EQ(state->segment_cost(5, 5).error().message(), "invalid segment [5, 5) for a signal of length 10");
  }
}

void clamp_and_gram_memory() {
  CHECK(clamp_kernel_cost(-5e-11) == 0.0 && !std::signbit(clamp_kernel_cost(-5e-11)));
  CHECK(clamp_kernel_cost(-1e-9) == -1e-9);
  CHECK(std::isnan(clamp_kernel_cost(std::nan(""))));
  CHECK(*gram_prefix_bytes(999, 8008000) == 8008000);
  CHECK_EQ(gram_prefix_bytes(999, 8007999).error().message(),
           "Gram prefix requires 8008000 bytes, above configured limit 8007999");
  CHECK_EQ(gram_prefix_bytes(std::uint64_t{1} << 32, UINT64_MAX).error().message(),
           "numerical failure while computing Gram prefix dimensions");
  CHECK_EQ(gram_prefix_bytes(UINT64_MAX, UINT64_MAX).error().message(),
           "numerical failure while computing Gram prefix dimensions");
  CHECK_EQ(gram_prefix_bytes(std::uint64_t{1} << 31, UINT64_MAX).error().message(),
           "numerical failure while computing Gram prefix memory");
}

// Whole programmes: breakpoints and optimal value bit for bit, on signals
// with many exact and near ties (small integers) and on noisy ones.
void vector_and_scalar_programmes_agree() {
  std::mt19937_64 generator(9);
  int compared = 0;
  for (int round = 0; round < 60; ++round) {
    const bool ties = round % 2 == 0;
    const std::uint64_t n = 40 + round * 3;
    const Signal signal = random_signal(generator, n, 1 + round % 3, ties);
    const KernelKind kind = round % 3 == 0 ? KernelKind::linear : round % 3 == 1 ? KernelKind::cosine : KernelKind::rbf_exact_median;
    const std::uint64_t min_size = 1 + round % 4;
    const std::uint64_t jump = 1 + round % 3;
    const auto prepared = prepare_kernel(signal, KernelSpec{kind}, KernelBackend::fused, min_size, jump, 0);
    const auto& state = *std::get<std::shared_ptr<const FusedKernelState>>(*prepared);
    for (const std::uint64_t n_bkps : {4u, 5u, 7u, 9u, 13u}) {
      const auto vector_form = run_fused_fixed_count(state, n_bkps, ColumnForm::automatic);
      const auto scalar_form = run_fused_fixed_count(state, n_bkps, ColumnForm::scalar);
      CHECK(vector_form.has_value() == scalar_form.has_value());
      if (!vector_form || !scalar_form) continue;
      CHECK(vector_form->breakpoints == scalar_form->breakpoints);
      CHECK(std::memcmp(&vector_form->cost, &scalar_form->cost, sizeof(double)) == 0);
      ++compared;
    }
  }
  CHECK(compared > 200);
}

// One end's relaxation on identical random tables: every value, predecessor
// and tolerance the same, including columns still at +inf.
void vector_and_scalar_relaxations_agree() {
  std::mt19937_64 generator(10);
  std::uniform_int_distribution<int> level(0, 3);
  std::uniform_real_distribution<double> noise(0.0, 1e-13);
  constexpr double inf = std::numeric_limits<double>::infinity();
  for (int round = 0; round < 200; ++round) {
    const std::uint64_t columns = 5 + round % 11;
    const std::uint64_t n = 60;
    const std::uint64_t first = 1 + round % 3;
    const std::uint64_t jump = round % 2 == 0 ? 1 : 2;
    std::vector<double> values((n + 1) * columns);
    for (double& value : values) value = level(generator) == 0 ? inf : level(generator) + noise(generator);
    std::vector<std::uint64_t> predecessor(values.size(), UINT64_MAX);
    std::vector<double> tolerance(columns, 0.0);
    std::vector<double> diagonal(n + 1), within(n + 1);
    for (std::uint64_t i = 0; i <= n; ++i) {
      diagonal[i] = static_cast<double>(i);
      within[i] = static_cast<double>((n - i) * (n - i)) * (0.5 + 0.1 * level(generator));
    }
    std::vector<double> values_v = values, tolerance_v = tolerance;
    std::vector<std::uint64_t> predecessor_v = predecessor;
    const FixedCountEnd end{n, first * jump, n - 1, jump, diagonal.data(), within.data()};
    relax_end_scalar(FixedCountTables{values.data(), predecessor.data(), tolerance.data(), columns}, end, end.first,
                     nullptr);
    relax_end_avx2(FixedCountTables{values_v.data(), predecessor_v.data(), tolerance_v.data(), columns}, end,
                   end.first, nullptr);
    CHECK(same_bits(values, values_v) && same_bits(tolerance, tolerance_v) && predecessor == predecessor_v);
  }
}

// Radix selection with tiny limits (every path: several rounds, a collected
// bucket, a median at the bottom of its bucket, a range of one repeated value)
// against storing every distance.
void pair_median_without_storing_every_pair() {
  std::mt19937_64 generator(11);
  int compared = 0;
  for (int round = 0; round < 120; ++round) {
    const std::uint64_t n = 2 + round % 37;
    const Signal signal = random_signal(generator, n, 1 + round % 3, round % 3 != 0);
    std::vector<double> distances = *all_pair_distances(signal);
    const double expected = *median_in_place(distances);
    for (const std::uint64_t collect : {0u, 1u, 7u, 64u}) {
      const Result<double> found = exact_pair_median(signal, PairMedianLimits{0, collect});
      CHECK(found.has_value() && *found == expected);
      ++compared;
    }
  }
  const Signal constant = *Signal::create(std::vector<double>(80, 2.5), 40, 2);
  CHECK(*exact_pair_median(constant, PairMedianLimits{0, 4}) == 0.0);
  CHECK(compared == 480);
}

}  // namespace

void run_kernel_state_tests() {
  pair_median_without_storing_every_pair();
  streaming_cache_restarts_for_an_earlier_end();
  endpoint_batches_validate_before_work();
  clamp_and_gram_memory();
  if (cpu_has_avx2()) {
    vector_and_scalar_programmes_agree();
    vector_and_scalar_relaxations_agree();
  } else {
    std::printf("AVX2 not available: vector/scalar comparisons skipped\n");
  }
}
