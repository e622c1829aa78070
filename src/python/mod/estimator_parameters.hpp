// scikit-learn's estimator conventions for every class of the module,
// generated from the class's constructor parameter table: get_params(deep=True)
// returns the constructor's arguments by name, set_params(**params) builds a
// new state from them through the constructor's own checks, and the classes
// without a representation of their own print their parameters.
//
// get_params returns the very objects the constructor was given (recorded by
// run_constructor), and the stored values for the omitted ones: a copy made
// from get_params() then reports the same objects back, which is what
// sklearn.base.clone checks.
#pragma once

#include <Python.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "core/error/message.hpp"
#include "python/mod/class_builder.hpp"

namespace tarnwell::python {

template <class... Parameters>
std::array<const char*, sizeof...(Parameters)> parameter_names(const std::tuple<Parameters...>& table) {
  return std::apply([](const auto&... parameter) { return std::array<const char*, sizeof...(Parameters)>{parameter.name...}; },
                    table);
}

template <class... Parameters>
constexpr std::array<bool, sizeof...(Parameters)> kept_objects(const std::tuple<Parameters...>&) {
  return {keeps_object<Parameters>...};
}

// "Name(a=1, b=\"text\", c=None)" from the constructor's stored values: text
// quoted as model names are, everything else as Python writes it.
template <class Table>
std::string parameters_repr(std::string_view class_name, const Table& table, const PyRef& stored) {
  const auto names = parameter_names(table);
  std::string text(class_name);
  text += '(';
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (index > 0) text += ", ";
    text += names[index];
    text += '=';
    PyObject* value = PyTuple_GET_ITEM(stored.get(), static_cast<Py_ssize_t>(index));
    PyRef shown = PyUnicode_Check(value) ? PyRef::borrow(value) : PyRef::require(PyObject_Repr(value));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(shown.get(), &size);
    if (utf8 == nullptr) throw PythonErrorAlreadySet{};
    const std::string_view piece(utf8, static_cast<std::size_t>(size));
    text += PyUnicode_Check(value) ? quote_text(piece) : std::string(piece);
  }
  return text + ')';
}

// Policy supplies:
//   static const char* class_name();
//   static const auto& table();                              // the constructor's parameter table
//   static Result<State> construct(const Values&...);        // the constructor's checks, in its order
//   static PyRef constructor_arguments(const State&);        // stored values, a tuple in table order
template <class State, class Policy>
struct EstimatorParameters {
  static constexpr std::size_t count = std::tuple_size_v<std::remove_cvref_t<decltype(Policy::table())>>;

  static const std::string& reading() {
    static const std::string operation = std::string("reading the parameters of ") + Policy::class_name();
    return operation;
  }
  static const std::string& setting() {
    static const std::string operation = std::string("setting the parameters of ") + Policy::class_name();
    return operation;
  }

  static PyObject* given_argument(PyObject* self, const char* name) {  // borrowed, or NULL
    PyObject* given = instance_of<State>(self)->given_parameters;
    return given == nullptr ? nullptr : PyDict_GetItemString(given, name);
  }

