#include "cost/l1/median_deviation_index.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "core/fallible_allocation.hpp"
#include "core/kahan_sum.hpp"

namespace tarnwell {
namespace {

constexpr int quantum_bits = 56;
constexpr std::uint64_t block_size = 64;
// An answer is given when its rounding bound is at most this share of it.
constexpr double accepted_relative_error = 0x1p-46;
// One conversion, product or difference of doubles, with room to spare (4u).
constexpr double rounding = 0x1p-51;

// value * 2^k, exact unless the result is subnormal; by a bit pattern when
// 2^k is a normal double, through std::ldexp otherwise.
double scaled(double value, int k) noexcept {
  if (k >= -1022 && k <= 1023) return value * std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
  return std::ldexp(value, k);
}

// The quantum of a child whose values span `width` (finite, not negative):
// 2^(e - 56) for the e with width < 2^e, so that no deviation inside the
// child exceeds 2^56 quanta. Returns the exponent e - 56.
int quantum_exponent(double width) noexcept {
  const int biased = static_cast<int>(std::bit_cast<std::uint64_t>(width) >> 52);
  if (biased != 0) return biased - 1022 - quantum_bits;
  int exponent = 0;
  std::frexp(width, &exponent);  // subnormal (or zero, whose children have no deviations)
  return exponent - quantum_bits;
}

std::uint64_t child_end(std::uint64_t base, unsigned bit, std::uint64_t n) noexcept {
  const std::uint64_t end = base + (std::uint64_t{2} << bit);
  return end < n ? end : n;
}

}  // namespace

Result<MedianDeviationIndex> MedianDeviationIndex::build(const double* values, std::uint64_t n,
                                                         std::uint64_t stride) {
  constexpr std::string_view context = "building the L1 median index";
  MedianDeviationIndex index;
  index.n_samples_ = n;
  std::vector<std::uint64_t> current;
  std::vector<std::uint64_t> next;
  {
    std::vector<std::pair<double, std::uint64_t>> order;
    TARNWELL_CHECK(try_allocate(context, [&] {
      order.resize(n);
      index.sorted_.resize(n);
      current.resize(n);
      next.resize(n);
    }));
    for (std::uint64_t t = 0; t < n; ++t) order[t] = {values[t * stride], t};
    // By value, equal values (-0.0 and +0.0 among them) by position: every
    // sample gets its own rank.
    std::sort(order.begin(), order.end(), [](const auto& left, const auto& right) {
      return left.first < right.first || (!(right.first < left.first) && left.second < right.second);
    });
    for (std::uint64_t rank = 0; rank < n; ++rank) {
      index.sorted_[rank] = order[rank].first;
      current[order[rank].second] = rank;
    }
  }
  // A range whose width overflows leaves the index empty: every segment is sorted.
  if (n < 2 || !std::isfinite(index.sorted_[n - 1] - index.sorted_[0])) return index;

  const unsigned level_count = static_cast<unsigned>(std::bit_width(n - 1));
  const std::uint64_t block_count = n / block_size + 1;
  TARNWELL_CHECK(try_allocate(context, [&] { index.levels_.resize(level_count); }));
  const double* sorted = index.sorted_.data();
  for (unsigned depth = 0; depth < level_count; ++depth) {
    const unsigned bit = level_count - 1 - depth;
    Level& level = index.levels_[depth];
    TARNWELL_CHECK(try_allocate(context, [&] {
      level.blocks.resize(block_count);
      if (bit > 0) level.within.resize(n + 1);
    }));
    std::uint64_t zeros = 0;
    for (std::uint64_t block = 0; block < block_count; ++block) {
      const std::uint64_t first = block * block_size;
      const std::uint64_t last = std::min(first + block_size, n);
      std::uint64_t bits = 0;
      for (std::uint64_t p = first; p < last; ++p) bits |= ((current[p] >> bit) & 1u) << (p - first);
      level.blocks[block].bits = bits;
      level.blocks[block].zeros_before = zeros;
      level.blocks[block].quanta_before = 0;
      zeros += (last - first) - static_cast<std::uint64_t>(std::popcount(bits));
    }
    level.zeros = zeros;
    // The next level's order: a stable partition, zeros first.
    std::uint64_t zero_at = 0;
    std::uint64_t one_at = zeros;
    for (std::uint64_t p = 0; p < n; ++p) {
      const std::uint64_t rank = current[p];
      if ((rank >> bit) & 1u) {
        next[one_at++] = rank;
      } else {
        next[zero_at++] = rank;
      }
    }
    if (bit > 0) {
      // Each sample's deviation from its child's end nearest the rest of
      // the node, in quanta of its child, summed in the next level's order.
      unsigned __int128 running = 0;
      std::uint64_t in_block = 0;
      for (std::uint64_t p = 0;; ++p) {
        if (p % block_size == 0) {
          level.blocks[p / block_size].quanta_before = running;
          in_block = 0;
        }
        level.within[p] = in_block;
        if (p == n) break;
        const std::uint64_t rank = next[p];
        const std::uint64_t base = rank >> (bit + 1) << (bit + 1);
        const std::uint64_t mid = base + (std::uint64_t{1} << bit);
        double deviation;
        double width;
        if (rank < mid) {
          const double ref = sorted[std::min(mid, n) - 1];
          deviation = ref - sorted[rank];
          width = ref - sorted[base];
        } else {
          const double ref = sorted[mid];
          deviation = sorted[rank] - ref;
          width = sorted[child_end(base, bit, n) - 1] - ref;
        }
        const auto quanta = static_cast<std::uint64_t>(std::ceil(scaled(deviation, -quantum_exponent(width))));
        in_block += quanta;
        running += quanta;
      }
    }
    std::swap(current, next);
  }
  return index;
}

std::uint64_t MedianDeviationIndex::zeros_before(const Level& level, std::uint64_t position) const noexcept {
  const Block& block = level.blocks[position / block_size];
  const unsigned offset = static_cast<unsigned>(position % block_size);
  const std::uint64_t below = offset == 0 ? 0 : block.bits << (block_size - offset);
  return block.zeros_before + offset - static_cast<std::uint64_t>(std::popcount(below));
}

unsigned __int128 MedianDeviationIndex::quanta_before(const Level& level, std::uint64_t position) const noexcept {
  return level.blocks[position / block_size].quanta_before + level.within[position];
}

std::optional<double> MedianDeviationIndex::deviation_sum(std::uint64_t start, std::uint64_t end) const noexcept {
  if (levels_.empty()) return std::nullopt;
  struct Group {
    double deviations;  // from ref
    double count;
    double ref;
  };
  Group groups[64];
  std::size_t group_count = 0;
  double bound = 0.0;
  const std::uint64_t n = n_samples_;
  const double* sorted = sorted_.data();
  const auto level_count = static_cast<unsigned>(levels_.size());
  std::uint64_t low = start;
  std::uint64_t high = end;
  std::uint64_t wanted = (end - start - 1) / 2;  // the median's place among the samples still in range
  std::uint64_t base = 0;                        // first rank of the current node
  for (unsigned depth = 0; depth < level_count; ++depth) {
    const Level& level = levels_[depth];
    const unsigned bit = level_count - 1 - depth;
    const std::uint64_t zeros_low = zeros_before(level, low);
    const std::uint64_t zeros_high = zeros_before(level, high);
    const std::uint64_t zero_count = zeros_high - zeros_low;
    const std::uint64_t mid = base + (std::uint64_t{1} << bit);
    // The group left behind, as a range of the next level's order.
    std::uint64_t group_low;
    std::uint64_t group_high;
    double ref;
    double width;
    if (wanted < zero_count) {
      group_low = level.zeros + (low - zeros_low);
      group_high = level.zeros + (high - zeros_high);
      low = zeros_low;
      high = zeros_high;
      if (group_low == group_high) continue;
      ref = sorted[mid];
      width = sorted[child_end(base, bit, n) - 1] - ref;
    } else {
      group_low = zeros_low;
      group_high = zeros_high;
      wanted -= zero_count;
      low = level.zeros + (low - zeros_low);
      high = level.zeros + (high - zeros_high);
      const std::uint64_t node_base = base;
      base = mid;
      if (group_low == group_high) continue;
      ref = sorted[mid - 1];
      width = ref - sorted[node_base];
    }
    const auto count = static_cast<double>(group_high - group_low);
    double deviations = 0.0;
    if (bit > 0) {
      const unsigned __int128 quanta = quanta_before(level, group_high) - quanta_before(level, group_low);
      if (quanta != 0) {
        const int exponent = quantum_exponent(width);
        const auto whole = static_cast<double>(quanta);
        deviations = scaled(whole, exponent);
        // Rounding every deviation up adds less than a quantum per sample
        // with a non-zero count; a subnormal result rounds once more.
        bound += scaled(std::min(count, whole), exponent) + rounding * deviations +
                 std::numeric_limits<double>::min();
      }
    }
    groups[group_count++] = {deviations, count, ref};
  }
  const double median = sorted[base];
  KahanSum total;
  for (std::size_t g = 0; g < group_count; ++g) {
    const double offset = groups[g].count * std::fabs(median - groups[g].ref);
    total.add(groups[g].deviations);
    total.add(offset);
    bound += rounding * offset;
  }
  const double value = total.sum;
  bound += rounding * value;
  if (!std::isfinite(value) || !(bound <= accepted_relative_error * value)) return std::nullopt;
  return value;
}

std::uint64_t MedianDeviationIndex::memory_bytes() const noexcept {
  std::uint64_t bytes = sorted_.capacity() * sizeof(double) + levels_.capacity() * sizeof(Level);
  for (const Level& level : levels_) {
    bytes += level.blocks.capacity() * sizeof(Block) + level.within.capacity() * sizeof(std::uint64_t);
  }
  return bytes;
}

}  // namespace tarnwell
