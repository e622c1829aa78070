// Two breakpoint lists that must describe one signal: a reference (`truth`)
// and an estimate (`prediction`). Every metric validates its input through
// validate_breakpoint_pair, so they all agree on what a valid pair is.
#pragma once

#include <cstdint>
#include <span>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// A validated pair: both lists are strictly increasing, start above 0 and end
// at n_samples >= 1. The spans borrow the caller's storage.
struct BreakpointPair {
  std::span<const std::uint64_t> truth;
  std::span<const std::uint64_t> prediction;
  std::uint64_t n_samples;

  // Change points are all breakpoints but the final n_samples.
  std::span<const std::uint64_t> true_change_points() const noexcept { return truth.first(truth.size() - 1); }
  std::span<const std::uint64_t> predicted_change_points() const noexcept {
    return prediction.first(prediction.size() - 1);
  }
};

// Checks, in order: neither list is empty; both end at the same value (the
// last element of `truth` is the number of samples); `truth`, then
// `prediction`, is strictly increasing from above 0 and never exceeds it.
Result<BreakpointPair> validate_breakpoint_pair(std::span<const std::uint64_t> truth,
                                                std::span<const std::uint64_t> prediction);

}  // namespace tarnwell
