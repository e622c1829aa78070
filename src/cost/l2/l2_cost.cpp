#include "cost/l2/l2_cost.hpp"

#include "core/error/value_range.hpp"
#include "core/fallible_allocation.hpp"
#include "core/kahan_sum.hpp"
#include "cost/segment_cost.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace tarnwell {

namespace {
constexpr double infinity = std::numeric_limits<double>::infinity();

// A sum of squares that overflows is left to the segments that hold it
// (their costs are not finite, which the searches report); a single square
// that does is refused here, naming the value.
ErrorKind squares_overflow(std::uint64_t row, std::uint64_t column, double deviation) {
  return errors::deviation_overflow(row, column, deviation, "squares");
}
}  // namespace

Result<L2Cost> L2Cost::fit(const Signal& signal) {
  StridedMatrix view;
  view.data = reinterpret_cast<const std::byte*>(signal.values().data());
  view.n_samples = signal.n_samples();
  view.n_features = signal.n_features();
  view.row_stride = static_cast<std::int64_t>(signal.n_features() * sizeof(double));
  view.column_stride = sizeof(double);
  return fit(view);
}

// One feature: the loop below with every running value in registers (the
// general loop keeps them in vectors the table stores may alias), the same
// arithmetic in the same order. Leaves n_samples_ at the row of the first
// non-finite value, or at n + 1 + r when the square of row r overflows, or at n.
void L2Cost::fit_single_column(const StridedMatrix& view, L2Cost& cost, double* samples) {
  const std::uint64_t n = view.n_samples;
  const std::byte* row_at = view.data;
  const std::int64_t stride = view.row_stride;
  double* sum_row = cost.prefix_sums_.data();
  double* square_row = cost.prefix_squares_.data();
  double reference = 0.0;
  double largest = 0.0;
  double magnitudes = 0.0;
  KahanSum sum;
  KahanSum square;
  std::uint64_t row = 0;
  for (; row < n; ++row, row_at += stride) {
    double value;
    std::memcpy(&value, row_at, sizeof value);
    if (!is_finite_value(value)) break;
    samples[row] = value;
    if (row == 0) reference = value;
    const double centred = value - reference;
    const double squared = centred * centred;
    if (!is_finite_value(squared)) {
      row += n + 1;
      break;
    }
    largest = std::max(largest, std::fabs(centred));
    magnitudes += std::fabs(centred);
    sum.add(centred);
    square.add(squared);
    sum_row[row + 1] = sum.sum;
    square_row[row + 1] = square.sum;
  }
  cost.reference_[0] = reference;
  cost.largest_magnitude_[0] = largest;
  cost.magnitude_sum_[0] = magnitudes;
  cost.n_samples_ = row;
  cost.n_features_ = 1;
}

