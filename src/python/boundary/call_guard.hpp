// The call guard: every Python-visible operation runs its body through it.
// A returned ErrorKind becomes its Python exception; an escaped internal fault
// becomes TarnwellError "internal native panic while {operation}: {detail}"
// and nothing is printed.
#pragma once

#include <Python.h>

#include <concepts>
#include <exception>
#include <type_traits>

#include "python/error/error_kind.hpp"
#include "python/error/exception.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

// Counts the guarded calls active on this thread; the fault-report hook stays
// silent while it is above zero.
class GuardDepth {
 public:
  GuardDepth() noexcept;
  ~GuardDepth();
  GuardDepth(const GuardDepth&) = delete;
  GuardDepth& operator=(const GuardDepth&) = delete;
  static unsigned current() noexcept;
};

void install_fault_hook_once() noexcept;
PyObject* raise_internal_panic(const char* operation, const char* detail);

// Turns a body's outcome into the call's result: a new reference or NULL.
inline PyObject* to_outcome(PyObject* object) { return object; }
inline PyObject* to_outcome(PyRef object) { return object.release(); }
template <class T>
PyObject* to_outcome(Result<T> result) {
  if (!result) return raise_error(result.error());
  return to_outcome(std::move(*result));
}

template <class Body>
PyObject* call_guarded(const char* operation, Body&& body) {
  install_fault_hook_once();
  GuardDepth depth;
  try {
    return to_outcome(body());
  } catch (const PythonErrorAlreadySet&) {
    return nullptr;
  } catch (const std::exception& fault) {
    return raise_internal_panic(operation, fault.what());
  } catch (...) {
    return raise_internal_panic(operation, "non-string panic payload");
  }
}

// The outermost frame of every C entry point. Guarded bodies already catch
// everything; a fault escaping the binding layer's own code is unrecoverable.
template <class Entry>
auto at_entry(Entry&& entry) noexcept -> decltype(entry()) {
  try {
    return entry();
  } catch (const PythonErrorAlreadySet&) {
    if constexpr (std::is_pointer_v<decltype(entry())>) {
      return nullptr;
    } else {
      return -1;
    }
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

}  // namespace tarnwell::python
