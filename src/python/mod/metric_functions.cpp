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
  static const ArgumentLayout layout = argument_layout("precision_recall", two_lists_and_margin);
  return run_function("computing precision and recall", layout, two_lists_and_margin, args, nargs, kwnames,
                      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction,
                         std::uint64_t margin) -> Result<PyRef> {
                        TARNWELL_TRY(scores, precision_recall(truth.values(), prediction.values(), margin));
                        return PyRef::require(Py_BuildValue("(dd)", scores.precision, scores.recall));
                      });
}

PyObject* hausdorff_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("hausdorff", two_lists);
  return run_function(
      "computing the Hausdorff metric", layout, two_lists, args, nargs, kwnames,
      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction) -> Result<PyRef> {
        TARNWELL_TRY(distance, hausdorff_distance(truth.values(), prediction.values()));
        return to_python(static_cast<double>(distance));
      });
}

PyObject* rand_index_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("rand_index", two_lists);
  return run_function("computing the Rand index", layout, two_lists, args, nargs, kwnames,
                      [](const BreakpointsArgument& truth, const BreakpointsArgument& prediction) -> Result<PyRef> {
                        TARNWELL_TRY(index, rand_index(truth.values(), prediction.values()));
                        return to_python(index);
                      });
}

}  // namespace

#define TARNWELL_DOC_TWO_LISTS                                                                                    \
  "truth, prediction: breakpoint lists of one signal (increasing sample indices, the last one n_samples in both); " \
  "their change points are every element but the last."

PyMethodDef* precision_recall_function() {
  return function_definition<&precision_recall_entry>(
      "precision_recall", two_lists_and_margin,
      "Precision and recall of the predicted change points: each true change point is matched to at most one "
      "unmatched predicted change point closer than margin samples (the nearest; the earlier on a tie). Returns "
      "(hits / predicted changes, hits / true changes).\n\n" TARNWELL_DOC_TWO_LISTS
      "\nmargin: the tolerance in samples (at least 1): a prediction counts when |p - t| < margin.");
}
PyMethodDef* hausdorff_function() {
  return function_definition<&hausdorff_entry>(
      "hausdorff", two_lists,
      "The Hausdorff distance between the two sets of change points, in samples: the largest distance from a "
      "change point of one list to the nearest of the other (n_samples when only one list has change points, 0 "
      "when neither has).\n\n" TARNWELL_DOC_TWO_LISTS);
}
PyMethodDef* rand_index_function() {
  return function_definition<&rand_index_entry>(
      "rand_index", two_lists,
      "The Rand index of the two segmentations: the share of pairs of samples on which they agree (both in one "
      "segment, or both in different segments), between 0 and 1.\n\n" TARNWELL_DOC_TWO_LISTS);
}

}  // namespace tarnwell::python
