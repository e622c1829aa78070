// Continuous piecewise-linear segment costs from prefix statistics, for one
// segment or for a batch of starts sharing an end. The batch has two forms
// computing the same values bit for bit: exact products split into halves
// (any processor) and exact products by fused multiply-add (about a third of
// the operations), chosen per batch.
#pragma once

#include <cstdint>
#include <span>

#include "core/double_double.hpp"

namespace tarnwell {

// One feature's prefix sums over samples [0, r) of the centred values c_t
// (the value at t minus the value at row 0, exactly), of c_t^2 and of t * c_t.
struct CLinearPrefixRow {
  DoubleDouble sum;
  DoubleDouble square;
  DoubleDouble indexed;
};

// What the prefix form reads: the signal at its unit scale, row-major, and
// the (n + 1) x d table of prefix rows.
struct CLinearTables {
  const double* values = nullptr;
  const CLinearPrefixRow* prefix = nullptr;
  std::uint64_t n_features = 0;
};

// The prefix form declines a segment (rounding could matter: a nearly
// perfect fit) by returning this; the caller then sums the residuals directly.
inline constexpr double declined_cost = -1.0;

// The cost of [start, end) at the unit scale, or declined_cost. Needs
// end - start >= 3 and end <= n.
double clinear_prefix_cost(const CLinearTables& tables, std::uint64_t start, std::uint64_t end) noexcept;

// The same for every start, into out[0, starts.size()).
void clinear_prefix_costs(const CLinearTables& tables, std::span<const std::uint64_t> starts, std::uint64_t end,
                          double* out) noexcept;

using CLinearPrefixBatch = void (*)(const CLinearTables&, std::span<const std::uint64_t>, std::uint64_t,
                                    double*) noexcept;

// The fused multiply-add form, or nullptr where the processor lacks it.
CLinearPrefixBatch clinear_prefix_costs_fused() noexcept;

}  // namespace tarnwell
