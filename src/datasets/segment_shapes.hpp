// The noiseless part of a synthetic signal: every segment filled with a shape
// whose parameters are drawn afresh at the segment's start.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "datasets/dataset_rng.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

enum class SegmentShape : std::uint8_t { constant, linear, normal, wavy };

// Appends the rows of every segment [previous breakpoint, breakpoint) to
// `values`, row-major with n_features columns. Draw order per segment:
//   constant: level per column;
//   linear:   intercept per column, then slope per column;
//   normal:   mean per column, then scale per column, then one normal draw per
//             value, row by row;
//   wavy:     amplitude, angular frequency and phase per column, column by column.
Status append_segments(SegmentShape shape, DatasetRng& rng, std::span<const std::uint64_t> breakpoints,
                       std::uint64_t n_features, std::vector<double>& values);

}  // namespace tarnwell
