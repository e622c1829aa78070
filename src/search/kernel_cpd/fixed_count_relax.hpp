// The hot loop of the fused fixed-count programme: for one end t, every grid
// start s offers V[s][k-1] + c(s, t) to column k of row t. Compiled in a
// scalar form and, where the processor has AVX2, a four-column form; both
// give identical values, predecessors and tie outcomes.
#pragma once

#include <cstdint>

namespace tarnwell {

struct FixedCountTables {
  double* values;              // V, (n + 1) x (K + 1)
  std::uint64_t* predecessor;  // P, same shape
  double* tolerance;           // K + 1: tie allowance of each column's current best
  std::uint64_t columns;       // K + 1
  double tie_floor;            // absolute part of a new best's allowance (FusedKernelState::tie_floor)
};

struct FixedCountEnd {
  std::uint64_t t;
  std::uint64_t first;  // smallest grid start that leaves a full segment before it
  std::uint64_t last_start;  // t - min_size
  std::uint64_t jump;
  const double* diagonal;  // D, with D[t] final
  const double* within;    // W for end t
};

// A cost that is not plainly non-negative stops the loop: its start and value
// are returned for the caller to settle (clamp or fail) and resume from.
struct UnsettledCost {
  bool stopped = false;
  std::uint64_t start = 0;
  double cost = 0.0;
};

// Relaxes starts from `from` on; with `settled` the first start uses that cost.
using RelaxEnd = UnsettledCost (*)(const FixedCountTables&, const FixedCountEnd&, std::uint64_t from,
                                   const double* settled);

UnsettledCost relax_end_scalar(const FixedCountTables&, const FixedCountEnd&, std::uint64_t from,
                               const double* settled);
UnsettledCost relax_end_avx2(const FixedCountTables&, const FixedCountEnd&, std::uint64_t from,
                             const double* settled);
bool cpu_has_avx2() noexcept;

}  // namespace tarnwell
