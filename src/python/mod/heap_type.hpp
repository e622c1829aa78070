// The shared machinery of the module's classes: instance layout, per-object
// access flags, allocation and deallocation, lazily created heap types, and
// the released interpreter lock.
#pragma once

#include <Python.h>

#include <new>
#include <optional>
#include <utility>

#include "python/boundary/call_guard.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

// Readers share an object; a writer (fit, fit_predict) excludes everyone.
// Touched only with the interpreter lock held, so plain fields suffice.
struct BorrowFlag {
  Py_ssize_t readers = 0;
  bool writer = false;
};

template <class State>
struct Instance {
  PyObject_HEAD
  BorrowFlag borrow;
  State state;
  // The constructor's (or set_params's) arguments as given, a dict by name;
  // get_params reports these objects (estimator_parameters.hpp).
  PyObject* given_parameters;
};

template <class State>
Instance<State>* instance_of(PyObject* self) noexcept {
  return reinterpret_cast<Instance<State>*>(self);
}

class SharedAccess {
 public:
  explicit SharedAccess(BorrowFlag& flag) : flag_(&flag) {
    if (flag.writer) {
      flag_ = nullptr;
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    ++flag.readers;
  }
  ~SharedAccess() {
    if (flag_ != nullptr) --flag_->readers;
  }
  SharedAccess(const SharedAccess&) = delete;
  SharedAccess& operator=(const SharedAccess&) = delete;
  explicit operator bool() const noexcept { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

class ExclusiveAccess {
 public:
  explicit ExclusiveAccess(BorrowFlag& flag) : flag_(&flag) {
    if (flag.writer || flag.readers != 0) {
      flag_ = nullptr;
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    flag.writer = true;
  }
  ~ExclusiveAccess() {
    if (flag_ != nullptr) flag_->writer = false;
  }
  ExclusiveAccess(const ExclusiveAccess&) = delete;
  ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
  explicit operator bool() const noexcept { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

// Runs `body` with the object shared (reading calls) or exclusive (changing
// calls); a conflicting access fails at once instead of waiting. Called from
// inside the call guard: a conflict throws PythonErrorAlreadySet.
template <class State, class Body>
decltype(auto) with_shared(PyObject* self, Body&& body) {
  Instance<State>* instance = instance_of<State>(self);
  SharedAccess access(instance->borrow);
  if (!access) throw PythonErrorAlreadySet{};
  return body(std::as_const(instance->state));
}

template <class State, class Body>
decltype(auto) with_exclusive(PyObject* self, Body&& body) {
  Instance<State>* instance = instance_of<State>(self);
  ExclusiveAccess access(instance->borrow);
  if (!access) throw PythonErrorAlreadySet{};
  return body(instance->state);
}

// Allocates an instance of `type` holding `state`.
template <class State>
Result<PyRef> new_instance(PyTypeObject* type, State state) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) throw PythonErrorAlreadySet{};
  Instance<State>* instance = instance_of<State>(self);
  new (&instance->borrow) BorrowFlag{};
  new (&instance->state) State(std::move(state));
  instance->given_parameters = nullptr;
  return PyRef::steal(self);
}

template <class State>
void instance_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  Py_CLEAR(instance_of<State>(self)->given_parameters);
  instance_of<State>(self)->state.~State();
  type->tp_free(self);
  Py_DECREF(type);
}

// States that hold Python references expose traverse() and clear().
template <class State>
int instance_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(instance_of<State>(self)->given_parameters);
  if constexpr (requires(State& state) { state.traverse(visit, arg); }) {
    return instance_of<State>(self)->state.traverse(visit, arg);
  }
  return 0;
}

template <class State>
int instance_clear(PyObject* self) {
  Py_CLEAR(instance_of<State>(self)->given_parameters);
  if constexpr (requires(State& state) { state.clear(); }) instance_of<State>(self)->state.clear();
  return 0;
}

// Flags of every class: not subclassable, no __dict__, no weak references.
inline constexpr unsigned int instance_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;

// Releases the interpreter lock for the lifetime of the guard; used only
// around searches that touch no Python object.
class ReleasedInterpreterLock {
 public:
  ReleasedInterpreterLock() noexcept : saved_(PyEval_SaveThread()) {}
  ~ReleasedInterpreterLock() { PyEval_RestoreThread(saved_); }
  ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
  ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;

 private:
  PyThreadState* saved_;
};

PyObject* new_bool(bool value) noexcept;

}  // namespace tarnwell::python
