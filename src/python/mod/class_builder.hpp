// What every class of the module is built from: guarded method entries that
// bind their arguments from a parameter table, read-only properties, and the
// type object assembled once per process from these parts.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/boundary/call_guard.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/parameter_table.hpp"

namespace tarnwell::python {

enum class Access : std::uint8_t { shared, exclusive };

// A fast-call method: binds and converts the arguments of `table`, takes the
// object with `access`, then returns body(state, values...). All of it runs
// under the call guard named `operation`.
template <class State, Access access, class Table, class Body>
PyObject* run_method(PyObject* self, const char* operation, const ArgumentLayout& layout, const Table& table,
                     PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  return call_guarded(operation, [&]() -> Result<PyRef> {
    std::array<PyObject*, std::tuple_size_v<Table>> slots{};
    if (!layout.bind_fastcall(args, nargs, kwnames, slots)) throw PythonErrorAlreadySet{};
    auto values = convert_arguments(table, slots);
    auto call = [&](auto& state) {
      return std::apply([&](auto&... value) -> Result<PyRef> { return body(state, value...); }, values);
    };
    if constexpr (access == Access::shared) {
      return with_shared<State>(self, call);
    } else {
      return with_exclusive<State>(self, call);
    }
  });
}

// A module function: binds, converts, returns body(values...).
template <class Table, class Body>
PyObject* run_function(const char* operation, const ArgumentLayout& layout, const Table& table, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  return call_guarded(operation, [&]() -> Result<PyRef> {
    std::array<PyObject*, std::tuple_size_v<Table>> slots{};
    if (!layout.bind_fastcall(args, nargs, kwnames, slots)) throw PythonErrorAlreadySet{};
    auto values = convert_arguments(table, slots);
    return std::apply([&](auto&... value) -> Result<PyRef> { return body(value...); }, values);
  });
}

// Whether a parameter's value is the caller's object itself (kept by the
// state, which then reports that very object).
template <class Parameter>
inline constexpr bool keeps_object = std::is_same_v<typename Parameter::Value, PyObject*>;

// The arguments a call was given (non-NULL slots of `table`), a dict by name;
// objects the state keeps itself are not held a second time.
template <class... Parameters>
PyRef given_arguments(const std::tuple<Parameters...>& table, std::span<PyObject* const> slots) {
  PyRef given = PyRef::require(PyDict_New());
  std::size_t index = 0;
  std::apply(
      [&](const auto&... parameter) {
        (([&] {
           PyObject* value = slots[index++];
           if (keeps_object<std::remove_cvref_t<decltype(parameter)>>) return;
           if (value != nullptr && PyDict_SetItemString(given.get(), parameter.name, value) < 0) {
             throw PythonErrorAlreadySet{};
           }
         }()),
         ...);
      },
      table);
  return given;
}

// A constructor: binds the tuple/dict call of the type, converts, and
// allocates an instance holding the state that body(values...) builds, with
// the arguments as given recorded for get_params.
template <class State, class Table, class Body>
PyObject* run_constructor(PyTypeObject* type, const char* operation, const ArgumentLayout& layout, const Table& table,
                          PyObject* args, PyObject* kwargs, Body&& body) {
  return call_guarded(operation, [&]() -> Result<PyRef> {
    std::array<PyObject*, std::tuple_size_v<Table>> slots{};
    if (!layout.bind_tuple(args, kwargs, slots)) throw PythonErrorAlreadySet{};
    auto values = convert_arguments(table, slots);
    Result<State> state = std::apply([&](auto&... value) -> Result<State> { return body(value...); }, values);
    if (!state) return errors::fail(std::move(state.error()));
    PyRef given = given_arguments(table, slots);
    TARNWELL_TRY(instance, new_instance(type, std::move(*state)));
    instance_of<State>(instance.get())->given_parameters = given.release();
    return instance;
  });
}

// Python values of the property and result types.
inline PyRef to_python(bool value) { return PyRef::require(PyBool_FromLong(value ? 1 : 0)); }
inline PyRef to_python(std::uint64_t value) { return PyRef::require(PyLong_FromUnsignedLongLong(value)); }
inline PyRef to_python(double value) { return PyRef::require(PyFloat_FromDouble(value)); }
inline PyRef to_python(const std::string& value) { return PyRef::require(text_to_python(value)); }
inline PyRef to_python(const std::optional<double>& value) {
  return value ? to_python(*value) : PyRef::borrow(Py_None);
}
inline PyRef to_python(PyRef value) { return value; }

// A property that reads a stored value and cannot fail: no guard. `doc` is
// its docstring.
template <class State, class Value>
struct StoredProperty {
  const char* name;
  Value (*get)(const State&);
  const char* doc = nullptr;
};

// A property that can fail (a fitted-only size): guarded, named "reading {class}.{name}".
template <class State, class Value>
struct CheckedProperty {
  const char* name;
  Result<Value> (*get)(const State&);
  const char* doc = nullptr;
};

template <class Property>
inline constexpr bool is_checked_property = false;
template <class State, class Value>
inline constexpr bool is_checked_property<CheckedProperty<State, Value>> = true;

template <class State, auto Property>
PyObject* stored_property_getter(PyObject* self, void*) {
  try {
    return to_python(Property.get(instance_of<State>(self)->state)).release();
  } catch (const PythonErrorAlreadySet&) {
    return nullptr;
  } catch (...) {
    return PyErr_NoMemory();
  }
}

// The type object's parts, kept in static storage for the life of the type.
struct TypeParts {
  std::string qualified_name;
  std::string doc;
  std::vector<PyMethodDef> methods;
  std::vector<PyGetSetDef> properties;
  std::vector<PyType_Slot> slots;
  PyType_Spec type_layout{};
  PyTypeObject* type = nullptr;
};

// Adds the sentinels, the instance slots of State and builds the type once.
template <class State>
PyTypeObject* create_type(TypeParts& parts, newfunc construct, reprfunc repr) {
  if (parts.type != nullptr) return parts.type;
  parts.methods.push_back({nullptr, nullptr, 0, nullptr});
  parts.properties.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  parts.slots = {
      {Py_tp_dealloc, reinterpret_cast<void*>(&instance_dealloc<State>)},
      {Py_tp_traverse, reinterpret_cast<void*>(&instance_traverse<State>)},
      {Py_tp_clear, reinterpret_cast<void*>(&instance_clear<State>)},
      {Py_tp_new, reinterpret_cast<void*>(construct)},
      {Py_tp_methods, parts.methods.data()},
      {Py_tp_getset, parts.properties.data()},
      {Py_tp_doc, const_cast<char*>(parts.doc.c_str())},
  };
  if (repr != nullptr) parts.slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr)});
  parts.slots.push_back({0, nullptr});
  parts.type_layout = {parts.qualified_name.c_str(), static_cast<int>(sizeof(Instance<State>)), 0, instance_flags,
                parts.slots.data()};
  parts.type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&parts.type_layout));
  if (parts.type == nullptr) {
    parts.methods.pop_back();
    parts.properties.pop_back();
  }
  return parts.type;
}

// The C signature of a fast-call method with keywords.
using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

inline PyMethodDef fastcall_definition(const char* name, FastcallFunction function, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)), METH_FASTCALL | METH_KEYWORDS,
          doc};
}

// The method definition of a module function, its docstring the text
// signature of `table` and `description`; built once.
template <FastcallFunction Entry, class Table>
PyMethodDef* function_definition(const char* name, const Table& table, std::string_view description) {
  static const std::string doc = docstring(signature_text(name, table, false), description);
  static PyMethodDef definition = fastcall_definition(name, Entry, doc.c_str());
  return &definition;
}

}  // namespace tarnwell::python
