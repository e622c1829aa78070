// One owning handle for Python references, and the "Python error already set"
// signal that binding code throws when a C-API call fails.
#pragma once

#include <Python.h>

#include <utility>

namespace tarnwell::python {

// Thrown after a failed C-API call that has set a Python exception; every
// entry point catches it and returns NULL. Deliberately not a std::exception,
// so it is never mistaken for an internal fault.
struct PythonErrorAlreadySet {};

class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a reference the caller owns (a "new reference" result).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }
  // Like steal, but a NULL result means the call failed with a Python error.
  static PyRef require(PyObject* object) {
    if (object == nullptr) throw PythonErrorAlreadySet{};
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller, typically as a function's return value.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace tarnwell::python
