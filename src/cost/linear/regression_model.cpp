#include "cost/linear/regression_model.hpp"

#include <algorithm>
#include <cmath>

#include "core/fallible_allocation.hpp"
#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "core/thread_scratch.hpp"
#include "cost/linear_algebra/least_squares.hpp"
#include "cost/segment_validation.hpp"

namespace tarnwell {
namespace {

thread_local std::uint64_t fallback_count = 0;

constexpr const char* batch_allocation_context = "allocating a regression endpoint cost batch";

// The normal equations lose about twice the digits the design's conditioning
// costs; below this ratio of the Cholesky factor's extreme diagonal entries
// (a condition number of G above 1e8) the exact solver answers instead. The
// entries are taken relative to their columns' norms (the factor of G with
// unit diagonal), since the factorisation does not care how each column is
// scaled: columns of very different units (an intercept of 1 beside lags of
// a signal measured in 1e-7) are not ill-conditioned for it, and the answer
// and its cost must not depend on the signal's unit.
constexpr double factor_conditioning_limit = 1e-4;
// RSS = T - E cancels when the fit is nearly perfect: a difference within
// this share of the subtracted quantities is rounding, not residual.
constexpr double cancellation_tolerance = 1e-10;

struct BatchWorkspace {
  double* gram;      // p x p, lower triangle: sum of x x^T
  double* cross;     // p x k: sum of x y^T
  double* factor;    // p x p, lower triangle: Cholesky factor of gram
  double* solution;  // p x k
};

struct RegressionScratchTag;
struct SegmentScratchTag;
struct ShiftedRowsTag;

// The residual sum of squares from the normal equations, or false when any
// of the checks says the shortcut cannot be trusted for this segment.
bool normal_equation_rss(const BatchWorkspace& w, double total_squares, std::uint64_t p, std::uint64_t k,
                         double& rss) noexcept {
  if (!is_finite_value(total_squares)) return false;
  for (std::uint64_t i = 0; i < p; ++i) {
    for (std::uint64_t j = 0; j <= i; ++j) {
      if (!is_finite_value(w.gram[i * p + j])) return false;
    }
    for (std::uint64_t c = 0; c < k; ++c) {
      if (!is_finite_value(w.cross[i * k + c])) return false;
    }
  }
  double* const l = w.factor;
  double smallest = 0.0;
  double largest = 0.0;
  for (std::uint64_t j = 0; j < p; ++j) {
    double pivot = w.gram[j * p + j];
    for (std::uint64_t m = 0; m < j; ++m) pivot -= l[j * p + m] * l[j * p + m];
    if (!(pivot > 0.0)) return false;
    const double diagonal = std::sqrt(pivot);
    l[j * p + j] = diagonal;
    const double relative = diagonal / std::sqrt(w.gram[j * p + j]);
    smallest = j == 0 ? relative : std::min(smallest, relative);
    largest = std::max(largest, relative);
    for (std::uint64_t i = j + 1; i < p; ++i) {
      double value = w.gram[i * p + j];
      for (std::uint64_t m = 0; m < j; ++m) value -= l[i * p + m] * l[j * p + m];
      l[i * p + j] = value / diagonal;
    }
  }
  if (!(smallest > factor_conditioning_limit * largest)) return false;

  double explained = -0.0;
  for (std::uint64_t c = 0; c < k; ++c) {
    double* const beta = w.solution;
    for (std::uint64_t i = 0; i < p; ++i) {  // L z = B
      double value = w.cross[i * k + c];
      for (std::uint64_t m = 0; m < i; ++m) value -= l[i * p + m] * beta[m * k + c];
      beta[i * k + c] = value / l[i * p + i];
    }
    for (std::uint64_t i = p; i-- > 0;) {  // L^T beta = z
      double value = beta[i * k + c];
      for (std::uint64_t m = i + 1; m < p; ++m) value -= l[m * p + i] * beta[m * k + c];
      beta[i * k + c] = value / l[i * p + i];
    }
  }
  for (std::uint64_t i = 0; i < p; ++i) {
    for (std::uint64_t c = 0; c < k; ++c) explained += w.cross[i * k + c] * w.solution[i * k + c];
  }
  if (!is_finite_value(explained)) return false;
  const double value = total_squares - explained;
  // Relative to the subtracted quantities only: a floor in absolute units
  // would send every segment of a signal in small units to the exact solver.
  const double tolerance = std::max(std::fabs(explained), std::fabs(total_squares)) * cancellation_tolerance;
  if (!(is_finite_value(value) && value > tolerance)) return false;
  rss = value;
  return true;
}

}  // namespace

std::uint64_t regression_batch_fallback_count() noexcept { return fallback_count; }

Result<RegressionModel> RegressionModel::create(std::vector<double> design, std::uint64_t p,
                                                std::vector<double> response, std::uint64_t k) {
  const std::uint64_t design_rows = p == 0 ? 0 : design.size() / p;
  const std::uint64_t response_rows = k == 0 ? 0 : response.size() / k;
  if (design_rows != response_rows) {
    return errors::fail(errors::sample_count_mismatch(response_rows, design_rows));
  }
  RegressionModel model;
  model.design_ = std::move(design);
  model.response_ = std::move(response);
  model.n_rows_ = design_rows;
  model.p_ = p;
  model.k_ = k;
  double squares = 0.0;
  for (const double value : model.response_) squares += value * value;
  const double mean = design_rows == 0 ? 0.0 : squares / static_cast<double>(design_rows);
  model.value_scale_ = std::isfinite(mean) ? mean : 0.0;
  // Unshifted rows until fit_checkpoints says otherwise.
  TARNWELL_CHECK(try_allocate("allocating regression checkpoint statistics", [&] {
    model.design_shift_.assign(p, 0.0);
    model.response_shift_.assign(k, 0.0);
  }));
  return model;
}

Result<double> RegressionModel::exact_cost(std::uint64_t start, std::uint64_t end) const {
  return least_squares_residual(design_.data() + start * p_, response_.data() + start * k_, end - start, p_, k_);
}

Status RegressionModel::fit_checkpoints(std::vector<double> design_shift, std::vector<double> response_shift) {
  constexpr const char* context = "allocating regression checkpoint statistics";
  const std::uint64_t p = p_;
  const std::uint64_t k = k_;
  // p and k fit the signal's storage, so the entry count cannot overflow.
  const std::uint64_t entries = checkpoint_entries();
  checkpoint_stride = std::clamp<std::uint64_t>((entries + 3) / 4, 2, 16);
  const std::uint64_t rows = n_rows_ / checkpoint_stride + 1;
  const std::optional<std::uint64_t> size = checked_product(rows, entries);
  if (!size) return errors::fail(errors::numerical_failure(context));
  std::vector<DoubleDouble> checkpoints;
  std::vector<double> block;
  TARNWELL_CHECK(try_allocate(context, [&] {
    checkpoints.resize(*size);
    block.resize(p * p + p * k);
  }));
  design_shift_ = std::move(design_shift);
  response_shift_ = std::move(response_shift);
  // Each block of rows is summed in plain doubles (as a batch sums its
  // rows) and added to the running totals in double-double precision, so a
  // difference of two checkpoints carries only the rounding of the blocks
  // between them, not of everything before.
  double* gram = block.data();
  double* cross = block.data() + p * p;
  for (std::uint64_t c = 1; c < rows; ++c) {
    std::fill(block.begin(), block.end(), 0.0);
    double squares = 0.0;
    accumulate_rows((c - 1) * checkpoint_stride, c * checkpoint_stride, gram, cross, squares);
    const DoubleDouble* before = checkpoints.data() + (c - 1) * entries;
    DoubleDouble* after = checkpoints.data() + c * entries;
    std::uint64_t e = 0;
    for (std::uint64_t i = 0; i < p; ++i) {
      for (std::uint64_t j = 0; j <= i; ++j, ++e) after[e] = before[e] + DoubleDouble{gram[i * p + j], 0.0};
    }
    for (std::uint64_t i = 0; i < p * k; ++i, ++e) after[e] = before[e] + DoubleDouble{cross[i], 0.0};
    after[e] = before[e] + DoubleDouble{squares, 0.0};
  }
  checkpoints_ = std::move(checkpoints);
  return {};
}

void RegressionModel::accumulate_rows(std::uint64_t first, std::uint64_t last, double* gram, double* cross,
                                      double& total_squares) const noexcept {
  const std::uint64_t p = p_;
  const std::uint64_t k = k_;
  const double* design_shift = design_shift_.data();
  const double* response_shift = response_shift_.data();
  constexpr std::uint64_t widest = 64;
  double x[widest];
  double y[widest];
  const bool on_stack = p <= widest && k <= widest;
  for (std::uint64_t row = first; row < last; ++row) {
    const double* design_row = design_.data() + row * p;
    const double* response_row = response_.data() + row * k;
    if (!on_stack) {
      // Wide rows: the shifted values are formed as they are used.
      for (std::uint64_t i = 0; i < p; ++i) {
        const double xi = design_row[i] - design_shift[i];
        for (std::uint64_t j = 0; j <= i; ++j) gram[i * p + j] += xi * (design_row[j] - design_shift[j]);
        for (std::uint64_t c = 0; c < k; ++c) cross[i * k + c] += xi * (response_row[c] - response_shift[c]);
      }
      double row_squares = -0.0;
      for (std::uint64_t c = 0; c < k; ++c) {
        const double yc = response_row[c] - response_shift[c];
        row_squares += yc * yc;
      }
      total_squares += row_squares;
      continue;
    }
    for (std::uint64_t i = 0; i < p; ++i) x[i] = design_row[i] - design_shift[i];
    for (std::uint64_t c = 0; c < k; ++c) y[c] = response_row[c] - response_shift[c];
    for (std::uint64_t i = 0; i < p; ++i) {
      const double xi = x[i];
      double* gram_row = gram + i * p;
      for (std::uint64_t j = 0; j <= i; ++j) gram_row[j] += xi * x[j];
      double* cross_row = cross + i * k;
      for (std::uint64_t c = 0; c < k; ++c) cross_row[c] += xi * y[c];
    }
    double row_squares = -0.0;
    for (std::uint64_t c = 0; c < k; ++c) row_squares += y[c] * y[c];
    total_squares += row_squares;
  }
}

Result<double> RegressionModel::shifted_exact_cost(std::uint64_t start, std::uint64_t end) const {
  const bool shifted = std::any_of(design_shift_.begin(), design_shift_.end(), [](double v) { return v != 0.0; }) ||
                       std::any_of(response_shift_.begin(), response_shift_.end(), [](double v) { return v != 0.0; });
  if (!shifted) return exact_cost(start, end);
  const std::uint64_t rows = end - start;
  const std::optional<std::uint64_t> size = checked_product(rows, p_ + k_);
  if (!size) return errors::fail(errors::numerical_failure("solving a least-squares segment model"));
  TARNWELL_TRY(scratch, (thread_scratch<ShiftedRowsTag>(*size, "allocating a least-squares segment copy")));
  double* design = scratch.data();
  double* response = scratch.data() + rows * p_;
  for (std::uint64_t r = 0; r < rows; ++r) {
    const double* x = design_.data() + (start + r) * p_;
    const double* y = response_.data() + (start + r) * k_;
    for (std::uint64_t i = 0; i < p_; ++i) design[r * p_ + i] = x[i] - design_shift_[i];
    for (std::uint64_t c = 0; c < k_; ++c) response[r * k_ + c] = y[c] - response_shift_[c];
  }
  return least_squares_residual(design, response, rows, p_, k_);
}

void RegressionModel::range_sums(std::uint64_t start, std::uint64_t end, double* gram, double* cross,
                                 double& total_squares) const noexcept {
  const std::uint64_t p = p_;
  const std::uint64_t block = p * k_;
  total_squares = 0.0;
  const std::uint64_t first = (start + checkpoint_stride - 1) / checkpoint_stride;
  const std::uint64_t last = end / checkpoint_stride;
  if (!checkpoints_.empty() && first < last) {
    // Interior blocks from the checkpoints, the few rows beyond them directly.
    const std::uint64_t entries = checkpoint_entries();
    const DoubleDouble* low = checkpoints_.data() + first * entries;
    const DoubleDouble* high = checkpoints_.data() + last * entries;
    std::uint64_t e = 0;
    for (std::uint64_t i = 0; i < p; ++i) {
      for (std::uint64_t j = 0; j <= i; ++j, ++e) gram[i * p + j] = (high[e] - low[e]).value();
    }
    for (std::uint64_t i = 0; i < block; ++i, ++e) cross[i] = (high[e] - low[e]).value();
    total_squares = (high[e] - low[e]).value();
    accumulate_rows(start, first * checkpoint_stride, gram, cross, total_squares);
    accumulate_rows(last * checkpoint_stride, end, gram, cross, total_squares);
  } else {
    std::fill(gram, gram + p * p, 0.0);
    std::fill(cross, cross + block, 0.0);
    accumulate_rows(start, end, gram, cross, total_squares);
  }
}

Result<double> RegressionModel::segment_cost(std::uint64_t start, std::uint64_t end) const {
  if (checkpoints_.empty()) return exact_cost(start, end);
  const std::uint64_t p = p_;
  const std::uint64_t k = k_;
  const std::uint64_t square = p * p;
  const std::uint64_t block = p * k;
  // Within the sizes fit_checkpoints accepted.
  TARNWELL_TRY(scratch, (thread_scratch<SegmentScratchTag>(2 * (square + block), "allocating a regression segment workspace")));
  const BatchWorkspace w{scratch.data(), scratch.data() + square, scratch.data() + square + block,
                         scratch.data() + 2 * square + block};
  double total_squares = 0.0;
  range_sums(start, end, w.gram, w.cross, total_squares);
  double rss = 0.0;
  if (normal_equation_rss(w, total_squares, p, k, rss)) return rss;
  return shifted_exact_cost(start, end);
}

Status RegressionModel::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                       std::uint64_t minimum, EndpointBatch& out) const {
  // Sums are reused from one start to the next smaller one, so the starts
  // must come strictly increasing.
  for (std::size_t i = 1; i < starts.size(); ++i) {
    if (starts[i - 1] >= starts[i]) {
      return errors::fail(errors::numerical_failure("evaluating an unordered endpoint cost batch"));
    }
  }
  if (!out.prepare(starts.size())) return errors::fail(errors::allocation_failed(batch_allocation_context));

  const std::uint64_t p = p_;
  const std::uint64_t k = k_;
  // One workspace for the whole batch: G and its factor (p x p), B and the
  // solution (p x k).
  const std::optional<std::uint64_t> square = checked_product(p, p);
  const std::optional<std::uint64_t> block = checked_product(p, k);
  const std::optional<std::uint64_t> half =
      square && block && *square <= UINT64_MAX - *block ? std::optional(*square + *block) : std::nullopt;
  const std::optional<std::uint64_t> total = half ? checked_product(*half, 2) : std::nullopt;
  if (!total) return errors::fail(errors::allocation_failed(batch_allocation_context));
  TARNWELL_TRY(scratch, (thread_scratch<RegressionScratchTag>(*total, batch_allocation_context)));
  const BatchWorkspace w{scratch.data(), scratch.data() + *square, scratch.data() + *half,
                         scratch.data() + *half + *square};
  std::fill(w.gram, w.gram + *square, 0.0);
  std::fill(w.cross, w.cross + *block, 0.0);
  double total_squares = 0.0;

  if (starts.empty()) return {};
  if (minimum == 0) return errors::fail(errors::min_size_zero(0));
  if (end > n_rows_) return errors::fail(errors::invalid_segment(starts.back(), end, n_rows_));

  double* const values = out.data();
  std::uint64_t lowest = end;  // rows lowest .. end - 1 are in the sums
  // Segments longer than a few checkpoint strides come from the checkpoints
  // (the same as segment_cost), the shorter ones from sums running down from
  // the end: either way a segment's cost depends on its start and end only,
  // not on the other starts of the batch, and a long one costs no more than
  // a short one.
  const std::uint64_t accumulated_length = 4 * checkpoint_stride + 8;
  for (std::size_t index = starts.size(); index-- > 0;) {
    const std::uint64_t start = starts[index];
    TARNWELL_CHECK(check_segment(start, end, n_rows_));
    TARNWELL_CHECK(check_segment_length(start, end, minimum));
    if (!checkpoints_.empty() && end - start > accumulated_length) {
      // Every start before this one is longer still, so the running sums
      // are not needed again.
      range_sums(start, end, w.gram, w.cross, total_squares);
    } else {
      // Rows are added last to first; the shifted rows keep the sums small
      // for a signal far from zero.
      for (std::uint64_t row = lowest; row-- > start;) accumulate_rows(row, row + 1, w.gram, w.cross, total_squares);
      lowest = start;
    }
    double rss = 0.0;
    if (!normal_equation_rss(w, total_squares, p, k, rss)) {
      ++fallback_count;
      TARNWELL_TRY(exact, shifted_exact_cost(start, end));
      rss = exact;
    }
    values[index] = rss;
  }
  out.set_size(starts.size());
  return {};
}

}  // namespace tarnwell
