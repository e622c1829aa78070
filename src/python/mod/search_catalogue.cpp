// _searches(n_features=1): the list of searches as Python data, in
// registration order, so that the package routes detect and the penalty
// path, and the tests walk every search, from the one list. Private.
#include <string_view>

#include "python/mod/class_builder.hpp"
#include "python/mod/penalty_rule_data.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

void set_item(PyObject* dict, const char* key, const PyRef& value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonErrorAlreadySet{};
}

PyRef text(std::string_view value) {
  return PyRef::require(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

// The default-penalty rules of the costs a search brings itself: one per
// kernel, or one for the search's own cost (keyed by the search's name).
template <class Search>
PyRef own_cost_rules(std::uint64_t d) {
  PyRef rules = PyRef::require(PyDict_New());
  if constexpr (requires { Search::kernels; }) {
    for (const std::string_view kernel : Search::kernels) {
      if (PyDict_SetItem(rules.get(), text(kernel).get(),
                         penalty_rule_data(Search::penalty_rule(kernel), Search::segment_parameters(d)).get()) < 0) {
        throw PythonErrorAlreadySet{};
      }
    }
  } else if constexpr (requires { Search::penalty_rule(); }) {
    if (PyDict_SetItem(rules.get(), text(Search::class_name).get(),
                       penalty_rule_data(Search::penalty_rule(), Search::segment_parameters(d)).get()) < 0) {
      throw PythonErrorAlreadySet{};
    }
  }
  return rules;
}

template <class Search>
PyRef search_entry(std::uint64_t d) {
  constexpr SearchCapabilities can = Search::capabilities;
  PyRef entry = PyRef::require(PyDict_New());
  set_item(entry.get(), "name", text(Search::class_name));
  set_item(entry.get(), "penalized", to_python(can.penalized));
  set_item(entry.get(), "fixed_count", to_python(can.fixed_count));
  set_item(entry.get(), "threshold", to_python(can.threshold));
  set_item(entry.get(), "exact", to_python(can.exact));
  set_item(entry.get(), "custom_cost", to_python(can.custom_cost));
  set_item(entry.get(), "model", to_python(can.model));
  set_item(entry.get(), "penalty_path", to_python(can.penalty_path()));
  set_item(entry.get(), "own_cost_penalties", own_cost_rules<Search>(d));
  return entry;
}

template <class... Searches>
PyRef search_list(std::uint64_t d, SearchList<Searches...>) {
  PyRef list = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(Searches))));
  Py_ssize_t index = 0;
  ((PyTuple_SET_ITEM(list.get(), index++, search_entry<Searches>(d).release())), ...);
  return list;
}

constexpr auto features_only = ParameterTable<UnsignedParameter>{UnsignedParameter{"n_features", 1}};

PyObject* searches_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_searches", features_only);
  return run_function("listing the searches", layout, features_only, args, nargs, kwnames,
                      [](std::uint64_t d) -> Result<PyRef> {
                        if (d == 0) {
                          PyErr_SetString(PyExc_ValueError, "n_features must be positive, got 0");
                          throw PythonErrorAlreadySet{};
                        }
                        return search_list(d, BuiltinSearches{});
                      });
}

}  // namespace

PyMethodDef* searches_function() {
  return function_definition<&searches_entry>(
      "_searches", features_only,
      "The search classes in registration order, each a dict: name, its capabilities (penalized: predict(pen=); "
      "fixed_count: predict(n_bkps=); threshold: predict(epsilon=); exact; custom_cost: takes custom_cost=; "
      "model: takes model=; penalty_path: exact and penalized) and own_cost_penalties (the default penalty's "
      "rule of each cost the search brings itself, by kernel or by the search's name, for n_features features).");
}

}  // namespace tarnwell::python
