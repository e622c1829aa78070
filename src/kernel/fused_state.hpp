// FusedKernelState: what the fused backend keeps after fitting. No Gram
// values at all: KernelCPD's own programmes fold the rows into running
// within-segment sums as their end advances.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kernel/kernel_spec.hpp"

namespace tarnwell {

struct FusedKernelState {
  KernelFamily family = KernelFamily::rbf;
  std::vector<double> rows;  // prepared rows, n x width
  std::uint64_t n = 0;
  std::uint64_t width = 0;
  double gamma = 1.0;  // rbf only
  std::uint64_t min_size = 1;
  std::uint64_t jump = 1;
  // Absolute part of the programmes' near-tie allowance: 1e-12 times the mean
  // kernel value K(i, i) over the rows, the scale of every within-segment sum
  // (exactly 1e-12 for rbf, about that for cosine; for the linear kernel it
  // follows the square of the signal's unit, so answers do not depend on it).
  double tie_floor = 1e-12;

  std::optional<double> resolved_gamma() const noexcept {
    return family == KernelFamily::rbf ? std::optional<double>(gamma) : std::nullopt;
  }
};

}  // namespace tarnwell
