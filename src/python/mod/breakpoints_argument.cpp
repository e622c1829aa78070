#include "python/mod/breakpoints_argument.hpp"

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

#include "python/mod/arguments.hpp"

namespace tarnwell::python {
namespace {

PyArrayObject* as_array(PyObject* object) { return reinterpret_cast<PyArrayObject*>(object); }

// The first negative entry of a signed integer array, reported by value and
// position (a cast to uint64 would silently wrap it).
bool refuse_negative_entries(PyArrayObject* array, const char* name) {
  PyRef as_signed = PyRef::steal(PyArray_FromAny(reinterpret_cast<PyObject*>(array), PyArray_DescrFromType(NPY_INT64),
                                                 1, 1, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr));
  if (!as_signed) return false;
  const auto* values = static_cast<const std::int64_t*>(PyArray_DATA(as_array(as_signed.get())));
  const npy_intp length = PyArray_DIM(as_array(as_signed.get()), 0);
  for (npy_intp i = 0; i < length; ++i) {
    if (values[i] < 0) {
      PyErr_Format(PyExc_OverflowError,
                   "argument '%s' must hold non-negative integers below 2**64, got %lld at position %zd", name,
                   static_cast<long long>(values[i]), static_cast<Py_ssize_t>(i));
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<BreakpointsArgument> BreakpointsArgument::from_python(PyObject* value, const char* name) {
  if (PyUnicode_Check(value) || !PySequence_Check(value)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be a sequence of non-negative integers, not %.200s", name,
                 Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  BreakpointsArgument argument;
  if (PyArray_Check(value)) {
    PyArrayObject* array = as_array(value);
    if (PyArray_NDIM(array) == 1 && PyTypeNum_ISINTEGER(PyArray_TYPE(array)) && !PyArray_ISBYTESWAPPED(array)) {
      if (PyTypeNum_ISSIGNED(PyArray_TYPE(array)) && !refuse_negative_entries(array, name)) return std::nullopt;
      // A contiguous native uint64 array comes back as itself: no copy.
      argument.array_ = PyRef::steal(PyArray_FromAny(value, PyArray_DescrFromType(NPY_UINT64), 1, 1,
                                                     NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_FORCECAST,
                                                     nullptr));
      if (!argument.array_) return std::nullopt;
      argument.array_values_ = static_cast<const std::uint64_t*>(PyArray_DATA(as_array(argument.array_.get())));
      argument.array_length_ = static_cast<std::size_t>(PyArray_DIM(as_array(argument.array_.get()), 0));
      return argument;
    }
  }
  PyRef snapshot = PyRef::steal(PySequence_Tuple(value));
  if (!snapshot) return std::nullopt;
  const Py_ssize_t length = PyTuple_GET_SIZE(snapshot.get());
  argument.owned_.reserve(static_cast<std::size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) {
    const std::optional<std::uint64_t> element = to_unsigned(PyTuple_GET_ITEM(snapshot.get(), i), name);
    if (!element) return std::nullopt;
    argument.owned_.push_back(*element);
  }
  return argument;
}

}  // namespace tarnwell::python
