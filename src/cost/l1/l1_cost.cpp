#include "cost/l1/l1_cost.hpp"

#include <algorithm>
#include <cmath>

#include "core/fallible_allocation.hpp"
#include "core/thread_scratch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

struct L1ScratchTag {};

constexpr std::size_t insertion_sort_limit = 20;

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

}  // namespace

Result<L1Cost> L1Cost::fit(const Signal& signal) {
  std::optional<Signal> copy;
  TARNWELL_CHECK(try_allocate("copying the signal", [&] { copy.emplace(signal); }));
  return L1Cost(*std::move(copy));
}

Result<L1Cost> L1Cost::fit(const StridedMatrix& view) {
  TARNWELL_TRY(signal, Signal::copy_from(view));
  return L1Cost(std::move(signal));
}

Result<double> L1Cost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, signal_.n_samples()));
  const std::size_t length = static_cast<std::size_t>(end - start);
  const std::size_t d = static_cast<std::size_t>(signal_.n_features());
  TARNWELL_TRY(column, thread_scratch<L1ScratchTag>(length, "allocating an L1 segment buffer"));
  const double* values = signal_.values().data() + static_cast<std::size_t>(start) * d;
  double total = 0.0;
  for (std::size_t feature = 0; feature < d; ++feature) {
    if (d == 1) {
      std::copy_n(values, length, column.begin());
    } else {
      for (std::size_t t = 0; t < length; ++t) column[t] = values[t * d + feature];
    }
    sort_column(column);
    const double median = column[(length - 1) / 2];
    // Summed in sorted order from -0.0, so the total does not depend on the
    // order of the samples inside the segment.
    double deviation = -0.0;
    for (const double value : column) deviation += std::fabs(value - median);
    total += deviation;
  }
  if (!is_finite_value(total)) return errors::fail(errors::non_finite_objective(total));
  return total;
}

// The segments of one batch share their end and nest: with the starts in
// increasing order, [starts[i], end) is [starts[i + 1], end) plus the samples
// before it. Walking the starts from the last one down, each column is kept
// sorted by inserting the new samples, instead of copying and sorting every
// segment afresh. The sorted column equals what segment_cost sorts (up to the
// order of -0.0 and +0.0, which changes nothing), and the median and the
// deviation sum are taken exactly as there, so every value is bit-identical.
Status L1Cost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
  const std::uint64_t n = signal_.n_samples();
  bool increasing = end <= n;
  for (std::size_t i = 0; increasing && i < starts.size(); ++i) {
    increasing = starts[i] < end && (i == 0 || starts[i - 1] < starts[i]);
  }
  if (!increasing || starts.size() < 2) return generic_endpoint_costs(*this, starts, end, out);

  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  const std::size_t count = starts.size();
  const std::size_t d = static_cast<std::size_t>(signal_.n_features());
  const std::size_t longest = static_cast<std::size_t>(end - starts.front());
  TARNWELL_TRY(column, thread_scratch<L1ScratchTag>(longest, "allocating an L1 segment buffer"));
  double* totals = out.data();
  std::fill_n(totals, count, 0.0);
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
      const double median = column[(size - 1) / 2];
      double deviation = -0.0;
      for (std::size_t p = 0; p < size; ++p) deviation += std::fabs(column[p] - median);
      totals[i] += deviation;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!is_finite_value(totals[i])) return errors::fail(errors::non_finite_objective(totals[i]));
  }
  out.set_size(count);
  return {};
}

}  // namespace tarnwell
