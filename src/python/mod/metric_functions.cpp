// precision_recall(truth, prediction, margin=10), hausdorff(truth, prediction)
// and rand_index(truth, prediction).
#include "metrics/hausdorff.hpp"
#include "metrics/precision_recall.hpp"
#include "metrics/rand_index.hpp"
#include "python/boundary/call_guard.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

constexpr std::uint64_t default_margin = 10;

// Both lists, converted in declaration order: a bad `truth` is reported even
// when `prediction` is bad too.
struct BreakpointArguments {
  std::vector<std::uint64_t> truth;
  std::vector<std::uint64_t> prediction;

  static std::optional<BreakpointArguments> convert(PyObject* truth, PyObject* prediction) {
    std::optional<std::vector<std::uint64_t>> converted_truth = to_breakpoints(truth, "truth");
    if (!converted_truth) return std::nullopt;
    std::optional<std::vector<std::uint64_t>> converted_prediction = to_breakpoints(prediction, "prediction");
    if (!converted_prediction) return std::nullopt;
    return BreakpointArguments{std::move(*converted_truth), std::move(*converted_prediction)};
  }
};

PyObject* precision_recall_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("precision_recall", {"truth", "prediction", "margin"}, 2);
    BoundArguments<3> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<BreakpointArguments> lists = BreakpointArguments::convert(bound[0], bound[1]);
    if (!lists) return nullptr;
    std::optional<std::uint64_t> margin = default_margin;
    if (bound[2] != nullptr) margin = to_unsigned(bound[2], "margin");
    if (!margin) return nullptr;
    return call_guarded("computing precision and recall", [&]() -> Result<PyRef> {
      TARNWELL_TRY(scores, precision_recall(lists->truth, lists->prediction, *margin));
      return PyRef::require(Py_BuildValue("(dd)", scores.precision, scores.recall));
    });
  });
}

PyObject* hausdorff_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("hausdorff", {"truth", "prediction"}, 2);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<BreakpointArguments> lists = BreakpointArguments::convert(bound[0], bound[1]);
    if (!lists) return nullptr;
    return call_guarded("computing the Hausdorff metric", [&]() -> Result<PyRef> {
      TARNWELL_TRY(distance, hausdorff_distance(lists->truth, lists->prediction));
      return PyRef::require(PyFloat_FromDouble(static_cast<double>(distance)));
    });
  });
}

PyObject* rand_index_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("rand_index", {"truth", "prediction"}, 2);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<BreakpointArguments> lists = BreakpointArguments::convert(bound[0], bound[1]);
    if (!lists) return nullptr;
    return call_guarded("computing the Rand index", [&]() -> Result<PyRef> {
      TARNWELL_TRY(index, rand_index(lists->truth, lists->prediction));
      return PyRef::require(PyFloat_FromDouble(index));
    });
  });
}

}  // namespace

PyMethodDef precision_recall_function = {
    "precision_recall", fastcall_method<&precision_recall_entry>(),
    METH_FASTCALL | METH_KEYWORDS, "precision_recall(truth, prediction, margin=10)\n--\n\n"};

PyMethodDef hausdorff_function = {
    "hausdorff", fastcall_method<&hausdorff_entry>(),
    METH_FASTCALL | METH_KEYWORDS, "hausdorff(truth, prediction)\n--\n\n"};

PyMethodDef rand_index_function = {
    "rand_index", fastcall_method<&rand_index_entry>(),
    METH_FASTCALL | METH_KEYWORDS, "rand_index(truth, prediction)\n--\n\n"};

}  // namespace tarnwell::python
