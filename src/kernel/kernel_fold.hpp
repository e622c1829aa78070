// Folding one more row r into the within-segment sums W of the current end:
// afterwards W[s] = sum of K(i, j) over i, j in [s, r + 1) for every start s
// from `lowest` to r. Each W[s] grows by K(r, r) + 2 sum_{i in [s, r)} K(i, r),
// accumulated from s = r - 1 downwards so that one pass serves every start.
#pragma once

#include <cstddef>

namespace tarnwell {

// Streaming form: W[r] is written, not added to, so a reused buffer needs no
// clearing beyond position r.
template <class Kernel>
void fold_streaming_row(const Kernel& kernel, std::size_t r, double* within) noexcept {
  const double g = kernel.diagonal(r);
  within[r] = g;
  double acc = 0.0;
  for (std::size_t s = r; s-- > 0;) {
    acc = acc + kernel(s, r);
    within[s] = (acc * 2.0 + g) + within[s];
  }
}

// Fused form: the accumulator starts at K(r, r) so that the update is one
// multiply-add shaped expression; D receives the diagonal prefix as well.
// Starts below `lowest` are left stale (the penalised search has dropped them).
template <class Kernel>
void fold_fused_row(const Kernel& kernel, std::size_t r, std::size_t lowest, double* within, double* diagonal) noexcept {
  const double g = kernel.diagonal(r);
  within[r] = within[r] + g;
  double acc = g;
  for (std::size_t s = r; s-- > lowest;) {
    acc = acc + kernel(s, r);
    within[s] = (acc * 2.0 - g) + within[s];
  }
  diagonal[r + 1] = diagonal[r] + g;
}

}  // namespace tarnwell
