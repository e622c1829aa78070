// What the module registers besides the cost classes (which come from the
// cost list): one accessor per search class (the cached type object,
// borrowed) and one per module function (its method definition). The
// registration order lives in module.cpp.
#pragma once

#include <Python.h>

namespace tarnwell::python {

// Search classes.
PyTypeObject* dynp_type();
PyTypeObject* pelt_type();
PyTypeObject* binseg_type();
PyTypeObject* bottom_up_type();
PyTypeObject* window_type();
PyTypeObject* l1_potts_type();
PyTypeObject* kernel_cpd_type();

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
PyMethodDef* cost_models_function();
PyMethodDef* use_l1_median_index_function();
PyMethodDef* pattern_segmentation_function();
// Interruption groups (interruption_groups.hpp).
PyMethodDef* watch_interruption_group_function();
// Progress callbacks (progress_reports.hpp).
PyMethodDef* set_progress_function();
PyMethodDef* interrupt_group_function();
PyMethodDef* end_interruption_group_function();

}  // namespace tarnwell::python
