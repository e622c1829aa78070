#include "cost/l1/median_deviation_index.hpp"

#include "core/interruptible_sort.hpp"
#include "core/interruption.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "core/double_double.hpp"
#include "core/fallible_allocation.hpp"

namespace tarnwell {
namespace {

// A deviation is at most 2^72 quanta (plus rounding up), a block of 64 at most
// 2^78: the 80 bits of a prefix entry. Indexes beyond 2^31 samples are not
// built (group sums stay below 2^104, where the pair of doubles
// `split_quanta` makes of them is exact).
constexpr int quantum_bits = 72;
constexpr std::uint64_t block_size = 64;
constexpr std::uint64_t largest_indexed = std::uint64_t{1} << 31;
// The error of one double-double step relative to its result, with room.
constexpr double double_double_rounding = 0x1p-103;

// value * 2^k, exact unless the result is subnormal; by a bit pattern when
// 2^k is a normal double, through std::ldexp otherwise.
double scaled(double value, int k) noexcept {
  if (k >= -1022 && k <= 1023) return value * std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
  return std::ldexp(value, k);
}

// The quantum of a child whose values span `width` (finite, not negative):
// 2^(e - 72) for the e with width < 2^e, so that no deviation inside the
// child exceeds 2^72 quanta (its rounding aside). Returns the exponent e - 72.
int quantum_exponent(double width) noexcept {
  const int biased = static_cast<int>(std::bit_cast<std::uint64_t>(width) >> 52);
  if (biased != 0) return biased - 1022 - quantum_bits;
  int exponent = 0;
  std::frexp(width, &exponent);  // subnormal (or zero, whose children have no deviations)
  return exponent - quantum_bits;
}

// An integral double in [0, 2^127) as an integer (the library's conversion
// is a slow call): above 2^63, its top 63 bits shifted into place.
unsigned __int128 wide_integer(double value) noexcept {
  if (value < 0x1p63) return static_cast<std::uint64_t>(value);
  const int shift = static_cast<int>(std::bit_cast<std::uint64_t>(value) >> 52) - 1023 - 62;
  return static_cast<unsigned __int128>(static_cast<std::uint64_t>(scaled(value, -shift))) << shift;
}

// A sum of quanta below 2^104 as high + low exactly (high within an ulp and
// a half of it, the remainder then below 2^53).
DoubleDouble split_quanta(unsigned __int128 quanta) noexcept {
  const auto upper = static_cast<std::uint64_t>(quanta >> 64);
  const auto lower = static_cast<std::uint64_t>(quanta);
  const double high = upper == 0 ? static_cast<double>(lower)
                                 : static_cast<double>(upper) * 0x1p64 + static_cast<double>(lower);
  const auto remainder = static_cast<__int128>(quanta) - static_cast<__int128>(wide_integer(high));
  return {high, static_cast<double>(static_cast<std::int64_t>(remainder))};
}

// ceil(deviation / 2^exponent) for the exact, non-negative deviation
// high + low (|low| at most half an ulp of high), computed without rounding;
// nothing when scaling by the quantum is not exact (subnormal results).
std::optional<unsigned __int128> quanta_of(DoubleDouble deviation, int exponent) noexcept {
  const double high = scaled(deviation.hi, -exponent);
  const double low = scaled(deviation.lo, -exponent);
  if (scaled(high, exponent) != deviation.hi || scaled(low, exponent) != deviation.lo) return std::nullopt;
  if (high >= 0x1p52) {  // an integer, and low a correction of at most 2^20
    return static_cast<unsigned __int128>(static_cast<__int128>(wide_integer(high)) +
                                          static_cast<std::int64_t>(std::ceil(low)));
  }
  // Below 2^52, |low| <= 1/4: the exact fraction + low lies in (-1/4, 5/4).
  const double whole = std::floor(high);
  const DoubleDouble rest = exact_difference(high - whole, -low);
  auto quanta = static_cast<unsigned __int128>(static_cast<std::uint64_t>(whole));
  if (rest.hi > 1.0 || (rest.hi == 1.0 && rest.lo > 0.0)) {
    quanta += 2;
  } else if (rest.hi > 0.0 || (rest.hi == 0.0 && rest.lo > 0.0)) {
    quanta += 1;
  }
  return quanta;
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
  // Samples with their ranks, in one level's order and the next's; each
  // carries its value so the levels read it in sequence.
  struct Ranked {
    double value;
    std::uint64_t rank;
  };
  std::vector<Ranked> current;
  std::vector<Ranked> next;
  TARNWELL_CHECK(try_allocate(context, [&] {
    index.sorted_.resize(n);
    current.resize(n);
    next.resize(n);
  }));
  for (std::uint64_t t = 0; t < n; ++t) next[t] = {values[t * stride], t};
  // By value, equal values (-0.0 and +0.0 among them) by position: every
  // sample gets its own rank.
  TARNWELL_CHECK(interruptible_sort(next, [](const Ranked& left, const Ranked& right) {
    return left.value < right.value || (!(right.value < left.value) && left.rank < right.rank);
  }));
  for (std::uint64_t rank = 0; rank < n; ++rank) {
    index.sorted_[rank] = next[rank].value;
    current[next[rank].rank] = {next[rank].value, rank};
  }
  // A range whose width overflows leaves the index empty: every segment is sorted.
  if (n < 2 || n > largest_indexed || !std::isfinite(index.sorted_[n - 1] - index.sorted_[0])) return index;

  const unsigned level_count = static_cast<unsigned>(std::bit_width(n - 1));
  const std::uint64_t block_count = n / block_size + 1;
  TARNWELL_CHECK(try_allocate(context, [&] { index.levels_.resize(level_count); }));
  const double* sorted = index.sorted_.data();
  for (unsigned depth = 0; depth < level_count; ++depth) {
    TARNWELL_CHECK(check_interruption(depth, level_count));
    const unsigned bit = level_count - 1 - depth;
    Level& level = index.levels_[depth];
    TARNWELL_CHECK(try_allocate(context, [&] {
      level.blocks.resize(block_count);
      if (bit > 1) {
        level.within_low.resize(n + 1);
        level.within_high.resize(n + 1);
      }
    }));
    std::uint64_t zeros = 0;
    for (std::uint64_t block = 0; block < block_count; ++block) {
      const std::uint64_t first = block * block_size;
      const std::uint64_t last = std::min(first + block_size, n);
      std::uint64_t bits = 0;
      for (std::uint64_t p = first; p < last; ++p) bits |= ((current[p].rank >> bit) & 1u) << (p - first);
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
      if ((current[p].rank >> bit) & 1u) {
        next[one_at++] = current[p];
      } else {
        next[zero_at++] = current[p];
      }
    }
    if (bit > 1) {
      // Each sample's deviation from its child's end nearest the rest of
      // the node, in quanta of its child, summed in the next level's order.
      unsigned __int128 running = 0;
      unsigned __int128 in_block = 0;
      for (std::uint64_t p = 0;; ++p) {
        if (p % block_size == 0) {
          TARNWELL_CHECK(check_interruption(depth, level_count));
          level.blocks[p / block_size].quanta_before = running;
          in_block = 0;
        }
        level.within_low[p] = static_cast<std::uint64_t>(in_block);
        level.within_high[p] = static_cast<std::uint16_t>(in_block >> 64);
        if (p == n) break;
        const std::uint64_t rank = next[p].rank;
        const double value = next[p].value;
        const std::uint64_t base = rank >> (bit + 1) << (bit + 1);
        const std::uint64_t mid = base + (std::uint64_t{1} << bit);
        DoubleDouble deviation;
        double width;
        if (rank < mid) {
          const double ref = sorted[std::min(mid, n) - 1];
          deviation = exact_difference(ref, value);
          width = ref - sorted[base];
        } else {
          const double ref = sorted[mid];
          deviation = exact_difference(value, ref);
          width = sorted[child_end(base, bit, n) - 1] - ref;
        }
        const std::optional<unsigned __int128> quanta = quanta_of(deviation, quantum_exponent(width));
        if (!quanta) {  // a range reaching into subnormals: no index
          index.levels_.clear();
          return index;
        }
        in_block += *quanta;
        running += *quanta;
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
  const unsigned __int128 within =
      (static_cast<unsigned __int128>(level.within_high[position]) << 64) | level.within_low[position];
  return level.blocks[position / block_size].quanta_before + within;
}

std::optional<double> MedianDeviationIndex::deviation_sum(std::uint64_t start, std::uint64_t end) const noexcept {
  if (levels_.empty()) return std::nullopt;
  struct Group {
    unsigned __int128 quanta;  // deviations from ref
    int exponent;              // of the quantum
    std::uint64_t count;
    double ref;
    std::uint64_t far_count;  // children of two ranks: samples at the other rank,
    double far;               // and its value
  };
  Group groups[64];
  std::size_t group_count = 0;
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
    Group& group = groups[group_count++];
    group = {0, quantum_exponent(width), group_high - group_low, ref, 0, ref};
    if (bit > 1) {
      group.quanta = quanta_before(level, group_high) - quanta_before(level, group_low);
    } else if (bit == 1) {
      // A child of two ranks (or one): the last level's bits tell how many
      // of the group's samples hold the rank away from ref, the lower one
      // below the median, the upper one above it.
      const Level& last = levels_[depth + 1];
      const std::uint64_t lower = zeros_before(last, group_high) - zeros_before(last, group_low);
      const bool below = base == mid;  // the search went on above the group
      const std::uint64_t far_rank = below ? mid - 2 : mid + 1;
      group.far_count = below ? lower : group.count - lower;
      if (group.far_count != 0) group.far = sorted[far_rank];
    }
  }

  const double median = sorted[base];
  DoubleDoubleSum total;
  double bound = 0.0;
  for (std::size_t g = 0; g < group_count; ++g) {
    const Group& group = groups[g];
    const auto count = static_cast<double>(group.count);
    if (group.quanta != 0) {
      const DoubleDouble quanta = split_quanta(group.quanta);
      const double quanta_high = quanta.hi;
      total.add({scaled(quanta.hi, group.exponent), scaled(quanta.lo, group.exponent)});
      // Rounding every deviation up adds less than a quantum per sample with
      // a non-zero count; a subnormal result rounds once more.
      bound += scaled(std::min(count, quanta_high), group.exponent) + std::numeric_limits<double>::min();
    }
    const DoubleDouble gap =
        group.ref >= median ? exact_difference(group.ref, median) : exact_difference(median, group.ref);
    const DoubleDouble offset = gap * count;
    total.add(offset);
    bound += 0x1p-104 * offset.hi;
    if (group.far_count != 0) {
      const DoubleDouble step = group.ref >= group.far ? exact_difference(group.ref, group.far)
                                                       : exact_difference(group.far, group.ref);
      const DoubleDouble far = step * static_cast<double>(group.far_count);
      total.add(far);
      bound += 0x1p-104 * far.hi;
    }
  }
  // Each addition normalises the pair: its leading part is the rounded sum.
  const double value = total.sum.hi;
  const double remainder = total.sum.lo;
  bound += double_double_rounding * static_cast<double>(3 * group_count + 2) * value;
  if (!std::isfinite(value) || !std::isfinite(remainder) || !std::isfinite(bound)) return std::nullopt;
  if (bound == 0.0) return value;  // every deviation was exactly zero
  // The correctly rounded cost is `value` when the exact cost, within
  // `bound` of value + remainder, lies strictly inside value's rounding
  // interval (the bound doubled for the rounding of this test).
  bound *= 2.0;
  const double half_below = 0.5 * (value - std::nextafter(value, -1.0));
  const double half_above = 0.5 * (std::nextafter(value, std::numeric_limits<double>::infinity()) - value);
  if (remainder - bound > -half_below && remainder + bound < half_above) return value;
  return std::nullopt;
}

std::uint64_t MedianDeviationIndex::memory_bytes() const noexcept {
  std::uint64_t bytes = sorted_.capacity() * sizeof(double) + levels_.capacity() * sizeof(Level);
  for (const Level& level : levels_) {
    bytes += level.blocks.capacity() * sizeof(Block) + level.within_low.capacity() * sizeof(std::uint64_t) +
             level.within_high.capacity() * sizeof(std::uint16_t);
  }
  return bytes;
}

}  // namespace tarnwell
