// KernelCPD's entry in the list of searches: exact, a fixed number of changes
// or a penalty, its own cost in the feature space of a kernel.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "cost/cost_descriptor.hpp"
#include "search/search_descriptor.hpp"

namespace tarnwell {

struct KernelCPDSearch {
  static constexpr std::string_view class_name = "KernelCPD";
  static constexpr SearchCapabilities capabilities{.penalized = true, .fixed_count = true, .exact = true};

  // The default penalty of each kernel's cost: the linear kernel's costs are
  // sums of squares; the cosine kernel's are measured on the unit rows; the
  // rbf kernel's by the kernel distance of neighbouring samples.
  static constexpr std::array<std::string_view, 3> kernels{"rbf", "linear", "cosine"};
  static PenaltyRule penalty_rule(std::string_view kernel) {
    if (kernel == "linear") return {.unit = NoiseUnit::squared};
    if (kernel == "cosine") return {.unit = NoiseUnit::cosine};
    return {.unit = NoiseUnit::rbf};
  }
  static std::uint64_t segment_parameters(std::uint64_t d) noexcept { return d; }
};

}  // namespace tarnwell
