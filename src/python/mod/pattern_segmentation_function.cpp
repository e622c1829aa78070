// _pattern_segmentation(signal, width=0, neighbours=3, threshold=3.5): the
// pattern model's own detection (a neighbour search, then binary
// segmentation with a test per split), for the package's detect. Private:
// not in __all__.
#include "cost/pattern/pattern_cost.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/pattern_split/tested_pattern_split.hpp"

namespace tarnwell::python {
namespace {

constexpr auto parameters = ParameterTable<ArrayParameter, UnsignedParameter, UnsignedParameter, RealParameter>{
    ArrayParameter{"signal"}, UnsignedParameter{"width", 0}, UnsignedParameter{"neighbours", 3},
    RealParameter{"threshold", 3.5, "3.5"}};

PyObject* pattern_segmentation_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_pattern_segmentation", parameters);
  return run_function(
      "segmenting patterns", layout, parameters, args, nargs, kwnames,
      [](const ArrayArgument& signal, std::uint64_t width, std::uint64_t neighbours,
         double threshold) -> Result<PyRef> {
        if (neighbours == 0) return errors::fail(errors::value_error_text("neighbours must be positive, got 0"));
        TARNWELL_TRY(view, signal.signal_view());
        TARNWELL_TRY(owned, Signal::copy_from(view));
        std::uint64_t used_width = 0;
        Result<Segmentation> segmentation = fit_without_interpreter_lock([&]() -> Result<Segmentation> {
          TARNWELL_TRY(cost, PatternCost::fit(owned, width, neighbours));
          used_width = cost.width();
          return tested_pattern_segmentation(cost, PatternSplitTest{threshold, 5});
        });
        if (!segmentation) return errors::fail(std::move(segmentation.error()));
        PyRef breakpoints = PyRef::require(breakpoints_to_list(segmentation->breakpoints));
        return PyRef::require(Py_BuildValue("(OK)", breakpoints.get(), static_cast<unsigned long long>(used_width)));
      });
}

}  // namespace

PyMethodDef* pattern_segmentation_function() {
  return function_definition<&pattern_segmentation_entry>(
      "_pattern_segmentation", parameters,
      "Breakpoints of the pattern model's own detection and the subsequence width it used (width 0: learned). "
      "For tarnwell.detect.");
}

}  // namespace tarnwell::python
