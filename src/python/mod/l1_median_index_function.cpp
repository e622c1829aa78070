// _use_l1_median_index(enabled): the tests' handle on the L1 median index, so
// that indexed and sorted L1 costs are compared on the same problems.
// Private: not in __all__.
#include "cost/l1/median_index_switch.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

constexpr auto enabled_flag = ParameterTable<ObjectParameter>{ObjectParameter{"enabled"}};

PyObject* use_l1_median_index_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_use_l1_median_index", enabled_flag);
  return run_function("switching the L1 median index", layout, enabled_flag, args, nargs, kwnames,
                      [](PyObject* enabled) -> Result<PyRef> {
                        if (enabled == nullptr) return to_python(l1_median_index_enabled());
                        const int truth = PyObject_IsTrue(enabled);
                        if (truth < 0) throw PythonErrorAlreadySet{};
                        return to_python(set_l1_median_index_enabled(truth != 0));
                      });
}

}  // namespace

PyMethodDef* use_l1_median_index_function() {
  return function_definition<&use_l1_median_index_entry>(
      "_use_l1_median_index", enabled_flag,
      "Whether CostL1 fits from now on build their median index (None: leave the setting); returns the previous "
      "setting. For the tests, which compare the indexed costs with the sorted ones.");
}

}  // namespace tarnwell::python
