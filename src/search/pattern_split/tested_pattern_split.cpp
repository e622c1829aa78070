#include "search/pattern_split/tested_pattern_split.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "core/kahan_sum.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocating = "allocating a tested pattern segmentation";

struct Split {
  std::uint64_t at = 0;  // windows on the left
  double z = 0.0;
};

// The best split of windows [a, b) by gain (equal gains: the smaller t) and its z.
class SplitScan {
 public:
  static Result<SplitScan> create(std::uint64_t windows) {
    SplitScan scan;
    TARNWELL_CHECK(try_allocate(allocating, [&] {
      scan.ending_.assign(windows + 1, 0);
      scan.starting_.assign(windows + 1, 0);
    }));
    return scan;
  }

  std::optional<Split> best(const SubsequenceNeighbours& graph, std::uint64_t a, std::uint64_t b,
                            std::uint64_t shortest) {
    const std::uint64_t length = b - a, k = graph.neighbours;
    if (length < 2 * shortest || shortest == 0) return std::nullopt;
    // ending_[t]: links whose later window is a + t; starting_[t]: whose earlier one is.
    std::fill(ending_.begin(), ending_.begin() + static_cast<std::ptrdiff_t>(length), 0);
    std::fill(starting_.begin(), starting_.begin() + static_cast<std::ptrdiff_t>(length), 0);
    std::uint64_t within = 0;
    for (std::uint64_t i = a; i < b; ++i) {
      for (std::uint64_t slot = 0; slot < k; ++slot) {
        const std::uint64_t j = graph.index[i * k + slot];
        if (j < a || j >= b) continue;  // outside the segment, or an empty slot (j = windows)
        ++ending_[std::max(i, j) - a];
        ++starting_[std::min(i, j) - a];
        ++within;
      }
    }
    // left(t): links with the later window below t; right(t): with the earlier one at t or after.
    std::uint64_t left = 0, right = within;
    for (std::uint64_t t = 0; t < shortest; ++t) {
      left += ending_[t];
      right -= starting_[t];
    }
    const double whole = static_cast<double>(within) / static_cast<double>(length);
    double best_gain = -1.0;
    std::uint64_t best_at = 0;
    for (std::uint64_t t = shortest; t + shortest <= length; ++t) {
      const double gain = static_cast<double>(left) / static_cast<double>(t) +
                          static_cast<double>(right) / static_cast<double>(length - t) - whole;
      if (gain > best_gain) {
        best_gain = gain;
        best_at = t;
      }
      left += ending_[t];
      right -= starting_[t];
    }
    const double share = best_gain / static_cast<double>(k);
    const double links = static_cast<double>(k) * static_cast<double>(std::min(best_at, length - best_at));
    return Split{best_at, share * std::sqrt(links)};
  }

 private:
  std::vector<std::uint64_t> ending_, starting_;
};

}  // namespace

Result<Segmentation> tested_pattern_segmentation(const PatternCost& cost, const PatternSplitTest& test) {
  if (!std::isfinite(test.threshold)) {
    return errors::fail(errors::value_error_text("threshold must be finite"));
  }
  const SubsequenceNeighbours& graph = cost.graph();
  const std::uint64_t n = cost.n_samples(), offset = cost.centre_offset();
  std::vector<std::uint64_t> breakpoints;
  if (graph.windows > 0) {
    TARNWELL_TRY(scan, SplitScan::create(graph.windows));
    const std::uint64_t shortest = test.margin * cost.width();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pending{{0, graph.windows}};
    while (!pending.empty()) {
      TARNWELL_CHECK(check_interruption());
      const auto [a, b] = pending.back();
      pending.pop_back();
      const std::optional<Split> split = scan.best(graph, a, b, std::max<std::uint64_t>(shortest, 1));
      if (!split || !(split->z > test.threshold)) continue;
      const std::uint64_t at = a + split->at;
      TARNWELL_CHECK(try_allocate(allocating, [&] {
        breakpoints.push_back(at + offset);
        pending.emplace_back(at, b);
        pending.emplace_back(a, at);
      }));
    }
  }
  std::sort(breakpoints.begin(), breakpoints.end());
  TARNWELL_CHECK(try_allocate(allocating, [&] { breakpoints.push_back(n); }));
  KahanSum total;
  std::uint64_t start = 0;
  for (const std::uint64_t end : breakpoints) {
    TARNWELL_TRY(value, cost.segment_cost(start, end));
    total.add(value);
    start = end;
  }
  return make_segmentation(std::move(breakpoints), n, 1, total.sum, total.sum);
}

}  // namespace tarnwell
