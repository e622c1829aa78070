// The result of every search: validated breakpoints with their cost and the
// objective the search minimised.
#pragma once

#include <cstdint>
#include <vector>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// Both at least 1; the classes' defaults live with their Python signatures.
struct SearchParameters {
  std::uint64_t min_size = 1;
  std::uint64_t jump = 1;
};

struct Segmentation {
  std::vector<std::uint64_t> breakpoints;
  double cost = 0.0;
  double objective = 0.0;
};

// Breakpoints valid for n_samples and min_size, cost and objective finite.
Result<Segmentation> make_segmentation(std::vector<std::uint64_t> breakpoints, std::uint64_t n_samples,
                                       std::uint64_t min_size, double cost, double objective);

// A penalty must be finite and strictly positive (so -0.0 and 0.0 are refused).
Status check_penalty(double pen);

}  // namespace tarnwell
