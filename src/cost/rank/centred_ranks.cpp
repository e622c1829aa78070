#include "cost/rank/centred_ranks.hpp"

#include <algorithm>
#include <numeric>

#include "core/fallible_allocation.hpp"
#include "core/interruptible_sort.hpp"
#include "core/interruption.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocation_context = "allocating rank statistics";
constexpr std::size_t insertion_sort_limit = 20;

// Sample indices in ascending order of their values. Values are finite, so
// `<` agrees with the IEEE total order except that -0.0 and +0.0 compare
// equal, and numerically equal values share one run of ranks anyway.
template <class Order>
Status sort_by_value(Order& order, std::span<const double> column) {
  const auto before = [&](std::uint64_t left, std::uint64_t right) { return column[left] < column[right]; };
  if (order.size() <= insertion_sort_limit) {
    for (std::size_t i = 1; i < order.size(); ++i) {
      const std::uint64_t index = order[i];
      std::size_t j = i;
      for (; j > 0 && before(index, order[j - 1]); --j) order[j] = order[j - 1];
      order[j] = index;
    }
    return {};
  }
  return interruptible_sort(order, before);
}

}  // namespace

Result<std::vector<double>> centred_average_ranks(const Signal& signal) {
  const std::uint64_t n = signal.n_samples();
  const std::uint64_t d = signal.n_features();
  const std::span<const double> values = signal.values();
  // The ranks' storage is the signal's size, which Signal has checked.
  TARNWELL_TRY(ranks, filled_buffer<double>(n * d, 0.0, allocation_context));
  TARNWELL_TRY(column, filled_buffer<double>(n, 0.0, allocation_context));
  TARNWELL_TRY(order, filled_buffer<std::uint64_t>(n, 0, allocation_context));
  const double centre = (static_cast<double>(n) + 1.0) / 2.0;
  for (std::uint64_t k = 0; k < d; ++k) {
    TARNWELL_CHECK(check_interruption());
    for (std::uint64_t t = 0; t < n; ++t) column[t] = values[t * d + k];
    std::iota(order.begin(), order.end(), std::uint64_t{0});
    TARNWELL_CHECK(sort_by_value(order, column));
    for (std::uint64_t i = 0; i < n;) {
      TARNWELL_CHECK(check_interruption());
      std::uint64_t j = i + 1;
      while (j < n && column[order[j]] == column[order[i]]) ++j;
      // Positions i .. j - 1 share the average of the 1-based ranks i + 1 .. j.
      const double average = static_cast<double>(i + 1 + j) / 2.0;
      for (std::uint64_t p = i; p < j; ++p) ranks[order[p] * d + k] = average - centre;
      i = j;
    }
  }
  return ranks;
}

}  // namespace tarnwell
