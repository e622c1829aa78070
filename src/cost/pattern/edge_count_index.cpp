#include "cost/pattern/edge_count_index.hpp"

#include <bit>

#include "core/fallible_allocation.hpp"

namespace tarnwell {
namespace {
constexpr std::string_view allocating = "allocating a neighbour edge index";
}

std::uint64_t EdgeCountIndex::BitPlane::zeros_before(std::uint64_t position) const noexcept {
  const std::uint64_t word = position / 64, bit = position % 64;
  std::uint64_t ones = ones_before[word];
  if (bit != 0) ones += static_cast<std::uint64_t>(std::popcount(words[word] & ((std::uint64_t{1} << bit) - 1)));
  return position - ones;
}

Result<EdgeCountIndex> EdgeCountIndex::build(const std::vector<std::uint64_t>& lo, const std::vector<std::uint64_t>& hi,
                                             std::uint64_t positions) {
  EdgeCountIndex index;
  const std::uint64_t edges = lo.size();
  index.edges_ = edges;
  // Bits to hold every query bound b <= positions.
  const unsigned bits = static_cast<unsigned>(std::bit_width(positions));
  std::vector<std::uint64_t> values, next;
  TARNWELL_CHECK(try_allocate(allocating, [&] {
    index.first_edge_.assign(positions + 2, 0);
    values.resize(edges);
    next.resize(edges);
    index.planes_.resize(bits);
  }));
  // Counting sort by lo (stable).
  for (std::uint64_t e = 0; e < edges; ++e) ++index.first_edge_[lo[e] + 1];
  for (std::uint64_t p = 1; p < index.first_edge_.size(); ++p) index.first_edge_[p] += index.first_edge_[p - 1];
  {
    std::vector<std::uint64_t> cursor;
    TARNWELL_CHECK(try_allocate(allocating, [&] { cursor.assign(index.first_edge_.begin(), index.first_edge_.end()); }));
    for (std::uint64_t e = 0; e < edges; ++e) values[cursor[lo[e]]++] = hi[e];
  }
  const std::uint64_t words = edges / 64 + 1;
  for (unsigned level = 0; level < bits; ++level) {
    BitPlane& plane = index.planes_[level];
    TARNWELL_CHECK(try_allocate(allocating, [&] {
      plane.words.assign(words, 0);
      plane.ones_before.assign(words, 0);
    }));
    const unsigned shift = bits - 1 - level;
    for (std::uint64_t e = 0; e < edges; ++e) {
      if ((values[e] >> shift) & 1) plane.words[e / 64] |= std::uint64_t{1} << (e % 64);
    }
    std::uint64_t ones = 0;
    for (std::uint64_t w = 0; w < words; ++w) {
      plane.ones_before[w] = ones;
      ones += static_cast<std::uint64_t>(std::popcount(plane.words[w]));
    }
    plane.zeros = edges - ones;
    // Stable partition: zeros of this bit first, for the next plane.
    std::uint64_t zero_slot = 0, one_slot = plane.zeros;
    for (std::uint64_t e = 0; e < edges; ++e) {
      if ((values[e] >> shift) & 1) next[one_slot++] = values[e];
      else next[zero_slot++] = values[e];
    }
    values.swap(next);
  }
  return index;
}

std::uint64_t EdgeCountIndex::count_within(std::uint64_t a, std::uint64_t b) const noexcept {
  if (a >= b) return 0;
  // Edges with lo >= a sit at [first_edge_[a], edges_); count their hi below b.
  std::uint64_t left = first_edge_[a], right = edges_, below = 0;
  const unsigned bits = static_cast<unsigned>(planes_.size());
  for (unsigned level = 0; level < bits && left < right; ++level) {
    const BitPlane& plane = planes_[level];
    const std::uint64_t left_zeros = plane.zeros_before(left), right_zeros = plane.zeros_before(right);
    if ((b >> (bits - 1 - level)) & 1) {
      below += right_zeros - left_zeros;
      left = plane.zeros + (left - left_zeros);
      right = plane.zeros + (right - right_zeros);
    } else {
      left = left_zeros;
      right = right_zeros;
    }
  }
  return below;
}

}  // namespace tarnwell
