// One way to run a search on whatever a search object has fitted. Each cost
// family says how its searches meet the interpreter: built-in costs and kernel
// states touch no Python object and run with the lock released; a family that
// calls back into Python (the custom-cost adapter) specialises CostFamily to
// keep the lock and to re-raise the exception a callback left behind.
#pragma once

#include <Python.h>

#include <memory>
#include <variant>

#include "core/interruption.hpp"
#include "core/error/error_kind.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell::python {

// Briefly takes the interpreter lock to run pending signal handlers; true
// when one raised (KeyboardInterrupt stays pending for the caller) or the
// thread's interruption group was interrupted (interruption_groups.hpp).
bool pending_signal_raised() noexcept;

// Runs a long fit (a cost model's own search, cost_descriptor.hpp long_fit)
// on owned data with the lock released; Ctrl-C ends it.
template <class Fit>
auto fit_without_interpreter_lock(Fit&& fit) {
  ReleasedInterpreterLock unlocked;
  InterruptionScope interruptible(&pending_signal_raised);
  return fit();
}

template <class Cost>
struct CostFamily {
  template <class Search>
  static Result<Segmentation> run(const Cost& cost, Search&& search) {
    ReleasedInterpreterLock unlocked;
    InterruptionScope interruptible(&pending_signal_raised);
    return search(cost);
  }
};

// Runs search(fitted cost) on a reference of its own to the fitted state, so a
// refit elsewhere cannot free it meanwhile, and returns the breakpoints.
template <class Cost, class Search>
Result<PyRef> predict_breakpoints(const std::shared_ptr<const Cost>& fitted, const char* class_name,
                                  Search&& search) {
  if (!fitted) return errors::fail(errors::not_fitted(class_name));
  const std::shared_ptr<const Cost> held = fitted;
  TARNWELL_TRY(segmentation, CostFamily<Cost>::run(*held, search));
  return PyRef::steal(breakpoints_to_list(segmentation.breakpoints));
}

// A state that may hold one of several families (an unfitted state holds none).
template <class... Handles, class Search>
Result<PyRef> predict_breakpoints(const std::variant<std::monostate, Handles...>& fitted, const char* class_name,
                                  Search&& search) {
  return std::visit(
      [&](const auto& handle) -> Result<PyRef> {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(handle)>, std::monostate>) {
          return errors::fail(errors::not_fitted(class_name));
        } else {
          return predict_breakpoints(handle, class_name, search);
        }
      },
      fitted);
}

}  // namespace tarnwell::python
