// What the module registers: one accessor per class (the cached type object,
// borrowed) and one method definition per module function. The registration
// order lives in module.cpp.
#pragma once

#include <Python.h>

namespace tarnwell::python {

// Classes.
PyTypeObject* cost_l2_type();
PyTypeObject* dynp_type();
PyTypeObject* pelt_type();
PyTypeObject* binseg_type();
PyTypeObject* bottom_up_type();
PyTypeObject* window_type();
PyTypeObject* kernel_cpd_type();

// Module functions.
extern PyMethodDef version_function;
extern PyMethodDef validate_signal_function;
extern PyMethodDef hausdorff_function;
extern PyMethodDef precision_recall_function;
extern PyMethodDef rand_index_function;
extern PyMethodDef pw_constant_function;
extern PyMethodDef pw_linear_function;
extern PyMethodDef pw_normal_function;
extern PyMethodDef pw_wavy_function;

}  // namespace tarnwell::python
