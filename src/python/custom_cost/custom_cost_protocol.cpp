#include "python/custom_cost/custom_cost_protocol.hpp"

#include <cmath>
#include <string>

#include "core/error/message.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {
namespace {

PyObject* interned(const char* text) {
  PyObject* name = PyUnicode_InternFromString(text);
  if (name == nullptr) throw PythonErrorAlreadySet{};
  return name;
}

[[noreturn]] void raise_protocol_error(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw PythonErrorAlreadySet{};
}

// An optional attribute: absent only when reading it raises AttributeError,
// as for hasattr(); any other failure of the lookup propagates.
PyRef optional_attribute(PyObject* object, const char* name) {
  PyObject* value = PyObject_GetAttrString(object, name);
  if (value != nullptr) return PyRef::steal(value);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonErrorAlreadySet{};
  PyErr_Clear();
  return PyRef();
}

void check_callable_method(PyObject* object, PyObject* name) {
  PyObject* method = PyObject_GetAttr(object, name);
  if (method == nullptr) {
    PyErr_Clear();
    raise_protocol_error(PyExc_TypeError,
                         std::string("custom_cost must define a callable ") + PyUnicode_AsUTF8(name) + "() method");
  }
  const PyRef held = PyRef::steal(method);
  if (PyCallable_Check(method) == 0) {
    raise_protocol_error(PyExc_TypeError, std::string("custom_cost.") + PyUnicode_AsUTF8(name) + " must be callable");
  }
}

}  // namespace

PyObject* attribute_name_fit() {
  static PyObject* const name = interned("fit");
  return name;
}
PyObject* attribute_name_error() {
  static PyObject* const name = interned("error");
  return name;
}
PyObject* attribute_name_error_many() {
  static PyObject* const name = interned("error_many");
  return name;
}

std::uint64_t check_custom_cost_protocol(PyObject* object) {
  check_callable_method(object, attribute_name_fit());
  check_callable_method(object, attribute_name_error());
  PyObject* attribute = PyObject_GetAttrString(object, "min_size");
  if (attribute == nullptr) {
    PyErr_Clear();
    raise_protocol_error(PyExc_TypeError, "custom_cost must define a positive integer min_size attribute");
  }
  const PyRef min_size = PyRef::steal(attribute);
  // Integers and objects with __index__; floats, strings and values beyond
  // a signed 64-bit integer are not integers for this purpose.
  const long long value = PyLong_AsLongLong(attribute);
  if (value == -1 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    raise_protocol_error(PyExc_TypeError, "custom_cost.min_size must be a positive integer");
  }
  if (value <= 0) {
    raise_protocol_error(PyExc_ValueError, "custom_cost.min_size must be positive, got " + std::to_string(value));
  }
  return static_cast<std::uint64_t>(value);
}

CustomCostOptions read_custom_cost_options(PyObject* object) {
  CustomCostOptions options;
  if (const PyRef error_many = optional_attribute(object, "error_many")) {
    if (PyCallable_Check(error_many.get()) == 0) {
      raise_protocol_error(PyExc_TypeError, "custom_cost.error_many must be callable when provided");
    }
    options.has_error_many = true;
  }
  const PyRef constant = optional_attribute(object, "pelt_pruning_constant");
  if (constant && constant.get() != Py_None) {
    const double value = PyFloat_AsDouble(constant.get());
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
      PyErr_Clear();
      raise_protocol_error(PyExc_TypeError, "custom_cost.pelt_pruning_constant must be a finite float or None");
    }
    if (!std::isfinite(value)) {
      raise_protocol_error(PyExc_ValueError,
                           "custom_cost.pelt_pruning_constant must be finite, got " + format_plain_float(value));
    }
    options.pelt_pruning_constant = value;
  }
  return options;
}

}  // namespace tarnwell::python
