// SplitMix64: the 64-bit generator behind every seeded draw of the module
// (synthetic datasets, sampled kernel bandwidths). One step advances the state
// by the golden-ratio increment and mixes it; all arithmetic wraps modulo 2^64,
// so the sequence is fixed for a seed on every platform.
#pragma once

#include <cstdint>

namespace tarnwell {

inline std::uint64_t splitmix64_next(std::uint64_t& state) noexcept {
  state += 0x9E3779B97F4A7C15ULL;
  std::uint64_t mixed = state;
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ULL;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBULL;
  return mixed ^ (mixed >> 31);
}

}  // namespace tarnwell
