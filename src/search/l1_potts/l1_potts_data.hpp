// The fitted state of the weighted L1-Potts detector: the scalar signal, its
// weights and its levels (the distinct values, increasing). Immutable once
// built; predictions share it through a const handle.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

class L1PottsData {
 public:
  // Checks, in order: one feature, then the weights (length, then each value).
  // Without weights every sample weighs 1.
  static Result<L1PottsData> fit(const Signal& signal, const std::optional<StridedMatrix>& weights);

  std::uint64_t n_samples() const noexcept { return values_.size(); }
  std::uint64_t distinct_levels() const noexcept { return levels_.size(); }
  const std::vector<double>& values() const noexcept { return values_; }
  const std::vector<double>& weights() const noexcept { return weights_; }
  const std::vector<double>& levels() const noexcept { return levels_; }
  // The level of every sample, located once here so that no prediction
  // searches for it. Empty when the levels do not fit 32-bit indices (over
  // 4e9 distinct values: no prediction could hold their flags anyway).
  const std::vector<std::uint32_t>& level_of_samples() const noexcept { return level_of_samples_; }
  // The whole signal as one segment at its weighted median: the scale of the
  // problem's costs, for the tie rule (infinite when it overflows).
  double whole_signal_cost() const noexcept { return whole_signal_cost_; }
  // Bound on every weighted deviation w[i] |level - y[i]|: the largest
  // weight times the span of the levels (the samples are levels themselves).
  double largest_deviation() const noexcept { return largest_deviation_; }
  // Every weight a whole number and their sum below 2^53 (as without
  // weights): every partial sum of weights is then exact.
  bool whole_number_weights() const noexcept { return whole_number_weights_; }

 private:
  L1PottsData(std::vector<double> values, std::vector<double> weights, std::vector<double> levels,
              std::vector<std::uint32_t> level_of_samples)
      : values_(std::move(values)),
        weights_(std::move(weights)),
        levels_(std::move(levels)),
        level_of_samples_(std::move(level_of_samples)) {}

  std::vector<double> values_;
  std::vector<double> weights_;
  std::vector<double> levels_;
  std::vector<std::uint32_t> level_of_samples_;
  double whole_signal_cost_ = 0.0;
  double largest_deviation_ = 0.0;
  bool whole_number_weights_ = false;
};

// The values sorted by the IEEE 754 total order, each value dropped when it
// compares equal (==) to the one kept before it; -0.0 and +0.0 thus share the
// level -0.0.
std::vector<double> distinct_levels_of(std::vector<double> values);

// Index of the level numerically equal to `value`, or nothing. Numeric rather
// than bitwise equality, so a +0.0 sample finds the shared zero level.
std::optional<std::uint64_t> locate_level(const std::vector<double>& levels, double value) noexcept;

}  // namespace tarnwell
