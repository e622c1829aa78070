#include "kernel/gram_prefix_memory.hpp"

#include "core/signal.hpp"

namespace tarnwell {

Result<std::uint64_t> gram_prefix_bytes(std::uint64_t n_samples, std::uint64_t max_gram_bytes) {
  const std::uint64_t side = n_samples + 1;
  const std::optional<std::uint64_t> square = checked_product(side, side);
  if (side == 0 || !square) return errors::fail(errors::numerical_failure("computing Gram prefix dimensions"));
  // 2^61 - 1 entries is the most whose byte count still fits 64 bits.
  constexpr std::uint64_t max_entries = (std::uint64_t{1} << 61) - 1;
  if (*square > UINT64_MAX - side || *square + side > max_entries) {
    return errors::fail(errors::numerical_failure("computing Gram prefix memory"));
  }
  const std::uint64_t bytes = (*square + side) * 8;
  if (bytes > max_gram_bytes) return errors::fail(errors::gram_memory_limit(bytes, max_gram_bytes));
  return bytes;
}

}  // namespace tarnwell
