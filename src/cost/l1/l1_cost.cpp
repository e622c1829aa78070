#include "cost/l1/l1_cost.hpp"

#include <algorithm>
#include <cmath>

#include "core/double_double.hpp"
#include "core/fallible_allocation.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/l1/median_index_switch.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

struct L1ScratchTag {};

constexpr std::size_t insertion_sort_limit = 20;
// Segments up to this length are sorted even when an index is there: that is
// about as quick as the index's walk down its levels.
constexpr std::uint64_t sorted_length_limit = 16;
// In an endpoint batch the short segments share one incrementally sorted
// column, so sorting stays the quicker way up to longer segments.
constexpr std::uint64_t suffix_length_limit = 96;

constexpr std::string_view scratch_context = "allocating an L1 segment buffer";

// Ascending sort. The values are finite, so the IEEE total order differs from
// `<` only in putting -0.0 before +0.0; the two are interchangeable here (they
// have the same distance to any median, and a zero median of either sign gives
// the same deviations), so the result is that of the total order.
void sort_column(std::span<double> values) {
  if (values.size() <= insertion_sort_limit) {
    for (std::size_t i = 1; i < values.size(); ++i) {
      const double value = values[i];
      std::size_t j = i;
      for (; j > 0 && value < values[j - 1]; --j) values[j] = values[j - 1];
      values[j] = value;
    }
    return;
  }
  std::sort(values.begin(), values.end());
}

// The deviations of sorted values from their lower median, each exact as a
// double-double, summed in double-double: the result is the correctly
// rounded sum (unless the exact sum lies within about 2^-104 of it from a
// midpoint between doubles), which the median index gives as well, and it
// does not depend on the order of the samples. Every sorted evaluation of a
// segment ends here.
double sorted_deviation(std::span<const double> sorted) {
  const double median = sorted[(sorted.size() - 1) / 2];
  // Four running sums, so that four additions are in flight instead of
  // one waiting on the last (each is exact to about 2^-104 of the
  // magnitudes it adds, all non-negative, as is the total).
  DoubleDoubleSum totals[4];
  const std::size_t size = sorted.size();
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    for (std::size_t lane = 0; lane < 4; ++lane) {
      const DoubleDouble deviation = exact_difference(sorted[i + lane], median);
      totals[lane].add(deviation.hi < 0.0 ? -deviation : deviation);
    }
  }
  for (; i < size; ++i) {
    const DoubleDouble deviation = exact_difference(sorted[i], median);
    totals[0].add(deviation.hi < 0.0 ? -deviation : deviation);
  }
  const DoubleDouble total = (totals[0].sum + totals[1].sum) + (totals[2].sum + totals[3].sum);
  // The leading part is the rounded sum: every addition normalises the pair.
  if (is_finite_value(total.hi)) return total.hi;
  // An overflowing sum: the plain one, so the failure reports it as infinite
  // (the error-free steps would turn it into NaN).
  double plain = 0.0;
  for (const double value : sorted) plain += std::fabs(value - median);
  return plain;
}

}  // namespace

Result<L1Cost> L1Cost::fit(const Signal& signal) {
  std::optional<Signal> copy;
  TARNWELL_CHECK(try_allocate("copying the signal", [&] { copy.emplace(signal); }));
  return with_indexes(*std::move(copy));
}

Result<L1Cost> L1Cost::fit(const StridedMatrix& view) {
  TARNWELL_TRY(signal, Signal::copy_from(view));
  return with_indexes(std::move(signal));
}

Result<L1Cost> L1Cost::with_indexes(Signal signal) {
  L1Cost cost(std::move(signal));
  if (!l1_median_index_enabled()) return cost;
  const std::uint64_t n = cost.signal_.n_samples();
  const std::uint64_t d = cost.signal_.n_features();
  TARNWELL_CHECK(try_allocate("building the L1 median index", [&] { cost.indexes_.reserve(d); }));
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    TARNWELL_TRY(index, MedianDeviationIndex::build(cost.signal_.values().data() + feature, n, d));
    cost.indexes_.push_back(std::move(index));
  }
  return cost;
}

std::uint64_t L1Cost::index_bytes() const noexcept {
  std::uint64_t bytes = 0;
  for (const MedianDeviationIndex& index : indexes_) bytes += index.memory_bytes();
  return bytes;
}

double L1Cost::feature_deviation(std::uint64_t start, std::uint64_t end, std::size_t feature,
                                 std::span<double> column) const {
  const std::size_t length = static_cast<std::size_t>(end - start);
  const std::size_t d = static_cast<std::size_t>(signal_.n_features());
  const double* values = signal_.values().data() + static_cast<std::size_t>(start) * d + feature;
  if (d == 1) {
    std::copy_n(values, length, column.begin());
  } else {
    for (std::size_t t = 0; t < length; ++t) column[t] = values[t * d];
  }
  const std::span<double> segment = column.first(length);
  sort_column(segment);
  return sorted_deviation(segment);
}

