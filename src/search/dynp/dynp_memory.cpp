#include "search/dynp/dynp_memory.hpp"

namespace tarnwell {
namespace {

// The largest interior count whose grid (count + 2 entries) keeps every index
// below the none marker.
constexpr std::uint64_t largest_grid_count = 4294967292;

struct CheckedBytes {
  std::uint64_t value = 0;
  bool overflowed = false;

  CheckedBytes& add(std::uint64_t term) noexcept {
    overflowed |= __builtin_add_overflow(value, term, &value);
    return *this;
  }
  static std::uint64_t product(std::uint64_t left, std::uint64_t right, bool& overflowed) noexcept {
    std::uint64_t result = 0;
    overflowed |= __builtin_mul_overflow(left, right, &result);
    return result;
  }
};

}  // namespace

std::optional<std::uint64_t> dynp_grid_count(std::uint64_t n_samples, std::uint64_t jump) noexcept {
  const std::uint64_t count = (n_samples - 1) / jump;
  if (count >= std::numeric_limits<std::uint64_t>::max() - 1) return std::nullopt;
  return count;
}

std::uint64_t estimate_dynp_memory(std::uint64_t n_samples, std::uint64_t jump, std::uint64_t n_bkps) noexcept {
  if (n_bkps == 0) return 0;
  const std::optional<std::uint64_t> count = dynp_grid_count(n_samples, jump);
  if (!count || *count > largest_grid_count) return saturated_memory_estimate;
  const std::uint64_t grid_length = *count + 2;
  if (n_bkps >= std::numeric_limits<std::uint64_t>::max() - 1) return saturated_memory_estimate;
  const std::uint64_t segments = n_bkps + 1;

  CheckedBytes bytes;
  const std::uint64_t states = CheckedBytes::product(segments + 1, grid_length, bytes.overflowed);
  bytes.add(CheckedBytes::product(12, states, bytes.overflowed));
  bytes.add(CheckedBytes::product(16, grid_length, bytes.overflowed));
  bytes.add(CheckedBytes::product(24, segments, bytes.overflowed));
  return bytes.overflowed ? saturated_memory_estimate : bytes.value;
}

}  // namespace tarnwell
