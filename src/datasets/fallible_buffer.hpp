// Buffers whose size comes from the caller's arguments are reserved up front,
// and a refusal is reported as an error value instead of escaping as an
// exception.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "python/error/error_kind.hpp"

namespace tarnwell {

// An empty vector with room for `count` elements, or "memory allocation failed
// while {context}". Counts beyond what the allocator can address fail the same
// way.
template <class T>
Result<std::vector<T>> reserve_buffer(std::uint64_t count, std::string_view context) {
  std::vector<T> buffer;
  try {
    if (count > buffer.max_size()) return errors::fail(errors::allocation_failed(context));
    buffer.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(context));
  } catch (const std::length_error&) {
    return errors::fail(errors::allocation_failed(context));
  }
  return buffer;
}

}  // namespace tarnwell
