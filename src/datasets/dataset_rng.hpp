// The one random source of a synthetic dataset call. Every draw is defined
// down to the bit (SplitMix64, a fixed float conversion, the platform's log,
// sin and cos), so a seed reproduces the same values on any IEEE-754 machine
// with the same C mathematics library.
#pragma once

#include <cstdint>

namespace tarnwell {

class DatasetRng {
 public:
  // 2π rounded to float64, spelled out so that no library constant with a
  // different rounding can slip into the angles.
  static constexpr double two_pi = 6.283185307179586;

  explicit DatasetRng(std::uint64_t seed) noexcept : state_(seed) {}

  // (x + 0.5) 2^-53 for the top 53 bits x of one SplitMix64 output: the
  // midpoint of one of 2^53 equal cells, so never 0 (the + 0.5 rounds to even
  // above 2^52, so the top cell gives exactly 1). Does not touch the normal
  // cache.
  double uniform() noexcept;
  // -ln(u) for one uniform draw.
  double exponential() noexcept;
  // Box–Muller: one pair of uniforms gives two deviates; the sine half is
  // cached and returned by the next call, whatever stage of generation that
  // call belongs to.
  double normal() noexcept;

 private:
  std::uint64_t state_;
  bool has_spare_ = false;
  double spare_ = 0.0;
};

}  // namespace tarnwell
