// Scratch memory of cost evaluations: one growable buffer per thread and per
// user (the Tag type), sized on first use and reused by every later segment,
// so hot paths allocate only when a larger segment than ever before comes by.
// A cost evaluated on several threads at once gets one buffer per thread.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "core/fallible_allocation.hpp"

namespace tarnwell {

template <class Tag, class T = double>
Result<std::span<T>> thread_scratch(std::size_t count, std::string_view context) {
  thread_local std::vector<T> buffer;
  if (buffer.size() < count) {
    TARNWELL_CHECK(try_allocate(context, [&] { buffer.resize(count); }));
  }
  return std::span<T>(buffer.data(), count);
}

}  // namespace tarnwell
