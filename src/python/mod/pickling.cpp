#include "python/mod/pickling.hpp"

#include <cstring>

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

namespace tarnwell::python {

PyRef argument_to_python(const DenseMatrix& matrix) {
  npy_intp dimensions[2] = {static_cast<npy_intp>(matrix.rows), static_cast<npy_intp>(matrix.columns)};
  PyRef array = PyRef::require(PyArray_SimpleNew(2, dimensions, NPY_FLOAT64));
  if (!matrix.values.empty()) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), matrix.values.data(),
                matrix.values.size() * sizeof(double));
  }
  return array;
}

PyRef argument_to_python(const std::optional<DenseMatrix>& matrix) {
  if (!matrix) return PyRef::borrow(Py_None);
  return argument_to_python(*matrix);
}

PyRef reduce_value(PyObject* self, PyRef arguments, std::optional<PyRef> state) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  if (state) return PyRef::require(PyTuple_Pack(3, type, arguments.get(), state->get()));
  return PyRef::require(PyTuple_Pack(2, type, arguments.get()));
}

std::span<const std::byte> saved_state_payload(PyObject* state, std::string_view class_name) {
  if (!PyBytes_Check(state)) {
    PyErr_Format(PyExc_TypeError, "%s.__setstate__() argument must be bytes, not %s",
                 std::string(class_name).c_str(), Py_TYPE(state)->tp_name);
    throw PythonErrorAlreadySet{};
  }
  return {reinterpret_cast<const std::byte*>(PyBytes_AS_STRING(state)), static_cast<std::size_t>(PyBytes_GET_SIZE(state))};
}

}  // namespace tarnwell::python
