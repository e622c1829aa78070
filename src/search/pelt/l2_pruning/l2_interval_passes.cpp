#include "search/pelt/l2_pruning/l2_interval_passes.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include "search/pelt/l2_pruning/l2_interval_passes_body.hpp"

namespace tarnwell {

const L2IntervalPasses& l2_interval_passes_portable() noexcept {
  static constexpr L2IntervalPasses passes{costs_span, mark_span};
  return passes;
}

const L2IntervalPasses& l2_interval_passes() noexcept {
  static const L2IntervalPasses& chosen = []() -> const L2IntervalPasses& {
    const L2IntervalPasses* avx2 = l2_interval_passes_avx2();
    return avx2 != nullptr ? *avx2 : l2_interval_passes_portable();
  }();
  return chosen;
}

}  // namespace tarnwell
