#include "kernel/bandwidth.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/splitmix64.hpp"
#include "core/error/message.hpp"
#include "kernel/pair_median.hpp"

namespace tarnwell {
namespace {

double squared_distance(const double* a, const double* b, std::uint64_t d) noexcept {
  double sum = -0.0;
  for (std::uint64_t k = 0; k < d; ++k) {
    const double difference = a[k] - b[k];
    sum += difference * difference;
  }
  return sum;
}

Result<std::vector<double>> reserve_distances(std::uint64_t count) {
  return reserve_buffer<double>(count, "allocating bandwidth distances");
}

// n (n - 1) / 2 without overflow: halve whichever factor is even.
std::optional<std::uint64_t> pair_count(std::uint64_t n) {
  return n % 2 == 0 ? checked_product(n / 2, n - 1) : checked_product(n, (n - 1) / 2);
}

}  // namespace

Result<std::vector<double>> all_pair_distances(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::optional<std::uint64_t> pairs = pair_count(n);
  if (!pairs) return errors::fail(errors::allocation_failed("allocating bandwidth distances"));
  TARNWELL_TRY(distances, reserve_distances(*pairs));
  const double* rows = signal.values().data();
  for (std::uint64_t i = 0; i < n; ++i) {
    TARNWELL_CHECK(check_interruption());
    for (std::uint64_t j = i + 1; j < n; ++j) distances.push_back(squared_distance(rows + i * d, rows + j * d, d));
  }
  return distances;
}

// Each pair takes two consecutive outputs: i uniform over the rows, j over
// the other rows (an index at or above i shifts up by one), so i != j.
Result<std::vector<double>> sampled_pair_distances(const Signal& signal, std::uint64_t samples, std::uint64_t seed) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  TARNWELL_TRY(distances, reserve_distances(samples));
  std::uint64_t state = seed;
  for (std::uint64_t drawn = 0; drawn < samples; ++drawn) {
    const std::uint64_t i = splitmix64_next(state) % n;
    std::uint64_t j = splitmix64_next(state) % (n - 1);
    if (j >= i) ++j;
    const std::optional<std::span<const double>> first = signal.row(i);
    const std::optional<std::span<const double>> second = signal.row(j);
    if (!first || !second) return errors::fail(errors::numerical_failure("reading a signal row for sampled gamma"));
    distances.push_back(squared_distance(first->data(), second->data(), d));
  }
  return distances;
}

Result<double> median_in_place(std::vector<double>& values) {
  if (values.empty()) return errors::fail(errors::numerical_failure("computing a median from an empty sample"));
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  const double upper = values[middle];
  if (values.size() % 2 == 1) return upper;
  if (middle == 0) return errors::fail(errors::numerical_failure("computing the lower half of a median"));
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) * 0.5;
}

namespace {

// The signal times the power of two 2^-exponent that brings its largest
// per-feature range into [0.5, 1) (exact, barring values far below the range
// that lose low bits), so squared distances neither overflow nor underflow
// whatever the unit; exponent 0 and no copy when the range is already there.
Result<std::optional<Signal>> unit_range_copy(const Signal& signal, int& exponent) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::span<const double> values = signal.values();
  double range = 0.0;
  for (std::uint64_t k = 0; k < d; ++k) {
    double low = values[k];
    double high = values[k];
    for (std::uint64_t i = 1; i < n; ++i) {
      low = std::min(low, values[i * d + k]);
      high = std::max(high, values[i * d + k]);
    }
    range = std::max(range, high - low);  // may be inf when the values span more than the largest double
  }
  exponent = 0;
  if (!(range > 0.0) || !std::isfinite(range)) return std::optional<Signal>();
  std::frexp(range, &exponent);
  if (exponent == 0) return std::optional<Signal>();
  TARNWELL_TRY(scaled, reserve_buffer<double>(values.size(), "allocating bandwidth distances"));
  for (const double value : values) scaled.push_back(std::ldexp(value, -exponent));
  TARNWELL_TRY(copy, Signal::create(std::move(scaled), n, d));
  return std::optional<Signal>(std::move(copy));
}

}  // namespace

Result<double> resolve_gamma(const Signal& original, const KernelSpec& kernel_choice) {
  double gamma = kernel_choice.gamma;
  if (kernel_choice.kind != KernelKind::rbf_fixed) {
    gamma = 1.0;
    if (original.n_samples() > 1) {
      // The median is taken in units where the range is about 1, then
      // brought back to the signal's unit.
      int exponent = 0;
      TARNWELL_TRY(rescaled, unit_range_copy(original, exponent));
      const Signal& signal = rescaled ? *rescaled : original;
      double median = 0.0;
      if (kernel_choice.kind == KernelKind::rbf_exact_median) {
        TARNWELL_TRY(exact, exact_pair_median(signal));
        median = exact;
      } else {
        if (kernel_choice.gamma_samples == 0) return errors::fail(errors::sampled_median_pairs(0));
        // The draws are stored, so their number is checked against the data
        // before anything is allocated: more draws than there are pairs add
        // nothing the exact median would not give.
        const std::optional<std::uint64_t> pairs = pair_count(signal.n_samples());
        if (pairs && kernel_choice.gamma_samples > *pairs) {
          return errors::fail(errors::value_error_text(
              "gamma_samples " + std::to_string(kernel_choice.gamma_samples) + " exceeds the " + std::to_string(*pairs) +
              " pairs of " + std::to_string(signal.n_samples()) +
              " samples; draw at most that many or use gamma_policy=\"exact\""));
        }
        TARNWELL_TRY(sampled, sampled_pair_distances(signal, kernel_choice.gamma_samples, kernel_choice.seed));
        TARNWELL_TRY(sampled_median, median_in_place(sampled));
        median = sampled_median;
      }
      // All rows identical (median 0): any bandwidth gives the same costs.
      if (median > 0.0) {
        gamma = std::ldexp(1.0 / median, -2 * exponent);
        // The kernel is evaluated in the signal's own unit, where 1 / median
        // must be an ordinary double (not 0, subnormal or infinite).
        if (!(gamma >= std::numeric_limits<double>::min()) || !std::isfinite(gamma)) {
          return errors::fail(errors::value_error_text(
              "the rbf bandwidth from the median pairwise squared distance (about " +
              format_plain_float(median) + " * 2^" + std::to_string(2 * exponent) +
              ") cannot be represented at this signal's scale; rescale the signal (for example to unit "
              "variance) or pass gamma"));
        }
      }
    }
  }
  if (!std::isfinite(gamma) || !(gamma > 0.0)) return errors::fail(errors::invalid_gamma(gamma));
  return gamma;
}

}  // namespace tarnwell
