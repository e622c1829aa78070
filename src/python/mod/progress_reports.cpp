#include "python/mod/progress_reports.hpp"

#include <utility>

#include "core/interruption.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

// A strong reference, owned by the thread that installed it.
thread_local PyObject* progress_callback = nullptr;

constexpr auto callback_only = ParameterTable<ObjectParameter>{ObjectParameter{"callback"}};

PyObject* set_progress_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_set_progress", callback_only);
  return run_function("installing a progress callback", layout, callback_only, args, nargs, kwnames,
                      [](PyObject* callback) -> Result<PyRef> {
                        Py_XINCREF(callback);
                        PyObject* previous = std::exchange(progress_callback, callback);
                        return previous == nullptr ? PyRef::borrow(Py_None) : PyRef::steal(previous);
                      });
}

}  // namespace

bool report_progress() noexcept {
  if (progress_callback == nullptr) return true;
  const SearchProgress progress = reported_progress();
  PyObject* result = PyObject_CallFunction(progress_callback, "KK", static_cast<unsigned long long>(progress.done),
                                           static_cast<unsigned long long>(progress.total));
  if (result == nullptr) return false;
  Py_DECREF(result);
  return true;
}

PyMethodDef* set_progress_function() {
  return function_definition<&set_progress_entry>(
      "_set_progress", callback_only,
      "Call `callback(done, total)` about every 50 ms while a search runs on this thread (None: stop); returns "
      "the callback installed before.");
}

}  // namespace tarnwell::python
