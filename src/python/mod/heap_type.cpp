#include "python/mod/heap_type.hpp"

namespace tarnwell::python {

PyTypeObject* cached_type(PyTypeObject*& cache, PyType_Spec& spec) {
  if (cache == nullptr) cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  return cache;
}

bool expect_no_arguments(const char* class_name, PyObject* args, PyObject* kwargs) {
  const Py_ssize_t given = PyTuple_GET_SIZE(args) + (kwargs != nullptr ? PyDict_GET_SIZE(kwargs) : 0);
  if (given != 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", class_name, given);
    return false;
  }
  return true;
}

PyObject* new_bool(bool value) noexcept { return PyBool_FromLong(value ? 1 : 0); }

}  // namespace tarnwell::python
