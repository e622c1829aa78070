// What the module registers: one accessor per class (the cached type object,
// borrowed) and one method definition per module function. The registration
// order lives in module.cpp.
#pragma once

#include <Python.h>

namespace tarnwell::python {

// Module functions.
extern PyMethodDef version_function;
extern PyMethodDef validate_signal_function;

}  // namespace tarnwell::python
