#include "cost/segment_validation.hpp"

namespace tarnwell {

Status check_breakpoints(std::span<const std::uint64_t> breakpoints, std::uint64_t n_samples, std::uint64_t minimum) {
  if (minimum == 0) return errors::fail(errors::min_size_zero(0));
  if (breakpoints.empty()) return errors::fail(errors::empty_breakpoints());
  std::uint64_t previous = 0;
  for (std::size_t position = 0; position < breakpoints.size(); ++position) {
    const std::uint64_t breakpoint = breakpoints[position];
    if (!(previous < breakpoint && breakpoint <= n_samples)) {
      return errors::fail(errors::breakpoint_order(position, breakpoint, n_samples));
    }
    TARNWELL_CHECK(check_segment_length(previous, breakpoint, minimum));
    previous = breakpoint;
  }
  if (breakpoints.back() != n_samples) return errors::fail(errors::last_breakpoint(n_samples, breakpoints.back()));
  return {};
}

}  // namespace tarnwell
