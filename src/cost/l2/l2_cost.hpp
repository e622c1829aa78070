// Squared-error cost: the within-segment sum of squared deviations from the
// segment mean, summed over features, from prefix sums in O(d) per segment.
#pragma once

#include "core/saved_state.hpp"
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/kahan_sum.hpp"
#include "core/large_table.hpp"
#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "cost/endpoint_batch.hpp"
#include "cost/generic_endpoint_costs.hpp"
#include "cost/l2/l2_exact_segments.hpp"
#include "cost/segment_validation.hpp"
#include "core/error/error_kind.hpp"
#include "core/tie_rule.hpp"

namespace tarnwell {

// The segment arithmetic is inline: the engines are instantiated per cost
// and call it from their innermost loops.
namespace l2_detail {

// Negative round-off tolerated in one column's term, relative to the largest
// quantity subtracted, where the samples are not at hand: 2^-46.
constexpr double negative_term_tolerance = 1.4210854715202004e-14;

// A term is taken from the prefix tables when it exceeds this fraction of
// the magnitudes its arithmetic subtracts (the stored prefix entries carry
// about one rounding of their own size each, the difference and the mean's
// square a few more): its relative error is then below 2^-30 or so. Below
// it (a short or flat segment far into a long signal, or any segment after
// a value that dwarfs the rest) the term is recomputed from the samples.
constexpr double trusted_fraction = 0x1p-27;

// The within-segment sum of squares of one column from its prefix statistics.
struct ColumnTerm {
  double value;
  enum class Failure : std::uint8_t { none, untrusted } failure;
};

inline ColumnTerm column_term(double square_start, double square_end, double sum_start, double sum_end,
                              double length) noexcept {
  const double sum_delta = sum_end - sum_start;
  const double mean = sum_delta / length;
  const double mean_square = mean * sum_delta;
  const double term = (square_end - square_start) - mean_square;
  const double magnitudes = (square_start + square_end + mean_square) +
                            2.0 * std::fabs(mean) * (std::fabs(sum_start) + std::fabs(sum_end));
  // Also false for NaN and for an infinite term or magnitude.
  if (term > trusted_fraction * magnitudes && term <= DBL_MAX) [[likely]] return {term, ColumnTerm::Failure::none};
  return {term, ColumnTerm::Failure::untrusted};
}

// The prefix arithmetic's own verdict, where the samples are not at hand:
// tiny negative round-off is 0, more is a failure.
inline Result<double> prefix_only_term(double term, double square_start, double square_end, double mean_square) {
  if (!is_finite_value(term)) return errors::fail(errors::non_finite_objective(term));
  if (term >= 0.0) return term;
  const double scale = std::max({1.0, std::fabs(square_start), std::fabs(square_end), std::fabs(mean_square)});
  if (term < -negative_term_tolerance * scale) {
    return errors::fail(errors::numerical_failure("evaluating an L2 segment cost"));
  }
  return 0.0;
}

}  // namespace l2_detail

class L2Cost {
 public:
  // One pass over the values in logical row-major order, from any layout.
  static Result<L2Cost> fit(const StridedMatrix& view);
  static Result<L2Cost> fit(const Signal& signal);

  std::uint64_t n_samples() const noexcept { return n_samples_; }
  std::uint64_t n_features() const noexcept { return n_features_; }
  std::uint64_t min_segment_length() const noexcept { return 1; }
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;

  // The margin by which Pelt's functional pruning must see a start beaten
  // before it drops it, for a search with this penalty, minimum segment
  // length, grid step and tie rule: it covers the tie tolerance at every
  // value the search can reach and the round-off of this cost's own
  // arithmetic (nothing when it is not finite: the search then keeps its
  // inequality pruning). The pruning itself works on the prefix tables below.
  std::optional<double> functional_pruning_margin(double pen, std::uint64_t min_size, std::uint64_t jump,
                                                  const TieRule& tie) const;

  // Row `position` of the prefix tables: d sums (squares) of centred values
  // over samples [0, position).
  const double* prefix_sum_row(std::uint64_t position) const noexcept {
    return prefix_sums_.data() + position * n_features_;
  }
  const double* prefix_square_row(std::uint64_t position) const noexcept {
    return prefix_squares_.data() + position * n_features_;
  }

  // The saved form of the fitted statistics (pickling); restore checks every
  // size against the others and fails on a damaged or inconsistent state.
  void save(StateWriter& out) const;
  static Result<L2Cost> restore(StateReader& in);

