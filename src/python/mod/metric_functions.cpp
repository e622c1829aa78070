// precision_recall(truth, prediction, margin=10), hausdorff(truth, prediction)
// and rand_index(truth, prediction). Both lists are converted in declaration
// order: a bad `truth` is reported even when `prediction` is bad too.
#include "metrics/hausdorff.hpp"
#include "metrics/precision_recall.hpp"
#include "metrics/rand_index.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

constexpr auto two_lists = ParameterTable<BreakpointsParameter, BreakpointsParameter>{
    BreakpointsParameter{"truth"}, BreakpointsParameter{"prediction"}};
constexpr auto two_lists_and_margin = std::tuple_cat(two_lists, std::tuple{UnsignedParameter{"margin", 10}});

PyObject* precision_recall_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentSpec spec = argument_spec("precision_recall", two_lists_and_margin);
  return run_function("computing precision and recall", spec, two_lists_and_margin, args, nargs, kwnames,
                      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction,
                         std::uint64_t margin) -> Result<PyRef> {
                        TARNWELL_TRY(scores, precision_recall(truth.values(), prediction.values(), margin));
                        return PyRef::require(Py_BuildValue("(dd)", scores.precision, scores.recall));
                      });
}

PyObject* hausdorff_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentSpec spec = argument_spec("hausdorff", two_lists);
  return run_function(
      "computing the Hausdorff metric", spec, two_lists, args, nargs, kwnames,
      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction) -> Result<PyRef> {
        TARNWELL_TRY(distance, hausdorff_distance(truth.values(), prediction.values()));
        return to_python(static_cast<double>(distance));
      });
}

PyObject* rand_index_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentSpec spec = argument_spec("rand_index", two_lists);
  return run_function("computing the Rand index", spec, two_lists, args, nargs, kwnames,
                      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction) -> Result<PyRef> {
                        TARNWELL_TRY(index, rand_index(truth.values(), prediction.values()));
                        return to_python(index);
                      });
}

}  // namespace

PyMethodDef* precision_recall_function() {
  return function_definition<&precision_recall_entry>("precision_recall", two_lists_and_margin);
}
PyMethodDef* hausdorff_function() { return function_definition<&hausdorff_entry>("hausdorff", two_lists); }
PyMethodDef* rand_index_function() { return function_definition<&rand_index_entry>("rand_index", two_lists); }

}  // namespace tarnwell::python