  // Adds "name__key" entries for every value that has parameters of its own.
  static void add_nested(PyObject* params) {
    PyRef items = PyRef::require(PyDict_Items(params));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
      PyObject* name = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 0);
      PyObject* value = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 1);
      if (PyType_Check(value) || !PyObject_HasAttrString(value, "get_params")) continue;
      PyRef nested = PyRef::require(PyObject_CallMethod(value, "get_params", nullptr));
      if (!PyDict_Check(nested.get())) continue;
      PyObject* key = nullptr;
      PyObject* entry = nullptr;
      Py_ssize_t position = 0;
      while (PyDict_Next(nested.get(), &position, &key, &entry)) {
        PyRef full = PyRef::require(PyUnicode_FromFormat("%U__%S", name, key));
        if (PyDict_SetItem(params, full.get(), entry) < 0) throw PythonErrorAlreadySet{};
      }
    }
  }

  static PyObject* get_params(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout("get_params", {"deep"}, 0);
    return call_guarded(reading().c_str(), [&]() -> Result<PyRef> {
      PyObject* slots[1] = {nullptr};
      if (!layout.bind_fastcall(args, nargs, kwnames, slots)) throw PythonErrorAlreadySet{};
      const int deep = slots[0] == nullptr ? 1 : PyObject_IsTrue(slots[0]);
      if (deep < 0) throw PythonErrorAlreadySet{};
      PyRef stored =
          with_shared<State>(self, [](const State& state) { return Policy::constructor_arguments(state); });
      const auto names = parameter_names(Policy::table());
      PyRef params = PyRef::require(PyDict_New());
      for (std::size_t index = 0; index < count; ++index) {
        PyObject* value = given_argument(self, names[index]);
        if (value == nullptr) value = PyTuple_GET_ITEM(stored.get(), static_cast<Py_ssize_t>(index));
        if (PyDict_SetItemString(params.get(), names[index], value) < 0) throw PythonErrorAlreadySet{};
      }
      if (deep) add_nested(params.get());
      return params;
    });
  }

  [[noreturn]] static void invalid_parameter(PyObject* key) {
    std::string valid;
    for (const char* name : parameter_names(Policy::table())) valid += (valid.empty() ? "" : ", ") + std::string(name);
    PyErr_Format(PyExc_ValueError, "invalid parameter %R for %s; its parameters: %s", key, Policy::class_name(),
                 valid.c_str());
    throw PythonErrorAlreadySet{};
  }

  static std::size_t parameter_index(PyObject* key, std::string_view name) {
    const auto names = parameter_names(Policy::table());
    for (std::size_t index = 0; index < count; ++index) {
      if (name == names[index]) return index;
    }
    invalid_parameter(key);
  }

  // The parameters not named keep their current values; the new state is
  // built by the constructor's checks and replaces the current one (fitted
  // or not) only when they pass, so a refused value changes nothing (but a
  // nested object keeps the "name__key" values it accepted). The
  // object is unfitted afterwards, as a new one would be; a call without
  // parameters changes nothing at all. "name__key" entries go to the
  // set_params of the object in parameter `name`.
  static PyObject* set_params(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_guarded(setting().c_str(), [&]() -> Result<PyRef> {
      if (nargs != 0) {
        PyErr_Format(PyExc_TypeError, "set_params() of %s takes keyword arguments only", Policy::class_name());
        throw PythonErrorAlreadySet{};
      }
      if (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) return PyRef::borrow(self);  // nothing changes
      const auto names = parameter_names(Policy::table());
      // The current values: those given, and the objects the state keeps.
      PyRef stored =
          with_shared<State>(self, [](const State& state) { return Policy::constructor_arguments(state); });
      const auto kept = kept_objects(Policy::table());
      std::array<PyObject*, count> slots{};
      for (std::size_t index = 0; index < count; ++index) {
        slots[index] = kept[index] ? PyTuple_GET_ITEM(stored.get(), static_cast<Py_ssize_t>(index))
                                   : given_argument(self, names[index]);
        if (slots[index] == Py_None) slots[index] = nullptr;
      }
      PyRef own_values = PyRef::require(PyDict_New());  // keeps the previous given values alive
      if (PyObject* given = instance_of<State>(self)->given_parameters) {
        if (PyDict_Update(own_values.get(), given) < 0) throw PythonErrorAlreadySet{};
      }
      PyRef nested = PyRef::require(PyDict_New());  // index -> {key: value}
      const Py_ssize_t n_keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
      for (Py_ssize_t k = 0; k < n_keywords; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        const char* text = PyUnicode_AsUTF8(key);
        if (text == nullptr) throw PythonErrorAlreadySet{};
        const std::string_view full(text);
        const std::size_t split = full.find("__");
        const std::size_t index = parameter_index(key, full.substr(0, split));
        if (split == std::string_view::npos) {
          slots[index] = args[k];
          continue;
        }
        PyRef position = PyRef::require(PyLong_FromSize_t(index));
        PyObject* group = PyDict_GetItem(nested.get(), position.get());
        if (group == nullptr) {
          PyRef created = PyRef::require(PyDict_New());
          if (PyDict_SetItem(nested.get(), position.get(), created.get()) < 0) throw PythonErrorAlreadySet{};
          group = created.get();
        }
        PyRef sub_key = PyRef::require(PyUnicode_FromString(text + split + 2));
        if (PyDict_SetItem(group, sub_key.get(), args[k]) < 0) throw PythonErrorAlreadySet{};
      }
      // Every nested target must take parameters before anything changes.
      PyObject* position = nullptr;
      PyObject* group = nullptr;
      Py_ssize_t cursor = 0;
      while (PyDict_Next(nested.get(), &cursor, &position, &group)) {
        PyObject* target = slots[PyLong_AsSize_t(position)];
        if (target == nullptr || target == Py_None || !PyObject_HasAttrString(target, "set_params")) {
          PyRef first = PyRef::require(PyDict_Keys(group));
          PyRef key = PyRef::require(PyUnicode_FromFormat("%s__%S", names[PyLong_AsSize_t(position)],
                                                          PyList_GET_ITEM(first.get(), 0)));
          invalid_parameter(key.get());
        }
      }
      // The nested objects change first, so that the state built below reads
      // their new parameters (a cost object's are copied into the state).
      cursor = 0;
      while (PyDict_Next(nested.get(), &cursor, &position, &group)) {
        PyObject* target = slots[PyLong_AsSize_t(position)];  // kept alive by `stored`, `own_values` or the call
        PyRef method = PyRef::require(PyObject_GetAttrString(target, "set_params"));
        PyRef empty = PyRef::require(PyTuple_New(0));
        PyRef ignored = PyRef::require(PyObject_Call(method.get(), empty.get(), group));
      }
      auto values = convert_arguments(Policy::table(), std::span<PyObject* const>(slots));
      Result<State> state =
          std::apply([](const auto&... value) { return Policy::construct(value...); }, values);
      if (!state) return errors::fail(std::move(state.error()));
      PyRef given = given_arguments(Policy::table(), std::span<PyObject* const>(slots));
      with_exclusive<State>(self, [&](State& current) { current = std::move(*state); });
      Py_XSETREF(instance_of<State>(self)->given_parameters, given.release());
      return PyRef::borrow(self);
    });
  }

  static constexpr const char* get_params_doc =
      "get_params($self, /, deep=True)\n--\n\n"
      "The constructor's parameters by name, as scikit-learn's estimators report them: the values given to the "
      "constructor (or to set_params), the stored values for the others. With deep, a parameter holding an "
      "object with parameters of its own (a custom cost with get_params) adds them as \"name__key\".";
  static constexpr const char* set_params_doc =
      "set_params($self, /, **params)\n--\n\n"
      "Change constructor parameters by name and return the object itself. The new values are checked as the "
      "constructor checks them; a refused value raises and leaves the object unchanged. The object is unfitted "
      "afterwards (unless no parameter is given). \"name__key\" sets the parameter key of the object held in parameter name.";

  static void add_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(fastcall_definition("get_params", &get_params, get_params_doc));
    methods.push_back(fastcall_definition("set_params", &set_params, set_params_doc));
  }
};

}  // namespace tarnwell::python
