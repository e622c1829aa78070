// The vectorised routines that have a portable twin computing the same
// results, and a process-wide switch that makes every search take the twin.
// The switch exists for the tests: they run both forms on one machine and
// compare, and the counts say which form actually ran (on a processor
// without the instructions, only the portable one can).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnwell {

enum class VectorPath : std::uint8_t {
  pelt_sweep,      // Pelt's fused step sweep for one-feature squared error (else its separate passes)
  l1_potts_rows,   // L1Potts rows kept in AVX2 registers (else the checked rows)
  kernel_columns,  // KernelCPD's fixed-count column update in AVX2 (else scalar)
  clinear_costs,   // CostCLinear's endpoint batch with fused multiply-adds (else split products); once per batch
};

inline constexpr std::array<std::string_view, 4> vector_path_names{"pelt_sweep", "l1_potts_rows",
                                                                   "kernel_columns", "clinear_costs"};

// How often each form of one path ran since the process started.
struct VectorPathCounts {
  std::uint64_t vectorised = 0;
  std::uint64_t portable = 0;
};

bool portable_paths_forced() noexcept;
void force_portable_paths(bool forced) noexcept;

// Called once per search (or per batch, where noted) at the point where the form is chosen.
void record_vector_path(VectorPath path, bool vectorised) noexcept;
VectorPathCounts vector_path_counts(VectorPath path) noexcept;

}  // namespace tarnwell
