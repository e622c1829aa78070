// Working memory of one L1-Potts prediction, known before anything large is
// allocated. The parent flags dominate: one byte per (sample, level) pair, so
// a real-valued signal whose every value is distinct needs about n^2 bytes.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnwell {

// Upper bound in bytes, with n samples and K levels:
//   n K    parent flags
//   16 n   best level per sample (4), breakpoints (8), 4 to spare
//   40 K   two value rows and the levels (24 per level)
//   + 2048 padding levels (up to 3) and the flags a row spills past the end
// The objective check runs after the flags are freed; its accumulators (at
// most 45 bytes per level) fit in their place once n >= 45, and in the 2048
// spare bytes below that (K <= n).
// Nothing when a step overflows 64 bits.
std::optional<std::uint64_t> estimate_l1_potts_memory(std::uint64_t n_samples, std::uint64_t n_levels) noexcept;

// Installed physical memory of this machine in bytes; the largest value
// when the system does not say, so that nothing is refused on a guess.
std::uint64_t physical_memory_bytes() noexcept;

}  // namespace tarnwell