Result<L2Cost> L2Cost::fit(const StridedMatrix& view) {
  const std::uint64_t n = view.n_samples;
  const std::uint64_t d = view.n_features;
  if (!checked_product(n, d)) return errors::fail(errors::numerical_failure("computing signal storage size"));
  const std::optional<std::uint64_t> table_size = n == UINT64_MAX ? std::nullopt : checked_product(n + 1, d);
  if (!table_size) return errors::fail(errors::numerical_failure("allocating L2 prefix statistics"));

  L2Cost cost;
  std::vector<KahanSum> sums;
  std::vector<KahanSum> squares;
  LargeTable<double> samples;
  TARNWELL_CHECK(try_allocate("allocating L2 prefix statistics", [&] {
    samples.resize(n * d);
    cost.reference_.assign(d, 0.0);
    // Every row is written below; the first holds the empty prefix.
    cost.prefix_sums_.resize(*table_size);
    cost.prefix_squares_.resize(*table_size);
    std::fill_n(cost.prefix_sums_.data(), d, 0.0);
    std::fill_n(cost.prefix_squares_.data(), d, 0.0);
    cost.largest_magnitude_.assign(d, 0.0);
    cost.magnitude_sum_.assign(d, 0.0);
    sums.resize(d);
    squares.resize(d);
  }));
  if (d == 1) {
    fit_single_column(view, cost, samples.data());
    if (cost.n_samples_ != n) {
      return errors::fail(cost.n_samples_ < n ? errors::non_finite_signal(cost.n_samples_, 0)
                                              : squares_overflow(cost.n_samples_ - n - 1, 0,
                                                                 samples[cost.n_samples_ - n - 1] - samples[0]));
    }
    TARNWELL_CHECK(cost.keep_samples(std::move(samples)));
    return cost;
  }
  for (std::uint64_t row = 0; row < n; ++row) {
    double* sum_row = cost.prefix_sums_.data() + (row + 1) * d;
    double* square_row = cost.prefix_squares_.data() + (row + 1) * d;
    for (std::uint64_t column = 0; column < d; ++column) {
      const double value = view.at(row, column);
      if (!is_finite_value(value)) return errors::fail(errors::non_finite_signal(row, column));
      samples[row * d + column] = value;
      // Centring on the first sample keeps the sums small when the signal
      // sits far from zero, so the differences of prefix sums stay accurate.
      if (row == 0) cost.reference_[column] = value;
      const double centred = value - cost.reference_[column];
      const double squared = centred * centred;
      if (!is_finite_value(squared)) return errors::fail(squares_overflow(row, column, centred));
      cost.largest_magnitude_[column] = std::max(cost.largest_magnitude_[column], std::fabs(centred));
      // Only a bound: plain summation, rounded up by the users' margins.
      cost.magnitude_sum_[column] += std::fabs(centred);
      sums[column].add(centred);
      squares[column].add(squared);
      sum_row[column] = sums[column].sum;
      square_row[column] = squares[column].sum;
    }
  }
  cost.n_samples_ = n;
  cost.n_features_ = d;
  TARNWELL_CHECK(cost.keep_samples(std::move(samples)));
  return cost;
}

Status L2Cost::keep_samples(LargeTable<double> samples) {
  return try_allocate("allocating L2 prefix statistics", [&] {
    exact_ = L2ExactSegments(std::move(samples), n_samples_, n_features_);
  });
}

// An upper bound on the optimal value of every prefix [0, t) a Pelt search
// with this penalty, minimum segment length and grid step can reach: cut the
// signal into blocks of `block` samples (a multiple of the step, at least the
// minimum length); a prefix ends with whole blocks and a partial one, merged
// into the block before it when too short, whose cost is at most that of the
// two blocks it lies in (a segment's cost only grows with the segment).
double L2Cost::prefix_optimum_bound(double pen, std::uint64_t block) const {
  const std::uint64_t n = n_samples_;
  double blocks = 0.0;
  double widest = 0.0;
  std::uint64_t count = 0;
  for (std::uint64_t start = 0; start < n; start += block) {
    const std::uint64_t end = n - start > block ? start + block : n;
    const std::uint64_t pair_end = n - start > 2 * block ? start + 2 * block : n;
    blocks += segment_cost(start, end).value_or(infinity);
    widest = std::max(widest, segment_cost(start, pair_end).value_or(infinity));
    ++count;
    if (n - start <= block) break;
  }
  return blocks + widest + pen * static_cast<double>(count);
}