// Per feature, the index's answer when it gives one, else the sorted
// segment; the features add up in order either way, so a segment's value
// does not depend on which of its features the index answered.
Result<double> L1Cost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, signal_.n_samples()));
  const std::size_t length = static_cast<std::size_t>(end - start);
  const std::size_t d = static_cast<std::size_t>(signal_.n_features());
  const bool indexed = !indexes_.empty() && end - start > sorted_length_limit;
  std::span<double> column;
  double total = 0.0;
  for (std::size_t feature = 0; feature < d; ++feature) {
    if (indexed) {
      if (const std::optional<double> fast = indexes_[feature].deviation_sum(start, end)) {
        total += *fast;
        continue;
      }
    }
    if (column.empty()) {
      TARNWELL_TRY(scratch, thread_scratch<L1ScratchTag>(length, scratch_context));
      column = scratch;
    }
    total += feature_deviation(start, end, feature, column);
  }
  if (!is_finite_value(total)) return errors::fail(errors::non_finite_objective(total));
  return total;
}

// The segments of one batch share their end and nest: with the starts in
// increasing order, [starts[i], end) is [starts[i + 1], end) plus the samples
// before it. Walking the starts from the last one down, each column is kept
// sorted by inserting the new samples, instead of copying and sorting every
// segment afresh. The sorted column equals what segment_cost sorts (up to the
// order of -0.0 and +0.0, which changes nothing), and the deviation sum is
// taken exactly as there, so every value is bit-identical. Adds to totals[i].
Status L1Cost::add_sorted_suffix(std::span<const std::uint64_t> starts, std::uint64_t end, double* totals) const {
  if (starts.empty()) return {};
  const std::size_t count = starts.size();
  const std::size_t d = static_cast<std::size_t>(signal_.n_features());
  const std::size_t longest = static_cast<std::size_t>(end - starts.front());
  TARNWELL_TRY(column, thread_scratch<L1ScratchTag>(longest, scratch_context));
  const double* values = signal_.values().data();
  for (std::size_t feature = 0; feature < d; ++feature) {
    // The sorted values of [starts[i], end) occupy column[0 .. size).
    std::size_t size = 0;
    std::uint64_t covered = end;
    for (std::size_t i = count; i-- > 0;) {
      for (std::uint64_t t = starts[i]; t < covered; ++t) {
        const double value = values[static_cast<std::size_t>(t) * d + feature];
        double* position = std::upper_bound(column.data(), column.data() + size, value);
        std::copy_backward(position, column.data() + size, column.data() + size + 1);
        *position = value;
        ++size;
      }
      covered = starts[i];
      totals[i] += sorted_deviation(column.first(size));
    }
  }
  return {};
}

// Each segment gets exactly the value segment_cost gives it: the long ones
// from the indexes (sorted when an index declines), the short ones, a suffix
// of the increasing starts, from the incrementally sorted columns.
Status L1Cost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
  const std::uint64_t n = signal_.n_samples();
  bool increasing = end <= n;
  for (std::size_t i = 0; increasing && i < starts.size(); ++i) {
    increasing = starts[i] < end && (i == 0 || starts[i - 1] < starts[i]);
  }
  if (!increasing || starts.size() < 2) return generic_endpoint_costs(*this, starts, end, out);

  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  const std::size_t count = starts.size();
  double* totals = out.data();
  std::fill_n(totals, count, 0.0);
  std::size_t first_short = 0;
  if (!indexes_.empty()) {
    first_short = static_cast<std::size_t>(
        std::partition_point(starts.begin(), starts.end(),
                             [&](std::uint64_t start) { return end - start > suffix_length_limit; }) -
        starts.begin());
    const std::size_t d = static_cast<std::size_t>(signal_.n_features());
    for (std::size_t feature = 0; feature < d; ++feature) {
      const MedianDeviationIndex& index = indexes_[feature];
      for (std::size_t i = 0; i < first_short; ++i) {
        if (const std::optional<double> fast = index.deviation_sum(starts[i], end)) {
          totals[i] += *fast;
          continue;
        }
        TARNWELL_TRY(column, thread_scratch<L1ScratchTag>(static_cast<std::size_t>(end - starts[i]), scratch_context));
        totals[i] += feature_deviation(starts[i], end, feature, column);
      }
    }
  }
  TARNWELL_CHECK(add_sorted_suffix(starts.subspan(first_short), end, totals + first_short));
  for (std::size_t i = 0; i < count; ++i) {
    if (!is_finite_value(totals[i])) return errors::fail(errors::non_finite_objective(totals[i]));
  }
  out.set_size(count);
  return {};
}

}  // namespace tarnwell
