#include "datasets/random_breakpoints.hpp"

#include <algorithm>
#include <cmath>
#include <compare>
#include <numeric>

#include "core/internal_check.hpp"
#include "core/fallible_allocation.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocation_context = "allocating synthetic dataset breakpoints";

// floor(q) as an unsigned count: negative and NaN give 0, and values beyond
// the 64-bit range saturate instead of invoking undefined conversion.
std::uint64_t saturating_floor(double quota) noexcept {
  if (!(quota >= 1.0)) return 0;
  if (quota >= 0x1.0p64) return UINT64_MAX;
  return static_cast<std::uint64_t>(std::floor(quota));
}

// Segment indices by remainder, largest first under the IEEE 754 total order
// (so even a NaN has a fixed place); equal remainders keep the smaller index
// first.
Result<std::vector<std::size_t>> order_by_remainder(const std::vector<double>& remainders) {
  TARNWELL_TRY(order, reserve_buffer<std::size_t>(remainders.size(), allocation_context));
  order.resize(remainders.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t left, std::size_t right) {
    const std::strong_ordering comparison = std::strong_order(remainders[left], remainders[right]);
    if (comparison != std::strong_ordering::equal) return comparison == std::strong_ordering::greater;
    return left < right;
  });
  return order;
}

// Brings the floors to exactly `spare` in total. The usual case is a deficit
// below the segment count: one extra sample for each of the largest
// remainders. Rounding in the float quotas (or quotas that are all NaN) can
// leave a larger deficit, which goes round the order again, or a surplus,
// which is taken back from the smallest remainders first; either way the
// lengths still add up.
void apportion(std::vector<std::uint64_t>& floors, const std::vector<std::size_t>& order, std::uint64_t spare) {
  const std::size_t count = floors.size();
  unsigned __int128 assigned = 0;
  for (const std::uint64_t floor : floors) assigned += floor;
  if (assigned <= spare) {
    const auto deficit = static_cast<std::uint64_t>(spare - assigned);
    const std::uint64_t every_segment = deficit / count;
    const std::uint64_t leading_segments = deficit % count;
    for (std::size_t rank = 0; rank < count; ++rank) {
      floors[order[rank]] += every_segment + (rank < leading_segments ? 1 : 0);
    }
    return;
  }
  // The surplus never exceeds the total assigned, so this ends.
  unsigned __int128 surplus = assigned - spare;
  while (surplus > 0) {
    for (std::size_t rank = count; rank-- > 0 && surplus > 0;) {
      std::uint64_t& floor = floors[order[rank]];
      if (floor > 0) {
        --floor;
        --surplus;
      }
    }
  }
}

}  // namespace

Result<std::vector<std::uint64_t>> draw_breakpoints(DatasetRng& rng, std::uint64_t n_samples,
                                                    std::uint64_t n_bkps) {
  TARNWELL_ASSERT(n_bkps < n_samples, "synthetic breakpoints need fewer changes than samples");
  const std::uint64_t segment_count = n_bkps + 1;
  // Every segment holds one sample by right; the rest are shared out.
  const std::uint64_t spare = n_samples - segment_count;

  TARNWELL_TRY(weights, reserve_buffer<double>(segment_count, allocation_context));
  for (std::uint64_t i = 0; i < segment_count; ++i) weights.push_back(rng.exponential());
  double weight_total = 0.0;
  for (const double weight : weights) weight_total += weight;  // left to right, fixed order

  // Each weight becomes its quota of the spare samples; the floors go to
  // `lengths` and the remainders overwrite the weights, which are not needed
  // afterwards.
  TARNWELL_TRY(lengths, reserve_buffer<std::uint64_t>(segment_count, allocation_context));
  const auto spare_as_float = static_cast<double>(spare);
  for (double& weight : weights) {
    const double quota = (spare_as_float * weight) / weight_total;
    const std::uint64_t floor = saturating_floor(quota);
    lengths.push_back(floor);
    weight = quota - static_cast<double>(floor);
  }
  TARNWELL_TRY(order, order_by_remainder(weights));
  apportion(lengths, order, spare);

  // Lengths become running sums in place: segment i spans its share plus one.
  std::uint64_t end = 0;
  for (std::uint64_t& length : lengths) {
    end += length + 1;
    length = end;
  }
  TARNWELL_ASSERT(end == n_samples, "synthetic segment lengths do not add up to n_samples");
  return lengths;
}

}  // namespace tarnwell
