// Buffers whose size comes from the caller's input are allocated through
// here, so that running out of memory is an error value ("memory allocation
// failed while {context}") instead of an escaping exception. Sizes beyond
// what a container can index fail the same way.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// Runs `step` (which allocates: reserve, assign, resize, push_back, ...) and
// turns an allocation failure into the error of `context`.
template <class Step>
Status try_allocate(std::string_view context, Step&& step) {
  try {
    step();
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed(context));
  } catch (const std::length_error&) {
    return errors::fail(errors::allocation_failed(context));
  }
  return {};
}

// An empty vector with room for `count` elements.
template <class T>
Result<std::vector<T>> reserve_buffer(std::uint64_t count, std::string_view context) {
  std::vector<T> buffer;
  if (count > buffer.max_size()) return errors::fail(errors::allocation_failed(context));
  TARNWELL_CHECK(try_allocate(context, [&] { buffer.reserve(static_cast<std::size_t>(count)); }));
  return buffer;
}

// A vector of `count` copies of `value`.
template <class T>
Result<std::vector<T>> filled_buffer(std::uint64_t count, const T& value, std::string_view context) {
  std::vector<T> buffer;
  if (count > buffer.max_size()) return errors::fail(errors::allocation_failed(context));
  TARNWELL_CHECK(try_allocate(context, [&] { buffer.assign(static_cast<std::size_t>(count), value); }));
  return buffer;
}

}  // namespace tarnwell
