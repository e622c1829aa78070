// _cost_models(n_features=1): the built-in cost list as Python data, so that
// the package (model names, default penalties, documentation, the command
// line) reads the one list instead of restating it. Private: not in __all__.
#include <string_view>

#include "cost/cost_list.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

constexpr auto features_only = ParameterTable<UnsignedParameter>{UnsignedParameter{"n_features", 1}};

PyRef text(std::string_view value) {
  return PyRef::require(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

void set_item(PyObject* dict, const char* key, const PyRef& value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonErrorAlreadySet{};
}

PyRef count(std::uint64_t value) {
  return PyRef::require(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

std::string_view scale_name(CostScale scale) {
  switch (scale) {
    case CostScale::squared: return "squared";
    case CostScale::absolute: return "absolute";
    case CostScale::likelihood: return "likelihood";
  }
  return "";
}

// One model's entry, for its default parameters (the model a search's
// `model=` name selects).
template <class Model>
PyRef model_entry(std::uint64_t d) {
  const Model model{};
  PyRef entry = PyRef::require(PyDict_New());
  set_item(entry.get(), "name", text(Model::model_names[0]));
  PyRef names = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(Model::model_names.size())));
  for (std::size_t i = 0; i < Model::model_names.size(); ++i) {
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), text(Model::model_names[i]).release());
  }
  set_item(entry.get(), "names", names);
  set_item(entry.get(), "class_name", text(Model::class_name));
  PyRef parameters = PyRef::require(PyDict_New());
  std::apply([&](const auto&... parameter) {
    (set_item(parameters.get(), parameter.name.data(), text(parameter.default_text)), ...);
  }, Model::parameters);
  set_item(entry.get(), "parameters", parameters);
  set_item(entry.get(), "min_size", count(model.min_segment_length()));
  set_item(entry.get(), "segment_parameters", count(model.segment_parameters(d)));
  std::uint64_t residuals = d;
  if constexpr (requires { model.residual_coordinates(d); }) residuals = model.residual_coordinates(d);
  set_item(entry.get(), "residual_coordinates", count(residuals));
  set_item(entry.get(), "scale", text(scale_name(Model::scale)));
  set_item(entry.get(), "use_when", text(Model::use_when));
  return entry;
}

template <class... Models>
PyRef catalogue(std::uint64_t d, CostList<Models...>) {
  PyRef list = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(Models))));
  Py_ssize_t index = 0;
  ((PyTuple_SET_ITEM(list.get(), index++, model_entry<Models>(d).release())), ...);
  return list;
}

PyObject* cost_models_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentSpec spec = argument_spec("_cost_models", features_only);
  return run_function("listing the cost models", spec, features_only, args, nargs, kwnames,
                      [](std::uint64_t d) -> Result<PyRef> {
                        if (d == 0) {
                          PyErr_SetString(PyExc_ValueError, "n_features must be positive, got 0");
                          throw PythonErrorAlreadySet{};
                        }
                        return catalogue(d, BuiltinCostModels{});
                      });
}

}  // namespace

PyMethodDef* cost_models_function() {
  return function_definition<&cost_models_entry>(
      "_cost_models", features_only,
      "The built-in cost models in list order, each a dict: name, names (the name and its aliases), class_name, "
      "parameters (name to default text), min_size, segment_parameters (values a new segment adds for "
      "n_features features), residual_coordinates, scale (how costs follow the signal's scale: \"squared\", "
      "\"absolute\" or \"likelihood\") and use_when.");
}

}  // namespace tarnwell::python
