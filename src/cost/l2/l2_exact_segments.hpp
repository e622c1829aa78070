// The within-segment sum of squares of one column computed from the samples
// themselves, for the segments whose prefix-sum difference cannot be
// trusted: after a value that dwarfs the rest, the prefix tables hold it in
// every later row, and their differences lose the digits of everything
// smaller. Here no sum ever holds a value from outside the segment.
//
// A segment is cut into at most two partial blocks, summed directly with the
// mean taken first (two passes), and O(log n) aligned runs of whole blocks,
// whose count, mean and sum of squares about the mean are kept in a binary
// tree over the blocks. Partial results are merged pairwise:
//   M = M_a + M_b + (mean_b - mean_a)^2 * n_a n_b / (n_a + n_b),
// every term non-negative, so nothing cancels; the arithmetic is in long
// double, whose wider exponent also keeps a square of a value near the
// largest double finite until the final conversion.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/large_table.hpp"

namespace tarnwell {

class L2ExactSegments {
 public:
  static constexpr std::uint64_t block = 32;
  // Segments this short are summed directly in double.
  static constexpr std::uint64_t short_segment = 64;

  L2ExactSegments() = default;
  // Takes the samples (n x d, row-major) and builds the block tree; may
  // throw std::bad_alloc, for the caller's try_allocate.
  L2ExactSegments(LargeTable<double> samples, std::uint64_t n, std::uint64_t d);

  bool available() const noexcept { return n_ != 0; }
  std::span<const double> samples() const noexcept { return {samples_.data(), samples_.size()}; }

  // The sum of squares about its own mean of whole block `index` (of
  // n / block), one column.
  double block_squares(std::uint64_t index, std::uint64_t column) const noexcept {
    return static_cast<double>(levels_[0][index * d_ + column].squares);
  }

  // Sum over [start, end) of (x - mean)^2 for one column (start < end <= n),
  // rounded once to double (+inf when it exceeds the largest double).
  double column_cost(std::uint64_t start, std::uint64_t end, std::uint64_t column) const noexcept;

 private:
  // The mean is held as a sample of the run (`anchor`) plus the mean's
  // distance from it (`offset`): a level far from zero with fine detail on
  // it then keeps the detail, and two runs' means differ by exactly what
  // their anchors and offsets say.
  struct Moments {
    long double count = 0;
    double anchor = 0;
    long double offset = 0;
    long double squares = 0;  // about the mean
  };
  static void merge(Moments& into, const Moments& next) noexcept;
  double short_column_cost(std::uint64_t start, std::uint64_t end, std::uint64_t column) const noexcept;
  Moments direct(std::uint64_t start, std::uint64_t end, std::uint64_t column) const noexcept;
  Moments node(std::size_t level, std::uint64_t index, std::uint64_t column) const noexcept;

  LargeTable<double> samples_;
  // Level l, node i, column k covers blocks [i 2^l, (i + 1) 2^l): its
  // moments at [l][i * d + k].
  struct Stored {
    double anchor;
    long double offset;
    long double squares;
  };
  std::vector<std::vector<Stored>> levels_;
  std::uint64_t n_ = 0;
  std::uint64_t d_ = 0;
};

}  // namespace tarnwell
