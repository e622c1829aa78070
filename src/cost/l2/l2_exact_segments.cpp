#include "cost/l2/l2_exact_segments.hpp"

#include <cfloat>
#include <limits>
#include <utility>

#include "core/strided_matrix.hpp"

namespace tarnwell {

L2ExactSegments::L2ExactSegments(LargeTable<double> samples, std::uint64_t n, std::uint64_t d)
    : samples_(std::move(samples)), n_(n), d_(d) {
  std::uint64_t nodes = n / block;
  if (nodes == 0) return;
  levels_.emplace_back(nodes * d);
  for (std::uint64_t i = 0; i < nodes; ++i) {
    for (std::uint64_t k = 0; k < d; ++k) {
      const Moments moments = direct(i * block, (i + 1) * block, k);
      levels_[0][i * d + k] = {moments.anchor, moments.offset, moments.squares};
    }
  }
  for (std::size_t level = 1; (nodes /= 2) != 0; ++level) {
    levels_.emplace_back(nodes * d);
    for (std::uint64_t i = 0; i < nodes; ++i) {
      for (std::uint64_t k = 0; k < d; ++k) {
        Moments merged = node(level - 1, 2 * i, k);
        merge(merged, node(level - 1, 2 * i + 1, k));
        levels_[level][i * d + k] = {merged.anchor, merged.offset, merged.squares};
      }
    }
  }
}

void L2ExactSegments::merge(Moments& into, const Moments& next) noexcept {
  if (into.count == 0) {
    into = next;
    return;
  }
  const long double count = into.count + next.count;
  // The anchors' difference is exact in long double for anchors within
  // eleven binary orders of each other, and within a relative 2^-64 of
  // itself otherwise.
  const long double shift = (static_cast<long double>(next.anchor) - static_cast<long double>(into.anchor)) +
                            (next.offset - into.offset);
  into.offset += shift * (next.count / count);
  into.squares += next.squares + shift * shift * (into.count * next.count / count);
  into.count = count;
}

L2ExactSegments::Moments L2ExactSegments::direct(std::uint64_t start, std::uint64_t end,
                                                 std::uint64_t column) const noexcept {
  Moments moments;
  if (start >= end) return moments;
  moments.count = static_cast<long double>(end - start);
  moments.anchor = samples_[start * d_ + column];
  const long double anchor = moments.anchor;
  long double sum = 0;
  for (std::uint64_t t = start; t < end; ++t) sum += samples_[t * d_ + column] - anchor;
  const long double offset = sum / moments.count;
  // A second pass about the first mean takes out its rounding too.
  long double residual = 0;
  long double squares = 0;
  for (std::uint64_t t = start; t < end; ++t) {
    const long double deviation = (samples_[t * d_ + column] - anchor) - offset;
    residual += deviation;
    squares += deviation * deviation;
  }
  moments.offset = offset + residual / moments.count;
  moments.squares = squares - residual * residual / moments.count;
  if (moments.squares < 0) moments.squares = 0;
  return moments;
}

L2ExactSegments::Moments L2ExactSegments::node(std::size_t level, std::uint64_t index,
                                               std::uint64_t column) const noexcept {
  const Stored& stored = levels_[level][index * d_ + column];
  return {static_cast<long double>(block << level), stored.anchor, stored.offset, stored.squares};
}

double L2ExactSegments::short_column_cost(std::uint64_t start, std::uint64_t end, std::uint64_t column) const noexcept {
  // Two passes in double about the first sample, then about the mean: for a
  // few dozen samples the rounding is a few units in the last place of the
  // result, and the loops are plain double arithmetic.
  const double* values = samples_.data() + start * d_ + column;
  const std::uint64_t length = end - start;
  const double anchor = values[0];
  double sum = 0.0;
  for (std::uint64_t t = 0; t < length; ++t) sum += values[t * d_] - anchor;
  const double offset = sum / static_cast<double>(length);
  double residual = 0.0;
  double squares = 0.0;
  for (std::uint64_t t = 0; t < length; ++t) {
    const double deviation = (values[t * d_] - anchor) - offset;
    residual += deviation;
    squares += deviation * deviation;
  }
  const double result = squares - residual * residual / static_cast<double>(length);
  return result > 0.0 ? result : 0.0;
}

double L2ExactSegments::column_cost(std::uint64_t start, std::uint64_t end, std::uint64_t column) const noexcept {
  if (end - start <= short_segment) {
    const double result = short_column_cost(start, end, column);
    if (is_finite_value(result)) return result;  // else a square beyond the double range: the wide form below
  }
  const std::uint64_t first_block = (start + block - 1) / block;
  const std::uint64_t last_block = end / block;
  Moments total;
  if (first_block >= last_block) {
    total = direct(start, end, column);
  } else {
    total = direct(start, first_block * block, column);
    // Aligned runs of whole blocks, left to right: the left side's runs as
    // found, the right side's in reverse.
    Moments right_runs[64];
    std::size_t right_count = 0;
    std::uint64_t low = first_block;
    std::uint64_t high = last_block;
    for (std::size_t level = 0; low < high; ++level, low /= 2, high /= 2) {
      if (low & 1) merge(total, node(level, low++, column));
      if (high & 1) right_runs[right_count++] = node(level, --high, column);
    }
    while (right_count > 0) merge(total, right_runs[--right_count]);
    merge(total, direct(last_block * block, end, column));
  }
  if (total.squares > static_cast<long double>(DBL_MAX)) return std::numeric_limits<double>::infinity();
  return static_cast<double>(total.squares);
}

}  // namespace tarnwell
