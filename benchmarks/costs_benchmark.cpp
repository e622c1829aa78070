// Segment costs of the L1, Rank, Normal and Mahalanobis models: nanoseconds per
// segment_cost call for d = 1, 5, 20, heap allocations per call (counted by a
// replaced operator new, after a warm-up call), and bare baselines: an Eigen
// Cholesky / product of the same size for Normal and Mahalanobis at d = 5, and
// copy + std::sort + sum for an L1 segment of 1000 samples.
#include <Eigen/Dense>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "cost/l1/l1_cost.hpp"
#include "cost/mahalanobis/mahalanobis_cost.hpp"
#include "cost/normal/normal_cost.hpp"
#include "cost/rank/rank_cost.hpp"

namespace {
std::atomic<std::uint64_t> allocation_count{0};
}

void* operator new(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

using namespace tarnwell;

namespace {

volatile double sink = 0.0;

std::vector<double> random_values(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> values(count);
  for (double& value : values) value = normal(generator);
  return values;
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

struct Measure {
  double ns_per_call;
  double allocations_per_call;
};

// Calls segment_cost on `calls` segments of length `length` at varying starts.
template <class Cost>
Measure measure_segments(const Cost& cost, std::uint64_t length, int calls) {
  const std::uint64_t n = cost.n_samples();
  auto start_of = [&](int i) { return (static_cast<std::uint64_t>(i) * 7919u) % (n - length + 1); };
  sink = *cost.segment_cost(start_of(0), start_of(0) + length);  // warm-up sizes the scratch
  const std::uint64_t before = allocation_count.load();
  const double seconds = best_seconds(5, [&] {
    double total = 0.0;
    for (int i = 0; i < calls; ++i) {
      const std::uint64_t start = start_of(i);
      total += *cost.segment_cost(start, start + length);
    }
    sink = total;
  });
  const double allocations = static_cast<double>(allocation_count.load() - before) / (5.0 * calls);
  return {seconds * 1e9 / calls, allocations};
}

Signal make_signal(std::size_t n, std::size_t d, std::uint64_t seed) {
  return *Signal::create(random_values(n * d, seed), n, d);
}

// Bare Eigen: the covariance step (scale, add the ridge) and LLT of a d x d
// matrix, with its log-determinant.
double bare_cholesky_ns(std::size_t d, int calls) {
  const std::vector<double> values = random_values(20 * d, 3);
  Eigen::MatrixXd data = Eigen::Map<const Eigen::MatrixXd>(values.data(), 20, static_cast<Eigen::Index>(d));
  const Eigen::MatrixXd centred = data.rowwise() - data.colwise().mean();
  const Eigen::MatrixXd scatter = centred.transpose() * centred;
  Eigen::MatrixXd covariance(d, d);
  Eigen::LLT<Eigen::MatrixXd> factor(static_cast<Eigen::Index>(d));
  const double seconds = best_seconds(5, [&] {
    double total = 0.0;
    for (int i = 0; i < calls; ++i) {
      covariance = scatter / (19.0 + (i & 1));
      covariance.diagonal().array() += 1e-6;
      factor.compute(covariance);
      total += 2.0 * factor.matrixLLT().diagonal().array().log().sum();
    }
    sink = total;
  });
  return seconds * 1e9 / calls;
}

// Bare Eigen: trace of the product of two d x d matrices.
double bare_product_ns(std::size_t d, int calls) {
  const std::vector<double> values = random_values(2 * d * d, 4);
  const auto size = static_cast<Eigen::Index>(d);
  const Eigen::MatrixXd metric = Eigen::Map<const Eigen::MatrixXd>(values.data(), size, size);
  Eigen::MatrixXd scatter = Eigen::Map<const Eigen::MatrixXd>(values.data() + d * d, size, size);
  Eigen::MatrixXd product(size, size);
  const double seconds = best_seconds(5, [&] {
    double total = 0.0;
    for (int i = 0; i < calls; ++i) {
      scatter(0, 0) += 1e-9;
      product.noalias() = metric * scatter;
      total += product.trace();
    }
    sink = total;
  });
  return seconds * 1e9 / calls;
}

// Bare L1 of one column: copy, std::sort, median, sum of deviations.
double bare_l1_ns(const std::vector<double>& values, std::size_t length, int calls) {
  std::vector<double> buffer(length);
  const std::size_t n = values.size();
  const double seconds = best_seconds(5, [&] {
    double total = 0.0;
    for (int i = 0; i < calls; ++i) {
      const std::size_t start = (static_cast<std::size_t>(i) * 7919u) % (n - length + 1);
      std::copy_n(values.data() + start, length, buffer.data());
      std::sort(buffer.begin(), buffer.end());
      const double median = buffer[(length - 1) / 2];
      double deviation = 0.0;
      for (const double value : buffer) deviation += std::fabs(value - median);
      total += deviation;
    }
    sink = total;
  });
  return seconds * 1e9 / calls;
}

}  // namespace

int main() {
  const std::size_t n = 5000;
  std::printf("segment_cost per call (n = %zu; L1 segments of 100 samples, the others any length)\n", n);
  std::printf("%-12s %4s %12s %12s\n", "model", "d", "ns/call", "allocs/call");
  for (const std::size_t d : {1u, 5u, 20u}) {
    const Signal signal = make_signal(n, d, 11 + d);
    const int calls = d == 20 ? 20000 : 100000;
    const L1Cost l1 = *L1Cost::fit(signal);
    const RankCost rank = *RankCost::fit(signal);
    const NormalCost normal = *NormalCost::fit(signal, 1e-6);
    const MahalanobisCost mahalanobis = *MahalanobisCost::fit(signal, std::nullopt);
    const Measure results[] = {measure_segments(l1, 100, calls / 10), measure_segments(rank, 100, calls),
                               measure_segments(normal, 100, calls), measure_segments(mahalanobis, 100, calls)};
    const char* names[] = {"l1", "rank", "normal", "mahalanobis"};
    for (int i = 0; i < 4; ++i) {
      std::printf("%-12s %4zu %12.1f %12.3f\n", names[i], d, results[i].ns_per_call, results[i].allocations_per_call);
    }
  }

  std::printf("\nagainst bare baselines\n");
  std::printf("%-34s %12s %12s %8s\n", "case", "ns/call", "bare_ns", "ratio");
  {
    const Signal signal = make_signal(n, 5, 16);
    const NormalCost normal = *NormalCost::fit(signal, 1e-6);
    const MahalanobisCost mahalanobis = *MahalanobisCost::fit(signal, std::nullopt);
    const double normal_ns = measure_segments(normal, 100, 200000).ns_per_call;
    const double cholesky_ns = bare_cholesky_ns(5, 200000);
    std::printf("%-34s %12.1f %12.1f %8.2f\n", "normal d=5 vs Eigen LLT", normal_ns, cholesky_ns,
                normal_ns / cholesky_ns);
    const double mahalanobis_ns = measure_segments(mahalanobis, 100, 200000).ns_per_call;
    const double product_ns = bare_product_ns(5, 200000);
    std::printf("%-34s %12.1f %12.1f %8.2f\n", "mahalanobis d=5 vs Eigen product", mahalanobis_ns, product_ns,
                mahalanobis_ns / product_ns);
  }
  {
    const std::vector<double> values = random_values(20000, 21);
    const Signal signal = *Signal::create(values, values.size(), 1);
    const L1Cost l1 = *L1Cost::fit(signal);
    const double l1_ns = measure_segments(l1, 1000, 5000).ns_per_call;
    const double bare_ns = bare_l1_ns(values, 1000, 5000);
    std::printf("%-34s %12.1f %12.1f %8.2f\n", "l1 1000 samples vs copy+sort+sum", l1_ns, bare_ns, l1_ns / bare_ns);
  }
  return 0;
}
