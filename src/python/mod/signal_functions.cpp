// version() and validate_signal(signal).
#include "python/mod/class_builder.hpp"
#include "python/mod/parameter_docs.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/version.hpp"

namespace tarnwell::python {
namespace {

constexpr auto no_parameters = ParameterTable<>{};
constexpr auto signal_only = ParameterTable<ArrayParameter>{ArrayParameter{"signal"}};

PyObject* version_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("version", no_parameters);
  return run_function("reading the version", layout, no_parameters, args, nargs, kwnames,
                      []() -> Result<PyRef> { return PyRef::require(PyUnicode_FromString(module_version)); });
}

PyObject* validate_signal_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("validate_signal", signal_only);
  return run_function("validating a signal", layout, signal_only, args, nargs, kwnames,
                      [](const ArrayArgument& signal) -> Result<PyRef> {
                        TARNWELL_TRY(view, signal.signal_view());
                        TARNWELL_CHECK(check_finite(view));
                        return PyRef::require(Py_BuildValue("(KK)", static_cast<unsigned long long>(view.n_samples),
                                                            static_cast<unsigned long long>(view.n_features)));
                      });
}

}  // namespace

PyMethodDef* version_function() {
  return function_definition<&version_entry>("version", no_parameters,
                                             "The version of the compiled module, the same as __version__.");
}
PyMethodDef* validate_signal_function() {
  return function_definition<&validate_signal_entry>(
      "validate_signal", signal_only,
      "Check a signal as every fit does and return its shape (n_samples, n_features); raise the error a fit would "
      "raise otherwise.\n\n" TARNWELL_DOC_SIGNAL);
}

}  // namespace tarnwell::python
