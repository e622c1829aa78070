// The regression endpoint batch (running normal equations, one Cholesky per
// start) against the exact solver called once per start, on batches of 1000
// starts sharing one end, for 1, 4 and 8 design columns on well-conditioned
// data. The speed-up is the reason the batch exists.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "cost/linear/linear_cost.hpp"

using namespace tarnwell;

namespace {

template <class Call>
double best_seconds(Call&& call, int repetitions) {
  double best = 1e300;
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    call();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main() {
  constexpr std::uint64_t starts_per_batch = 1000;
  constexpr std::uint64_t n = starts_per_batch + 1;
  std::printf("%-4s %-8s %14s %14s %10s %12s\n", "p", "starts", "batch [ms]", "exact [ms]", "speed-up", "max rel diff");
  for (const std::uint64_t p : {1u, 4u, 8u}) {
    const std::uint64_t d = p + 1;
    std::mt19937_64 generator(p);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> values(n * d);
    for (double& value : values) value = normal(generator);
    auto signal = Signal::create(values, n, d);
    auto cost = LinearCost::fit(*signal);
    if (!cost) return 1;
    std::vector<std::uint64_t> starts(starts_per_batch);
    for (std::uint64_t i = 0; i < starts_per_batch; ++i) starts[i] = i;
    EndpointBatch out;
    std::vector<double> exact(starts_per_batch);
    bool ok = true;
    const double batch_seconds = best_seconds([&] { ok = ok && cost->endpoint_costs(starts, n, out).has_value(); }, 5);
    const double exact_seconds = best_seconds(
        [&] {
          for (std::uint64_t i = 0; i < starts_per_batch; ++i) {
            auto value = cost->segment_cost(starts[i], n);
            ok = ok && value.has_value();
            exact[i] = value ? *value : 0.0;
          }
        },
        2);
    if (!ok) return 1;
    double worst = 0.0;
    for (std::uint64_t i = 0; i < starts_per_batch; ++i) {
      worst = std::max(worst, std::abs(out[i] - exact[i]) / std::max(1.0, std::abs(exact[i])));
    }
    std::printf("%-4llu %-8llu %14.3f %14.3f %9.1fx %12.2e\n", static_cast<unsigned long long>(p),
                static_cast<unsigned long long>(starts_per_batch), batch_seconds * 1e3, exact_seconds * 1e3,
                exact_seconds / batch_seconds, worst);
  }
  return 0;
}
