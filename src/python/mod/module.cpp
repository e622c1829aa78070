// Module definition, execution step and the ordered member table.
#include <Python.h>

#include "python/mod/numpy_api.hpp"

#include "cost/cost_list.hpp"
#include "python/boundary/call_guard.hpp"
#include "python/error/exception.hpp"
#include "python/mod/cost_class.hpp"
#include "python/mod/model_search_class.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/version.hpp"

namespace tarnwell::python {
namespace {

// Sets the module attribute and appends the name to __all__, which is
// created on first use.
void add_member(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) throw PythonErrorAlreadySet{};
  PyRef owned = PyRef::borrow(value);
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
  PyRef text = PyRef::require(PyUnicode_FromString(name));
  if (PyList_Append(all_list.get(), text.get()) < 0) throw PythonErrorAlreadySet{};
  if (PyModule_AddObjectRef(module, name, owned.get()) < 0) throw PythonErrorAlreadySet{};
}

void add_class(PyObject* module, const char* name, PyTypeObject* type) {
  add_member(module, name, reinterpret_cast<PyObject*>(type));
}

PyRef new_function(PyObject* module, PyMethodDef* definition) {
  PyRef module_name = PyRef::require(PyModule_GetNameObject(module));
  return PyRef::require(PyCFunction_NewEx(definition, nullptr, module_name.get()));
}

void add_function(PyObject* module, PyMethodDef* definition) {
  add_member(module, definition->ml_name, new_function(module, definition).get());
}

// A module attribute that is not part of __all__.
void add_private_function(PyObject* module, PyMethodDef* definition) {
  if (PyModule_AddObjectRef(module, definition->ml_name, new_function(module, definition).get()) < 0) {
    throw PythonErrorAlreadySet{};
  }
}

// Each cost model with a class of its own, in list order; an alias class
// name (CostMl) follows the class it names.
template <class... Models>
void add_cost_classes(PyObject* module, CostList<Models...>) {
  auto add_one = [&]<class Model>() {
    if constexpr (requires { Model::class_name; }) {
      PyTypeObject* type = CostClass<Model>::type();
      add_class(module, Model::class_name.data(), type);
      if constexpr (requires { Model::alias_class_name; }) add_class(module, Model::alias_class_name.data(), type);
    }
  };
  (add_one.template operator()<Models>(), ...);
}

// Each search of the list, in list order: its generated class, or the class
// of its own.
template <class... Searches>
void add_search_classes(PyObject* module, SearchList<Searches...>) {
  auto add_one = [&]<class Search>() {
    if constexpr (requires { Search::predict_description; }) {
      add_class(module, Search::class_name.data(), generated_search_type<Search>());
    } else {
      add_class(module, Search::class_name.data(), search_type<Search>());
    }
  };
  (add_one.template operator()<Searches>(), ...);
}

// Registration order is part of the interface: it is the order of __all__.
void add_members(PyObject* module) {
  add_member(module, "TarnwellError", tarnwell_error_class());
  PyRef version = PyRef::require(PyUnicode_FromString(module_version));
  add_member(module, "__version__", version.get());
  add_cost_classes(module, BuiltinCostModels{});
  add_search_classes(module, BuiltinSearches{});
  for (PyMethodDef* function : {version_function(), validate_signal_function(), hausdorff_function(),
                                precision_recall_function(), rand_index_function(), pw_constant_function(),
                                pw_linear_function(), pw_normal_function(), pw_wavy_function()}) {
    add_function(module, function);
  }
  for (PyMethodDef* function : {cost_models_function(), cost_facts_function(), segment_parameters_function(),
                                model_cost_function(), searches_function(), force_portable_paths_function(),
                                vector_path_counts_function(), use_l1_median_index_function(),
                                pattern_segmentation_function(), watch_interruption_group_function(),
                                interrupt_group_function(), end_interruption_group_function(),
                                set_progress_function()}) {
    add_private_function(module, function);
  }
}

int execute_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "tarnwell extension must be executed on a module object");
    return -1;
  }
  return call_guarded_status("initializing the tarnwell extension", [&]() -> PyObject* {
    if (PyArray_ImportNumPyAPI() < 0) return nullptr;
    add_members(module);
    Py_RETURN_NONE;
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
