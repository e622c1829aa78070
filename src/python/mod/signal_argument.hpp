// Intake of `signal` and `weights` arguments: NumPy float64 arrays in any
// layout, read in place through a StridedMatrix while a reference is held.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>

#include "core/dense_matrix.hpp"
#include "core/strided_matrix.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

class ArrayArgument {
 public:
  // Refuses anything but a NumPy array of a dtype equivalent to float64 with a
  // TypeError naming the argument; returns nullopt with the error set.
  static std::optional<ArrayArgument> from_python(PyObject* object, const char* name);

  // Dimensionality and emptiness checks, then the view of the values.
  Result<StridedMatrix> signal_view() const;
  // The view of a weights vector, which must be one-dimensional.
  std::optional<StridedMatrix> vector_view(const char* name) const;
  // A row-major copy of a matrix argument, which must be two-dimensional
  // (TypeError naming the argument otherwise); any shape, empty included.
  std::optional<DenseMatrix> matrix_copy(const char* name) const;
  // The caller's array itself (borrowed), for code that hands it on to Python.
  PyObject* object() const noexcept { return array_.get(); }

 private:
  PyRef array_;
  std::size_t ndim_ = 0;
  std::array<std::uint64_t, 2> extents_{};
  std::array<std::int64_t, 2> strides_{};
};

}  // namespace tarnwell::python