// Whether the prefix tables give segment costs to about the rounding the
// search's comparisons allow; the functional pruning costs its starts from
// them. Seen block by block (32 samples, the blocks of the exact moments):
// - a value that dwarfs the rest makes one block's sum of squares about the
//   first sample exceed a typical block's by a factor no ordinary signal
//   reaches (every later row then holds its square, and the differences of
//   later rows lose the digits of the ordinary values);
// - a signal far from its first sample, with detail much finer than that
//   distance, makes a typical block's sum of squares about the first sample
//   dwarf its sum of squares about its own mean: the detail is lost to
//   cancellation in every prefix difference.
// Blocks that hold nothing (a flat stretch) are no measure and are left out.
// Without the exact moments (a state saved before them) the tables are all
// there is.
bool L2Cost::prefix_tables_trusted() const {
  constexpr std::uint64_t block = L2ExactSegments::block;
  constexpr double widest_ratio = 0x1p32;
  constexpr double cancelling_ratio = 0x1p24;
  if (!exact_.available()) return true;
  const std::uint64_t blocks_count = n_samples_ / block;
  const std::uint64_t d = n_features_;
  if (blocks_count == 0) return true;
  try {
    std::vector<double> spread;
    std::vector<double> cancelling;
    spread.reserve(blocks_count);
    cancelling.reserve(blocks_count);
    for (std::uint64_t k = 0; k < d; ++k) {
      spread.clear();
      cancelling.clear();
      double largest = 0.0;
      for (std::uint64_t b = 0; b < blocks_count; ++b) {
        const double squares = prefix_squares_[(b + 1) * block * d + k] - prefix_squares_[b * block * d + k];
        if (!(squares > 0.0)) continue;
        spread.push_back(squares);
        largest = std::max(largest, squares);
        const double own = exact_.block_squares(b, k);
        cancelling.push_back(own > 0.0 ? squares / own : infinity);
      }
      if (spread.empty()) continue;
      const auto middle = static_cast<std::ptrdiff_t>(spread.size() / 2);
      std::nth_element(spread.begin(), spread.begin() + middle, spread.end());
      std::nth_element(cancelling.begin(), cancelling.begin() + middle, cancelling.end());
      if (!(largest <= widest_ratio * spread[middle]) || !(cancelling[middle] <= cancelling_ratio)) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::optional<double> L2Cost::functional_pruning_margin(double pen, std::uint64_t min_size, std::uint64_t jump,
                                                       const TieRule& tie_rule) const {
  if (jump == 0 || min_size == 0) return std::nullopt;
  // The functional pruning costs its starts from the prefix tables; where
  // they cannot be trusted the search keeps the inequality pruning, whose
  // costs come from segment_cost's arithmetic.
  if (!prefix_tables_trusted()) return std::nullopt;
  const std::uint64_t d = n_features_;
  // The optimal values the search can meet lie in [-pen, reach]; the best of
  // a few block lengths is usually within a few percent of the final optimum.
  double reach = infinity;
  for (const std::uint64_t length : {64u, 512u, 4096u}) {
    const std::uint64_t wanted = std::max<std::uint64_t>(length, min_size);
    if (wanted > UINT64_MAX - jump) break;
    const std::uint64_t block = (wanted + jump - 1) / jump * jump;
    reach = std::min(reach, prefix_optimum_bound(pen, block));
    if (block >= n_samples_) break;
  }
  // The stored sums of squares (the prefix sums of squares grow with the
  // position, up to rounding) bound every segment cost.
  double squares = 0.0;
  double magnitudes = 0.0;
  for (std::uint64_t k = 0; k < d; ++k) {
    squares += std::fabs(prefix_squares_[n_samples_ * d + k]);
    magnitudes += largest_magnitude_[k] * magnitude_sum_[k];
  }
  squares *= 1.0 + 0x1p-30;
  const double scale = 1.0 + reach + pen;
  // Two values above the optimum by more than this are never tied, at any
  // end: twice the tie tolerance at the largest optimum, rounded up.
  const double tie = 4.0 * tie_rule.tolerance(scale, 0.0);
  // Distance between a cost the search evaluates and the same cost taken
  // exactly from the stored prefix sums: the clamp of tiny negative terms
  // (up to 2^-46 of the entries subtracted), the rounding of a few operations
  // on the table entries, and one-sample segments, costed 0 although their
  // table difference carries the prefix sums' own rounding (at most twice the
  // largest value times the prefix sums' error, a few units in the last
  // place of the summed magnitudes). Each with a factor of about four, and
  // once per column for several features (plus their compensated sum).
  const double columns = static_cast<double>(d);
  const double cost_error = columns * (0x1p-44 * (1.0 + squares) + 0x1p-48 * magnitudes * (1.0 + 0x1p-30));
  const double value_error = cost_error + 0x1p-50 * scale;
  // The test's own arithmetic on table entries and optimal values: a few
  // operations for one feature, sums over the columns for several.
  const double test_error = (d == 1 ? 0x1p-48 : 0x1p-44 * columns) * (squares + scale);
  const double margin = 2.0 * tie + 8.0 * value_error + test_error;
  if (!is_finite_value(margin)) return std::nullopt;
  return margin;
}

}  // namespace tarnwell
