// What the module registers: the cost classes (from the cost list), one class
// per entry of the list of searches, and the module functions (their method
// definitions). The registration order lives in module.cpp.
#pragma once

#include <Python.h>

#include "search/search_list.hpp"

namespace tarnwell::python {

// The class of a search of the list (the cached type object, borrowed). A
// search declared by its descriptor alone gets a generated class
// (model_search_class.hpp); the searches with a class of their own define
// their specialisation in their class file.
template <class Search>
PyTypeObject* search_type();
template <>
PyTypeObject* search_type<PeltSearch>();
template <>
PyTypeObject* search_type<DynpSearch>();
template <>
PyTypeObject* search_type<WindowSearch>();
template <>
PyTypeObject* search_type<L1PottsSearch>();
template <>
PyTypeObject* search_type<KernelCPDSearch>();

// Module functions.
PyMethodDef* version_function();
PyMethodDef* validate_signal_function();
PyMethodDef* hausdorff_function();
PyMethodDef* precision_recall_function();
PyMethodDef* rand_index_function();
PyMethodDef* pw_constant_function();
PyMethodDef* pw_linear_function();
PyMethodDef* pw_normal_function();
PyMethodDef* pw_wavy_function();

// Private module functions (not in __all__).
PyMethodDef* force_portable_paths_function();
PyMethodDef* vector_path_counts_function();
PyMethodDef* use_l1_median_index_function();
PyMethodDef* pattern_segmentation_function();
// The cost list and the list of searches as Python data (cost_catalogue.cpp,
// search_catalogue.cpp).
PyMethodDef* cost_models_function();
PyMethodDef* cost_facts_function();
PyMethodDef* segment_parameters_function();
PyMethodDef* model_cost_function();
PyMethodDef* searches_function();
// Interruption groups (interruption_groups.hpp).
PyMethodDef* watch_interruption_group_function();
// Progress callbacks (progress_reports.hpp).
PyMethodDef* set_progress_function();
PyMethodDef* interrupt_group_function();
PyMethodDef* end_interruption_group_function();

}  // namespace tarnwell::python
