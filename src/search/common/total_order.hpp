// The IEEE 754 total order of doubles: -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
// Candidate heaps and sorts order their scores by it, so that every value,
// NaN and signed zero included, has one fixed place and the ordering stays a
// strict weak order (plain `<` is not one once a NaN appears).
#pragma once

#include <bit>
#include <cstdint>

namespace tarnwell {

// Maps a double to a signed integer whose integer order is the total order:
// non-negative patterns already sort by magnitude; negative ones sort
// backwards, so their magnitude bits are flipped.
constexpr std::int64_t total_order_key(double value) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(value);
  const auto magnitude_flip = static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
  return bits ^ magnitude_flip;
}

constexpr bool total_order_less(double left, double right) noexcept {
  return total_order_key(left) < total_order_key(right);
}

}  // namespace tarnwell
