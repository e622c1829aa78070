// Module definition, execution step and the ordered member table.
#include <Python.h>

#include "python/mod/numpy_api.hpp"

#include "python/boundary/call_guard.hpp"
#include "python/error/exception.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/version.hpp"

namespace tarnwell::python {
namespace {


PyObject* class_object(PyTypeObject* type) {
  if (type == nullptr) return nullptr;
  return PyRef::borrow(reinterpret_cast<PyObject*>(type)).release();
}

PyObject* module_function(PyObject* module, PyMethodDef& definition) {
  PyRef module_name = PyRef::require(PyModule_GetNameObject(module));
  return PyCFunction_NewEx(&definition, nullptr, module_name.get());
}

struct ModuleMember {
  const char* name;
  PyObject* (*create)(PyObject* module);  // new reference, or NULL with an error set
};

// Registration order is part of the interface: it is the order of __all__.
const ModuleMember members[] = {
    {"TarnwellError", [](PyObject*) { return PyRef::borrow(tarnwell_error_class()).release(); }},
    {"__version__", [](PyObject*) { return PyUnicode_FromString(module_version); }},
    {"CostL2", [](PyObject*) { return class_object(cost_l2_type()); }},
    {"Dynp", [](PyObject*) { return class_object(dynp_type()); }},
    {"Pelt", [](PyObject*) { return class_object(pelt_type()); }},
    {"Binseg", [](PyObject*) { return class_object(binseg_type()); }},
    {"BottomUp", [](PyObject*) { return class_object(bottom_up_type()); }},
    {"Window", [](PyObject*) { return class_object(window_type()); }},
    {"KernelCPD", [](PyObject*) { return class_object(kernel_cpd_type()); }},
    {"version", [](PyObject* module) { return module_function(module, version_function); }},
    {"validate_signal", [](PyObject* module) { return module_function(module, validate_signal_function); }},
    {"hausdorff", [](PyObject* module) { return module_function(module, hausdorff_function); }},
    {"precision_recall", [](PyObject* module) { return module_function(module, precision_recall_function); }},
    {"rand_index", [](PyObject* module) { return module_function(module, rand_index_function); }},
    {"pw_constant", [](PyObject* module) { return module_function(module, pw_constant_function); }},
    {"pw_linear", [](PyObject* module) { return module_function(module, pw_linear_function); }},
    {"pw_normal", [](PyObject* module) { return module_function(module, pw_normal_function); }},
    {"pw_wavy", [](PyObject* module) { return module_function(module, pw_wavy_function); }},
};

void add_member(PyObject* module, const ModuleMember& member) {
  PyRef value = PyRef::require(member.create(module));
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  PyRef all_list;
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonErrorAlreadySet{};
    PyErr_Clear();
    all_list = PyRef::require(PyList_New(0));
    if (PyModule_AddObjectRef(module, "__all__", all_list.get()) < 0) throw PythonErrorAlreadySet{};
  } else {
    all_list = PyRef::steal(all);
  }
  PyRef name = PyRef::require(PyUnicode_FromString(member.name));
  if (PyList_Append(all_list.get(), name.get()) < 0) throw PythonErrorAlreadySet{};
  if (PyModule_AddObjectRef(module, member.name, value.get()) < 0) throw PythonErrorAlreadySet{};
}

int execute_module(PyObject* module) {
  return at_entry([&]() -> int {
    if (!PyModule_Check(module)) {
      PyErr_SetString(PyExc_TypeError, "tarnwell extension must be executed on a module object");
      return -1;
    }
    PyObject* outcome = call_guarded("initializing the tarnwell extension", [&]() -> PyObject* {
      if (PyArray_ImportNumPyAPI() < 0) return nullptr;
      for (const ModuleMember& member : members) add_member(module, member);
      Py_RETURN_NONE;
    });
    if (outcome == nullptr) return -1;
    Py_DECREF(outcome);
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&execute_module)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_tarnwell",
    nullptr,
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tarnwell::python

PyMODINIT_FUNC PyInit__tarnwell() { return PyModuleDef_Init(&tarnwell::python::module_definition); }
