// Size of the full backend's Gram prefix table, checked before anything is
// allocated: (n + 1)^2 prefix entries plus n + 1 diagonal prefixes.
#pragma once

#include <cstdint>

#include "core/error/error_kind.hpp"

namespace tarnwell {

inline constexpr std::uint64_t default_max_gram_bytes = 536870912;  // 512 MiB

// Bytes of the table for n samples, or the overflow failure; the limit
// failure when above max_gram_bytes.
Result<std::uint64_t> gram_prefix_bytes(std::uint64_t n_samples, std::uint64_t max_gram_bytes);

}  // namespace tarnwell
