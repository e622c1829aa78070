#include "search/l1_potts/l1_potts_memory.hpp"

#include <unistd.h>

#include <cstdint>

#include "core/signal.hpp"

namespace tarnwell {

std::optional<std::uint64_t> estimate_l1_potts_memory(std::uint64_t n_samples, std::uint64_t n_levels) noexcept {
  const std::optional<std::uint64_t> flags = checked_product(n_samples, n_levels);
  const std::optional<std::uint64_t> per_sample = checked_product(n_samples, 16);
  const std::optional<std::uint64_t> per_level = checked_product(n_levels, 40);
  if (!flags || !per_sample || !per_level) return std::nullopt;
  std::uint64_t total;
  if (__builtin_add_overflow(*flags, *per_sample, &total) || __builtin_add_overflow(total, *per_level, &total) ||
      __builtin_add_overflow(total, 2048, &total)) {
    return std::nullopt;
  }
  return total;
}

std::uint64_t physical_memory_bytes() noexcept {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return checked_product(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size))
      .value_or(UINT64_MAX);
}

}  // namespace tarnwell
