// The fused fixed-count KernelCPD programme (rbf, 1-D, 5 changes) next to a
// bare loop of the same fold-and-update recursion (no feasibility checks, no
// cost checks, no tie margins, min_size = jump = 1), and the four-column AVX2
// update against the scalar one on the same state.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "kernel/prepare_kernel.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"

using namespace tarnwell;

namespace {

std::vector<double> piecewise_signal(std::size_t n, std::size_t changes, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> values(n);
  double level = 0.0;
  const std::size_t spacing = n / (changes + 1) + 1;
  for (std::size_t t = 0; t < n; ++t) {
    if (t % spacing == 0) level = 3.0 * normal(generator);
    values[t] = level + normal(generator);
  }
  return values;
}

// V[t][k] over all ends and counts; the fold as the library does it.
double bare_fixed_count(const std::vector<double>& x, double gamma, std::size_t n_bkps) {
  const std::size_t n = x.size();
  const std::size_t columns = n_bkps + 1;
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values((n + 1) * columns, inf), within(n + 1, 0.0), diagonal(n + 1, 0.0);
  std::vector<std::uint64_t> predecessor((n + 1) * columns, 0);
  for (std::size_t t = 1; t <= n; ++t) {
    const std::size_t r = t - 1;
    within[r] += 1.0;
    double acc = 1.0;
    for (std::size_t s = r; s-- > 0;) {
      const double difference = x[s] - x[r];
      acc += std::exp(difference * difference * -gamma);
      within[s] = (acc * 2.0 - 1.0) + within[s];
    }
    diagonal[t] = diagonal[r] + 1.0;
    double* row_t = values.data() + t * columns;
    row_t[0] = diagonal[t] - within[0] / static_cast<double>(t);
    for (std::size_t s = 1; s < t; ++s) {
      const double cost = (diagonal[t] - diagonal[s]) - within[s] / static_cast<double>(t - s);
      const double* row_s = values.data() + s * columns;
      const std::size_t k_max = std::min(s, n_bkps);
      for (std::size_t k = 1; k <= k_max; ++k) {
        const double h = row_s[k - 1] + cost;
        if (h < row_t[k]) {
          row_t[k] = h;
          predecessor[t * columns + k] = s;
        }
      }
    }
  }
  return values[n * columns + n_bkps];
}

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Processor time of this thread, not wall time: on a shared machine the wall
// clock mostly measures the other processes.
template <class Run>
double best_seconds(int repetitions, Run&& run) {
  double best = std::numeric_limits<double>::infinity();
  for (int r = 0; r < repetitions; ++r) {
    const double start = thread_seconds();
    run();
    best = std::min(best, thread_seconds() - start);
  }
  return best;
}

std::shared_ptr<const FusedKernelState> fused_state(const std::vector<double>& x, double gamma) {
  auto signal = Signal::create(x, x.size(), 1);
  auto prepared = prepare_kernel(*signal, KernelSpec{KernelKind::rbf_fixed, gamma}, KernelBackend::fused, 1, 1, 0);
  return std::get<std::shared_ptr<const FusedKernelState>>(*prepared);
}

}  // namespace

int main() {
  const double gamma = 0.5;
  std::printf("fused rbf, d = 1, 5 changes, min_size = jump = 1 (best of 3, thread CPU time)\n");
  std::printf("%-8s %10s %10s %8s %10s\n", "n", "fused_ms", "bare_ms", "ratio", "x vs n/2");
  double previous = 0.0;
  for (const std::size_t n : {2000u, 5000u, 10000u, 20000u}) {
    const std::vector<double> x = piecewise_signal(n, 5, 42);
    const auto state = fused_state(x, gamma);
    const int repetitions = n >= 20000 ? 1 : 3;
    double found = 0.0, bare = 0.0;
    const double seconds = best_seconds(repetitions, [&] { found = run_fused_fixed_count(*state, 5)->cost; });
    const double bare_seconds = best_seconds(repetitions, [&] { bare = bare_fixed_count(x, gamma, 5); });
    std::printf("%-8zu %10.1f %10.1f %8.2f", n, seconds * 1e3, bare_seconds * 1e3, seconds / bare_seconds);
    if (previous > 0) std::printf(" %10.2f", seconds / previous);
    std::printf("%s\n", std::fabs(found - bare) <= 1e-9 * std::fabs(bare) ? "" : "  (optima differ)");
    previous = seconds;
  }

  std::printf("\nfour-column AVX2 vs scalar column update, n = 5000, rbf, d = 1 (best of 3)%s\n",
              fused_vector_columns_available() ? "" : " -- AVX2 not available, both scalar");
  std::printf("%-8s %10s %10s %8s\n", "n_bkps", "avx2_ms", "scalar_ms", "speedup");
  const std::vector<double> x = piecewise_signal(5000, 5, 43);
  const auto state = fused_state(x, gamma);
  for (const std::uint64_t n_bkps : {4u, 8u, 16u, 32u, 64u}) {
    const double vector_seconds =
        best_seconds(3, [&] { (void)run_fused_fixed_count(*state, n_bkps, ColumnForm::automatic); });
    const double scalar_seconds =
        best_seconds(3, [&] { (void)run_fused_fixed_count(*state, n_bkps, ColumnForm::scalar); });
    std::printf("%-8llu %10.1f %10.1f %8.2f\n", static_cast<unsigned long long>(n_bkps), vector_seconds * 1e3,
                scalar_seconds * 1e3, scalar_seconds / vector_seconds);
  }
  return 0;
}