 private:
  L2Cost() = default;
  static void fit_single_column(const StridedMatrix& view, L2Cost& cost, double* samples);
  double prefix_optimum_bound(double pen, std::uint64_t block) const;
  // Keeps the fitted samples (n x d) for the segments the prefix tables
  // cannot give to rounding.
  Status keep_samples(LargeTable<double> samples);
  bool prefix_tables_trusted() const;

  std::vector<double> reference_;       // row 0, the centring point of every column
  LargeTable<double> prefix_sums_;     // (n + 1) x d, sums of centred values
  LargeTable<double> prefix_squares_;  // (n + 1) x d, sums of squared centred values
  std::vector<double> largest_magnitude_;  // d: max over samples of |centred value|
  std::vector<double> magnitude_sum_;      // d: sum over samples of |centred value|, a bound on
                                           // the round-off the prefix tables carry
  // The samples and their block moments, for the segments whose prefix
  // difference cannot be trusted (absent in a state saved before they were
  // kept: those segments then take the prefix arithmetic as it is).
  L2ExactSegments exact_;
  std::uint64_t n_samples_ = 0;
  std::uint64_t n_features_ = 0;

  Result<double> settle_column(const l2_detail::ColumnTerm& term, std::uint64_t start, std::uint64_t end,
                               std::uint64_t column) const;
};



// A term the prefix tables cannot give to rounding: from the samples, or,
// without them, the prefix arithmetic's own verdict.
inline Result<double> L2Cost::settle_column(const l2_detail::ColumnTerm& term, std::uint64_t start,
                                            std::uint64_t end, std::uint64_t column) const {
  const std::uint64_t d = n_features_;
  if (exact_.available()) {
    const double value = exact_.column_cost(start, end, column);
    if (!is_finite_value(value)) return errors::fail(errors::non_finite_objective(value));
    return value;
  }
  const double sum_delta = prefix_sums_[end * d + column] - prefix_sums_[start * d + column];
  const double mean_square = (sum_delta / static_cast<double>(end - start)) * sum_delta;
  return l2_detail::prefix_only_term(term.value, prefix_squares_[start * d + column],
                                     prefix_squares_[end * d + column], mean_square);
}

inline Result<double> L2Cost::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  // One sample has no spread; the prefix differences would leave round-off.
  if (end - start == 1) return 0.0;
  const double length = static_cast<double>(end - start);
  const std::uint64_t d = n_features_;
  KahanSum total;
  for (std::uint64_t column = 0; column < d; ++column) {
    const l2_detail::ColumnTerm term =
        l2_detail::column_term(prefix_squares_[start * d + column], prefix_squares_[end * d + column],
                               prefix_sums_[start * d + column], prefix_sums_[end * d + column], length);
    if (term.failure == l2_detail::ColumnTerm::Failure::none) [[likely]] {
      total.add(term.value);
    } else {
      TARNWELL_TRY(settled, settle_column(term, start, end, column));
      total.add(settled);
    }
  }
  if (!is_finite_value(total.sum)) return errors::fail(errors::non_finite_objective(total.sum));
  return total.sum;
}

inline Status L2Cost::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
  if (n_features_ != 1) return generic_endpoint_costs(*this, starts, end, out);
  // One feature: the same arithmetic as segment_cost (a one-term compensated
  // sum is the term itself) in a single loop without per-segment dispatch.
  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  const bool end_valid = end <= n_samples_;
  const double square_end = end_valid ? prefix_squares_[end] : 0.0;
  const double sum_end = end_valid ? prefix_sums_[end] : 0.0;
  double* values = out.data();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::uint64_t start = starts[i];
    if (!(start < end && end_valid)) [[unlikely]] {
      out.set_size(i);
      return errors::fail(errors::invalid_segment(start, end, n_samples_));
    }
    if (end - start == 1) {
      values[i] = 0.0;
      continue;
    }
    // Lengths stay far below 2^63, where the signed conversion is exact and cheaper.
    const l2_detail::ColumnTerm term =
        l2_detail::column_term(prefix_squares_[start], square_end, prefix_sums_[start], sum_end,
                               static_cast<double>(static_cast<std::int64_t>(end - start)));
    if (term.failure != l2_detail::ColumnTerm::Failure::none) [[unlikely]] {
      const Result<double> settled = settle_column(term, start, end, 0);
      if (!settled) {
        out.set_size(i);
        return errors::fail(settled.error());
      }
      values[i] = *settled;
      continue;
    }
    values[i] = term.value;
  }
  out.set_size(starts.size());
  return {};
}

}  // namespace tarnwell
