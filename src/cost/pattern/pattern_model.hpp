// The pattern model: changes of shape, rhythm or motif that keep level and
// spread. Parameters: the subsequence width (0: learned from the signal) and
// the number of neighbours per subsequence.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "cost/cost_descriptor.hpp"
#include "cost/segment_fit.hpp"
#include "cost/pattern/pattern_cost.hpp"

namespace tarnwell {

struct PatternModel {
  using Fitted = PatternCost;
  static constexpr std::string_view class_name = "CostPattern";
  static constexpr std::string_view description =
      "Pattern segment cost: minus the share of nearest-neighbour links between a segment's subsequences that "
      "stay inside the segment.\n\n"
      "Every window of `width` samples (z-normalised per feature: level and spread do not count) is linked to "
      "its `neighbours` most alike windows of the whole signal; a segment of one pattern keeps its links. "
      "Costs lie in [-1, 0]. Fitting runs an exact neighbour search, O(n^2 d) time and O(n (d + neighbours)) "
      "memory, and can be interrupted; width 0 learns the width from the signal's dominant period.";
  static constexpr std::array<std::string_view, 1> model_names{"pattern"};
  static constexpr CostScale scale = CostScale::likelihood;
  static constexpr bool long_fit = true;
  static constexpr std::string_view summary = "changes of shape, rhythm or motif of subsequences";
  static constexpr std::string_view use_when =
      "changes of temporal pattern (shape, rhythm, frequency, motif) that keep level and spread";
  static constexpr bool describes_trend = false;
  static constexpr bool rewards_constant_runs = false;

  std::uint64_t width = 0;
  std::uint64_t neighbours = 3;

  static constexpr auto parameters =
      std::tuple{ModelParameter<PatternModel, std::uint64_t>{"width", &PatternModel::width, "0"},
                 ModelParameter<PatternModel, std::uint64_t>{"neighbours", &PatternModel::neighbours, "3"}};
  static constexpr auto properties = std::tuple{
      ModelProperty{"width", &PatternModel::width,
                    "Samples per subsequence; 0 learns it at fit (an eighth of the dominant period, at least 8)."},
      ModelProperty{"neighbours", &PatternModel::neighbours, "Nearest neighbours linked to each subsequence."}};

  Status check() const {
    if (neighbours == 0) return errors::fail(errors::value_error_text("neighbours must be positive, got 0"));
    return {};
  }
  std::uint64_t min_segment_length() const noexcept { return 2; }
  std::uint64_t segment_parameters(std::uint64_t) const noexcept { return 1; }
  std::uint64_t default_min_size(std::uint64_t) const noexcept { return 2; }
  // Its costs are shares of neighbour links, not in the signal's units.
  PenaltyRule penalty_rule() const {
    return {.unit = NoiseUnit::none,
            .instead = "the pattern model has no default penalty: its costs are shares of neighbour links (-1 to 0), "
                       "not in the signal's units; pass pen= (about 0.05 to 0.3; for penalty_path, pen_min and "
                       "pen_max), or call detect(x, model=\"pattern\") without n_bkps or pen, which tests each split"};
  }
  // A split raises the total by at most 1 (the fitted cost's pruning constant is -1).
  std::optional<double> split_bound(std::uint64_t) const noexcept { return 1.0; }
  // The share of the segment's subsequences' neighbour links that stay inside it.
  std::vector<std::string> parameter_names(std::uint64_t) const { return {"link_share"}; }
  Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints, std::span<double> out) const {
    TARNWELL_CHECK(check());
    TARNWELL_TRY(cost, fit(signal));
    const auto share = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
      TARNWELL_TRY(value, cost.segment_cost(start, end));
      row[0] = -value;
      return {};
    };
    return for_each_segment(breakpoints, 1, out, share);
  }
  Result<PatternCost> fit(const Signal& signal) const { return PatternCost::fit(signal, width, neighbours); }
  std::string repr(const PatternCost* fitted) const {
    const std::uint64_t shown = fitted != nullptr ? fitted->width() : width;
    return "CostPattern(width=" + std::to_string(shown) + ", neighbours=" + std::to_string(neighbours) + ")";
  }
};

}  // namespace tarnwell
