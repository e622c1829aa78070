// One feature's sum of absolute deviations from the lower median of any
// segment, in O(log n) after an O(n log n) build, without reading the
// segment's samples.
//
// The samples are ranked by (value, position), so ranks 0 .. n - 1 are
// distinct and sorted_[rank] is the value of that rank. A wavelet matrix
// over the ranks (one bit per level, most significant first) finds the
// median's rank of a segment level by level: a node is a block of ranks
// sharing their leading bits, and its two children split it at `mid`. On
// the way down, the segment's samples in the child the median is not in form
// a group whose values all lie on one side of the median, and
//   |x - median| = |x - ref| + |ref - median|
// for the value `ref` at the child's end nearest the median. So the cost is a
// sum of non-negative terms (no cancellation at any offset): per group its
// count times |ref - median| and its own deviations from `ref`, which each
// level stores per sample as a whole number of quanta (the exact deviation
// rounded up), the quantum being 2^-72 of the child's value range rounded to
// a power of two. Group sums are exact integer differences of prefix sums, so
// an answer depends only on which ranks the segment holds.
//
// The answer is the correctly rounded cost, the value the sorted evaluation
// gives (core/double_double.hpp): the terms are added in double-double with
// a bound on the quantisation and rounding, and the answer is given only
// when the bound leaves a single double possible. Otherwise (the exact cost
// next to a midpoint between doubles, or a heavy-tailed node whose range
// dwarfs the segment's deviations) the caller sorts the segment.
//
// Children of at most two ranks need no quanta: the last level's bits say
// how many of a group's samples sit at the rank away from `ref`.
//
// Memory: per level, a prefix count of quanta per sample in 10 bytes (none on
// the last two levels) and 32 bytes per 64 samples (the level's bits, their
// running count and the quanta before each block), plus the sorted values:
// 10.5 * ceil(log2 n) - 12 bytes per sample (135 at 10^4, 167 at 10^5, 198
// at 10^6).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/error/error_kind.hpp"
#include "core/large_table.hpp"

namespace tarnwell {

class MedianDeviationIndex {
 public:
  // values[t * stride] for t < n_samples, all finite, n_samples >= 1.
  static Result<MedianDeviationIndex> build(const double* values, std::uint64_t n_samples, std::uint64_t stride);

  // The sum over [start, end) (start < end <= n) of |value - lower median|,
  // or nothing when its rounding bound is not small enough.
  std::optional<double> deviation_sum(std::uint64_t start, std::uint64_t end) const noexcept;

  std::uint64_t memory_bytes() const noexcept;

 private:
  // 64 positions of one level. `bits` and `zeros_before` belong to the
  // level's own order; `quanta_before` to the quanta table, which is in the
  // next level's order (where each child's samples are contiguous).
  struct Block {
    std::uint64_t bits;
    std::uint64_t zeros_before;
    unsigned __int128 quanta_before;
  };
  // Quanta since the block's start at each of the n + 1 positions, split in
  // a low 64 and a high 16 bits (both empty on the last two levels).
  struct Level {
    LargeTable<Block> blocks;  // n / 64 + 1
    LargeTable<std::uint64_t> within_low;
    LargeTable<std::uint16_t> within_high;
    std::uint64_t zeros = 0;
  };

  MedianDeviationIndex() = default;

  std::uint64_t zeros_before(const Level& level, std::uint64_t position) const noexcept;
  unsigned __int128 quanta_before(const Level& level, std::uint64_t position) const noexcept;

  LargeTable<double> sorted_;
  std::vector<Level> levels_;  // empty: the index answers nothing
  std::uint64_t n_samples_ = 0;
};

}  // namespace tarnwell
