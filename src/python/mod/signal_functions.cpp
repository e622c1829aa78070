// version() and validate_signal(signal).
#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/signal_argument.hpp"
#include "python/mod/version.hpp"

namespace tarnwell::python {
namespace {

PyObject* version(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("version", {}, 0);
    BoundArguments<0> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    return PyUnicode_FromString(module_version);
  });
}

PyObject* validate_signal(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("validate_signal", {"signal"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    return call_guarded("validating a signal", [&]() -> Result<PyRef> {
      TARNWELL_TRY(view, signal->signal_view());
      TARNWELL_CHECK(check_finite(view));
      return PyRef::require(Py_BuildValue("(KK)", static_cast<unsigned long long>(view.n_samples),
                                          static_cast<unsigned long long>(view.n_features)));
    });
  });
}

}  // namespace

PyMethodDef version_function = {"version", fastcall_method<&version>(),
                                METH_FASTCALL | METH_KEYWORDS, "version()\n--\n\n"};

PyMethodDef validate_signal_function = {
    "validate_signal", fastcall_method<&validate_signal>(),
    METH_FASTCALL | METH_KEYWORDS, "validate_signal(signal)\n--\n\n"};

}  // namespace tarnwell::python
