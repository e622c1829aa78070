// The one place where an ErrorKind becomes a Python exception.
#pragma once

#include <Python.h>

#include "core/error/error_kind.hpp"

namespace tarnwell::python {

// The module's exception class, created once per process on first use.
// Returns a borrowed reference, or NULL with a Python error set.
PyObject* tarnwell_error_class();

// Sets the Python exception for the error and returns NULL.
PyObject* raise_error(const ErrorKind& error);

}  // namespace tarnwell::python
