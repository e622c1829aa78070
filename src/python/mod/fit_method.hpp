// fit(signal), the same method on every class that fits a signal.
#pragma once

#include <Python.h>

#include <optional>

#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/signal_argument.hpp"

namespace tarnwell::python {

// fit(signal) of every class: binds and converts the signal, takes
// the object exclusively, runs `fit_state(state, signal)` and returns self.
template <class State, class FitState>
PyObject* fit_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     const char* operation, FitState&& fit_state) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit", {"signal"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    return with_exclusive<State>(self, operation, [&](State& state) -> Result<PyRef> {
      TARNWELL_CHECK(fit_state(state, *signal));
      return PyRef::borrow(self);
    });
  });
}

}  // namespace tarnwell::python
