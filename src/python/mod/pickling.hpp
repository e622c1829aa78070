// Pickling of every class, one mechanism for all: __reduce__ returns
// (type, constructor arguments) for an unfitted object and adds the saved
// fitted state, a bytes payload (see core/saved_state.hpp), for a fitted one;
// unpickling constructs the object again (all constructor checks apply) and
// passes the payload to __setstate__, which rebuilds the fitted state and
// replaces the current one only once the new one is complete.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "core/dense_matrix.hpp"
#include "core/saved_state.hpp"
#include "python/mod/class_builder.hpp"

namespace tarnwell::python {

// Python values of constructor arguments, beyond those of class_builder.hpp.
inline PyRef argument_to_python(PyObject* object) {  // a Python object argument, None when absent
  return PyRef::borrow(object == nullptr ? Py_None : object);
}
inline PyRef argument_to_python(const PyRef& object) { return PyRef::borrow(object.get()); }
PyRef argument_to_python(const DenseMatrix& matrix);  // a new float64 array
PyRef argument_to_python(const std::optional<DenseMatrix>& matrix);
template <class Value>
PyRef argument_to_python(const Value& value) {
  return to_python(value);
}

// A tuple of the Python forms of `values`.
template <class... Values>
PyRef arguments_tuple(const std::tuple<Values...>& values) {
  return std::apply(
      [](const auto&... value) {
        PyRef items[] = {argument_to_python(value)..., PyRef()};
        PyRef tuple = PyRef::require(PyTuple_New(sizeof...(Values)));
        for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof...(Values)); ++i) {
          PyTuple_SET_ITEM(tuple.get(), i, items[i].release());
        }
        return tuple;
      },
      values);
}

// The payload of `save(writer)`, written straight into a new bytes object.
template <class Save>
PyRef saved_state_bytes(std::string_view class_name, Save&& save) {
  StateWriter measure(nullptr, class_name);
  save(measure);
  measure.finish();
  PyRef bytes = PyRef::require(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(measure.size())));
  StateWriter writer(reinterpret_cast<std::byte*>(PyBytes_AS_STRING(bytes.get())), class_name);
  save(writer);
  writer.finish();
  return bytes;
}

// (type, arguments) or (type, arguments, state).
PyRef reduce_value(PyObject* self, PyRef arguments, std::optional<PyRef> state);

// The payload given to __setstate__: bytes, or a TypeError naming the class.
std::span<const std::byte> saved_state_payload(PyObject* state, std::string_view class_name);

// Docstrings of the two methods.
inline constexpr const char* reduce_doc =
    "__reduce__($self, /)\n--\n\n"
    "Return the pickled form: the class, its constructor arguments and, when fitted, the fitted state as bytes.";
inline constexpr const char* setstate_doc =
    "__setstate__($self, state)\n--\n\n"
    "Restore a fitted state produced by __reduce__ (used by pickle and copy).\n\n"
    "state is the bytes payload of a fitted object of this class with the same constructor arguments; a damaged, "
    "foreign or inconsistent payload raises ValueError and leaves the object unchanged.";

// The method entries for a class whose instances hold State with a `fitted`
// member and `is_fitted()`. Policy supplies:
//   static const char* class_name();
//   static PyRef constructor_arguments(const State&);
//   static void save(const State&, StateWriter&);                                  // fitted only
//   static Result<decltype(State::fitted)> restore(const State&, StateReader&);
template <class State, class Policy>
struct Pickling {
  static std::string& reducing() {
    static std::string operation = std::string("pickling ") + Policy::class_name();
    return operation;
  }
  static std::string& restoring() {
    static std::string operation = std::string("restoring ") + Policy::class_name();
    return operation;
  }

  static PyObject* reduce(PyObject* self, PyObject*) {
    return call_guarded(reducing().c_str(), [&]() -> Result<PyRef> {
      return with_shared<State>(self, [&](const State& state) -> Result<PyRef> {
        PyRef arguments = Policy::constructor_arguments(state);
        if (!state.is_fitted()) return reduce_value(self, std::move(arguments), std::nullopt);
        PyRef payload = saved_state_bytes(Policy::class_name(), [&](StateWriter& out) { Policy::save(state, out); });
        return reduce_value(self, std::move(arguments), std::move(payload));
      });
    });
  }

  static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout("__setstate__", {"state"}, 1);
    return call_guarded(restoring().c_str(), [&]() -> Result<PyRef> {
      PyObject* slots[1] = {nullptr};
      if (!layout.bind_fastcall(args, nargs, kwnames, slots)) throw PythonErrorAlreadySet{};
      const std::span<const std::byte> bytes = saved_state_payload(slots[0], Policy::class_name());
      // The bytes object stays alive (and unchanged: bytes are immutable) for the call.
      return with_exclusive<State>(self, [&](State& state) -> Result<PyRef> {
        TARNWELL_TRY(reader, StateReader::open(bytes, Policy::class_name()));
        TARNWELL_TRY(fitted, Policy::restore(std::as_const(state), reader));
        TARNWELL_CHECK(reader.finish());
        state.fitted = std::move(fitted);
        return PyRef::borrow(Py_None);
      });
    });
  }

  static void add_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back({"__reduce__", &reduce, METH_NOARGS, reduce_doc});
    methods.push_back(fastcall_definition("__setstate__", &setstate, setstate_doc));
  }
};

}  // namespace tarnwell::python
