// The call guard: every Python-visible operation runs its body through it.
// A returned ErrorKind becomes its Python exception; an escaped internal fault
// becomes TarnwellError "internal native panic while {operation}: {detail}"
// and nothing is printed.
#pragma once

#include <Python.h>

#include <concepts>
#include <exception>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "core/error/error_kind.hpp"
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
PyObject* raise_internal_panic(const char* operation, const char* detail) noexcept;
// MemoryError "memory allocation failed while {operation}"; if even that
// cannot be built, the interpreter's own MemoryError.
PyObject* raise_allocation_failure(const char* operation) noexcept;

// Turns a body's outcome into the call's result: a new reference or NULL.
inline PyObject* to_outcome(PyObject* object) { return object; }
inline PyObject* to_outcome(PyRef object) { return object.release(); }
template <class T>
PyObject* to_outcome(Result<T> result) {
  if (!result) return raise_error(result.error());
  return to_outcome(std::move(*result));
}

// The whole of a Python-visible call runs inside: argument binding and
// conversion, object access, the body and the conversion of its result.
// Running out of memory anywhere on the way is the memory-allocation error
// (MemoryError) of the operation; any other escaped fault is reported as an
// internal panic. Nothing escapes to abort the process.
template <class Body>
PyObject* call_guarded(const char* operation, Body&& body) noexcept {
  install_fault_hook_once();
  GuardDepth depth;
  try {
    return to_outcome(body());
  } catch (const PythonErrorAlreadySet&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return raise_allocation_failure(operation);
  } catch (const std::length_error&) {
    // A container asked for more elements than it can index: the same
    // shortage of memory, reached through a size computation.
    return raise_allocation_failure(operation);
  } catch (const std::exception& fault) {
    return raise_internal_panic(operation, fault.what());
  } catch (...) {
    return raise_internal_panic(operation, "non-string panic payload");
  }
}

// For the module's execution slot, which reports failure as -1.
template <class Body>
int call_guarded_status(const char* operation, Body&& body) noexcept {
  PyObject* outcome = call_guarded(operation, std::forward<Body>(body));
  if (outcome == nullptr) return -1;
  Py_DECREF(outcome);
  return 0;
}

}  // namespace tarnwell::python
