#include "kernel/pair_median.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "kernel/bandwidth.hpp"

namespace tarnwell {
namespace {

constexpr std::uint64_t no_key = UINT64_MAX;  // above every distance's pattern (NaN patterns cannot occur)
constexpr int radix_bits = 16;
constexpr std::size_t radix_buckets = std::size_t{1} << radix_bits;

// Calls visit(key) with the bit pattern of every pair's squared distance.
template <class Visit>
Status for_each_pair_key(const Signal& signal, Visit&& visit) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const double* rows = signal.values().data();
  for (std::uint64_t i = 0; i < n; ++i) {
    TARNWELL_CHECK(check_interruption());
    const double* a = rows + i * d;
    for (std::uint64_t j = i + 1; j < n; ++j) {
      const double* b = rows + j * d;
      double sum = -0.0;
      for (std::uint64_t k = 0; k < d; ++k) {
        const double difference = a[k] - b[k];
        sum += difference * difference;
      }
      visit(std::bit_cast<std::uint64_t>(sum));
    }
  }
  return {};
}

double value_of(std::uint64_t key) noexcept { return std::bit_cast<double>(key); }

// Keys sharing the top `known` bits with `prefix` form the current range.
struct KeyRange {
  std::uint64_t prefix = 0;
  int known = 0;

  bool contains(std::uint64_t key) const noexcept {
    return known == 0 || (key >> (64 - known)) == (prefix >> (64 - known));
  }
  bool below(std::uint64_t key) const noexcept {
    return known != 0 && (key >> (64 - known)) < (prefix >> (64 - known));
  }
};

}  // namespace

Result<double> exact_pair_median(const Signal& signal, PairMedianLimits limits) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t pairs = n % 2 == 0 ? (n / 2) * (n - 1) : n * ((n - 1) / 2);
  if (pairs <= limits.store_all) {
    TARNWELL_TRY(distances, all_pair_distances(signal));
    return median_in_place(distances);
  }
  const std::uint64_t middle = pairs / 2;
  const bool even = pairs % 2 == 0;

  // Narrow the range holding rank `middle` until it can be collected.
  KeyRange range;
  std::uint64_t rank = middle;  // within the range
  std::uint64_t in_range = pairs;
  TARNWELL_TRY(counts, filled_buffer<std::uint64_t>(radix_buckets, 0, "allocating bandwidth distances"));
  while (in_range > limits.collect && range.known < 64) {
    std::fill(counts.begin(), counts.end(), 0);
    const int shift = 64 - range.known - radix_bits;
    TARNWELL_CHECK(for_each_pair_key(signal, [&](std::uint64_t key) {
      if (range.contains(key)) ++counts[(key >> shift) & (radix_buckets - 1)];
    }));
    std::size_t bucket = 0;
    while (rank >= counts[bucket]) rank -= counts[bucket++];
    in_range = counts[bucket];
    range.prefix |= static_cast<std::uint64_t>(bucket) << shift;
    range.known += radix_bits;
  }

  // One more pass: the range's keys (unless they are all one value) and the
  // largest key below the range, which ranks just below a rank-0 median.
  std::vector<std::uint64_t> keys;
  const bool collect = range.known < 64;
  if (collect) TARNWELL_CHECK(try_allocate("allocating bandwidth distances", [&] { keys.reserve(in_range); }));
  std::uint64_t largest_below = no_key;
  TARNWELL_CHECK(for_each_pair_key(signal, [&](std::uint64_t key) {
    if (collect && range.contains(key)) {
      keys.push_back(key);
    } else if (range.below(key) && (largest_below == no_key || key > largest_below)) {
      largest_below = key;
    }
  }));
  std::uint64_t upper = range.prefix;
  std::uint64_t lower = range.prefix;
  if (collect) {
    const auto at = keys.begin() + static_cast<std::ptrdiff_t>(rank);
    std::nth_element(keys.begin(), at, keys.end());
    upper = *at;
    if (rank > 0) lower = *std::max_element(keys.begin(), at);
  }
  if (!even) return value_of(upper);
  if (rank == 0) {
    if (largest_below == no_key) return errors::fail(errors::numerical_failure("computing the lower half of a median"));
    lower = largest_below;
  }
  return (value_of(lower) + value_of(upper)) * 0.5;
}

}  // namespace tarnwell
