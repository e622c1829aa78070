// Getters for properties that only read a stored value: they cannot fail and
// run without the call guard. Instantiated per member pointer, so a class's
// property table stays declarative.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

#include "python/mod/heap_type.hpp"

namespace tarnwell::python {

// Member is a pointer to an std::uint64_t data member of State (or a base).
template <class State, auto Member>
PyObject* get_unsigned(PyObject* self, void*) {
  const std::uint64_t value = instance_of<State>(self)->state.*Member;
  return PyLong_FromUnsignedLongLong(value);
}

template <class State, auto Member>
PyObject* get_text(PyObject* self, void*) {
  const std::string& text = instance_of<State>(self)->state.*Member;
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// Predicate is a pointer to a const member function returning bool.
template <class State, auto Predicate>
PyObject* get_flag(PyObject* self, void*) {
  const State& state = instance_of<State>(self)->state;
  return new_bool((state.*Predicate)());
}

}  // namespace tarnwell::python
