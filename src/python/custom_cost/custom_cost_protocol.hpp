// The protocol a Python object follows to stand in for a built-in cost:
// callable fit(signal) and error(start, end), a positive integer min_size,
// and optionally a callable error_many(starts, ends) and a
// pelt_pruning_constant. Violations are Python exceptions of their own
// (TypeError or ValueError), raised here and signalled by throwing
// PythonErrorAlreadySet.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

namespace tarnwell::python {

// Checks fit, error and min_size in that order and returns min_size.
std::uint64_t check_custom_cost_protocol(PyObject* object);

// The optional members, read after the object's fit.
struct CustomCostOptions {
  bool has_error_many = false;
  std::optional<double> pelt_pruning_constant;  // none: Pelt searches unpruned
};

CustomCostOptions read_custom_cost_options(PyObject* object);

// Interned attribute names, created once.
PyObject* attribute_name_fit();
PyObject* attribute_name_error();
PyObject* attribute_name_error_many();

}  // namespace tarnwell::python
