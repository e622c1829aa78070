#include "metrics/breakpoint_pair.hpp"

namespace tarnwell {
namespace {

// The previous value starts at 0, so a first breakpoint of 0 is refused
// along with repeated and decreasing values.
Status check_increasing_within(std::span<const std::uint64_t> breakpoints, std::uint64_t n_samples) {
  std::uint64_t previous = 0;
  for (std::size_t position = 0; position < breakpoints.size(); ++position) {
    const std::uint64_t value = breakpoints[position];
    if (value <= previous || value > n_samples) {
      return errors::fail(errors::breakpoint_order(position, value, n_samples));
    }
    previous = value;
  }
  return {};
}

}  // namespace

Result<BreakpointPair> validate_breakpoint_pair(std::span<const std::uint64_t> truth,
                                                std::span<const std::uint64_t> prediction) {
  if (truth.empty() || prediction.empty()) return errors::fail(errors::empty_breakpoints());
  const std::uint64_t n_samples = truth.back();
  if (prediction.back() != n_samples) return errors::fail(errors::breakpoint_lengths(n_samples, prediction.back()));
  TARNWELL_CHECK(check_increasing_within(truth, n_samples));
  TARNWELL_CHECK(check_increasing_within(prediction, n_samples));
  return BreakpointPair{truth, prediction, n_samples};
}

}  // namespace tarnwell
