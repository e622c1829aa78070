// The rbf bandwidth gamma: the caller's value, or the inverse of the median
// squared distance between rows (over all pairs, or over pairs drawn with
// SplitMix64), so that a typical pair has a kernel value near exp(-1).
#pragma once

#include <cstdint>
#include <vector>

#include "core/signal.hpp"
#include "kernel/kernel_spec.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// The resolved gamma, checked to be finite and positive.
Result<double> resolve_gamma(const Signal& signal, const KernelSpec& kernel_choice);

// The squared distances the median policies take the median of, in drawing
// order: every pair i < j (i outer), or `samples` pairs drawn from `seed`.
Result<std::vector<double>> all_pair_distances(const Signal& signal);
Result<std::vector<double>> sampled_pair_distances(const Signal& signal, std::uint64_t samples, std::uint64_t seed);

// The median by partial selection of the element of rank floor(m / 2); for an
// even count the mean of it and the largest element below it. Reorders `values`.
Result<double> median_in_place(std::vector<double>& values);

}  // namespace tarnwell
