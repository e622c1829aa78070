#include "python/mod/signal_argument.hpp"

#include <new>

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

namespace tarnwell::python {

std::optional<ArrayArgument> ArrayArgument::from_python(PyObject* object, const char* name) {
  if (!PyArray_Check(object)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be a numpy.ndarray of dtype float64, not %.200s", name,
                 Py_TYPE(object)->tp_name);
    return std::nullopt;
  }
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  PyArray_Descr* float64 = PyArray_DescrFromType(NPY_FLOAT64);
  const bool equivalent = PyArray_EquivTypes(PyArray_DESCR(array), float64);
  Py_DECREF(float64);
  if (!equivalent) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be a numpy.ndarray of dtype float64, got dtype %S", name,
                 reinterpret_cast<PyObject*>(PyArray_DESCR(array)));
    return std::nullopt;
  }
  ArrayArgument argument;
  argument.array_ = PyRef::borrow(object);
  argument.ndim_ = static_cast<std::size_t>(PyArray_NDIM(array));
  for (std::size_t axis = 0; axis < argument.ndim_ && axis < 2; ++axis) {
    argument.extents_[axis] = static_cast<std::uint64_t>(PyArray_DIM(array, static_cast<int>(axis)));
    argument.strides_[axis] = PyArray_STRIDE(array, static_cast<int>(axis));
  }
  return argument;
}

Result<StridedMatrix> ArrayArgument::signal_view() const {
  TARNWELL_TRY(shape, check_signal_shape(ndim_, extents_));
  StridedMatrix view;
  view.data = static_cast<const std::byte*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array_.get())));
  view.n_samples = shape.n_samples;
  view.n_features = shape.n_features;
  view.row_stride = strides_[0];
  view.column_stride = ndim_ == 2 ? strides_[1] : 0;
  return view;
}

std::optional<StridedMatrix> ArrayArgument::vector_view(const char* name) const {
  if (ndim_ != 1) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be a one-dimensional float64 array, got %zu dimensions", name,
                 ndim_);
    return std::nullopt;
  }
  StridedMatrix view;
  view.data = static_cast<const std::byte*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array_.get())));
  view.n_samples = extents_[0];
  view.n_features = 1;
  view.row_stride = strides_[0];
  return view;
}

std::optional<DenseMatrix> ArrayArgument::matrix_copy(const char* name) const {
  if (ndim_ != 2) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be a two-dimensional float64 array, got %zu dimensions", name,
                 ndim_);
    return std::nullopt;
  }
  StridedMatrix view;
  view.data = static_cast<const std::byte*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array_.get())));
  view.n_samples = extents_[0];
  view.n_features = extents_[1];
  view.row_stride = strides_[0];
  view.column_stride = strides_[1];
  DenseMatrix matrix;
  matrix.rows = extents_[0];
  matrix.columns = extents_[1];
  try {
    // The array holds rows * columns values already, so the count cannot overflow.
    matrix.values.reserve(static_cast<std::size_t>(matrix.rows * matrix.columns));
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return std::nullopt;
  }
  for (std::uint64_t row = 0; row < matrix.rows; ++row) {
    for (std::uint64_t column = 0; column < matrix.columns; ++column) matrix.values.push_back(view.at(row, column));
  }
  return matrix;
}

}  // namespace tarnwell::python
