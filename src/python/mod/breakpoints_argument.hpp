// Intake of breakpoint lists (`breakpoints`, `truth`, `prediction`): any
// sequence of non-negative integers, a str refused. A contiguous native uint64
// array is read in place; other integer arrays are cast once by NumPy; any
// other sequence is first snapshotted into a tuple, so an element whose
// __index__ changes the original container cannot invalidate what is read.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

class BreakpointsArgument {
 public:
  // nullopt with a TypeError or OverflowError naming the argument.
  static std::optional<BreakpointsArgument> from_python(PyObject* value, const char* name);

  // Valid while this object lives.
  std::span<const std::uint64_t> values() const noexcept {
    return array_ ? std::span<const std::uint64_t>(array_values_, array_length_)
                  : std::span<const std::uint64_t>(owned_);
  }

 private:
  PyRef array_;  // a uint64 array whose memory is read in place
  const std::uint64_t* array_values_ = nullptr;
  std::size_t array_length_ = 0;
  std::vector<std::uint64_t> owned_;
};

}  // namespace tarnwell::python
