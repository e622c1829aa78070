// Working memory of one Dynp prediction, estimated before anything is
// allocated so that an oversized request is refused up front. The engine and
// the Python estimated_memory_bytes() share this one formula.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace tarnwell {

inline constexpr std::uint64_t default_dynp_memory_limit = 536870912;  // 512 MiB

// Reported when the formula overflows or the grid is too long for the 32-bit
// predecessor indices; no limit can admit it.
inline constexpr std::uint64_t saturated_memory_estimate = std::numeric_limits<std::uint64_t>::max();

// Grid index marking "no predecessor"; every real index stays below it.
inline constexpr std::uint32_t no_dynp_predecessor = 0xFFFFFFFF;

// Interior grid positions: floor((n - 1) / jump), or nothing when the grid
// length (this count plus 2) would not fit in 64 bits. Needs n >= 1, jump >= 1.
std::optional<std::uint64_t> dynp_grid_count(std::uint64_t n_samples, std::uint64_t jump) noexcept;

// Bytes of one prediction with n_bkps changes, with G = grid length and
// K = n_bkps + 1 segments:
//   12 (K + 1) G   score (8) and predecessor (4) tables
//   16 G           grid positions and their endpoint-batch slots
//   24 K           result breakpoints and the two tie-break paths
// 0 for n_bkps = 0 (that answer needs no tables); saturated_memory_estimate
// when a step overflows or G exceeds what 32-bit predecessors can index.
std::uint64_t estimate_dynp_memory(std::uint64_t n_samples, std::uint64_t jump, std::uint64_t n_bkps) noexcept;

}  // namespace tarnwell
