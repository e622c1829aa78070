// The cost list as Python data, so that the package (model names, default
// penalties and min_size, documentation, the command line) and the tests read
// the one list instead of restating it. Private: not in __all__.
//
//   _cost_models(n_features=1): every model's entry, for its default parameters
//   _cost_facts(model, n_features=1): the entry of a model name or a cost object
//   _segment_parameters(model, signal, breakpoints): every segment's fitted parameters
//   _model_cost(model): a new unfitted cost object of a model name or cost object
#include <functional>
#include <optional>
#include <string_view>
#include <type_traits>

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

#include "core/signal.hpp"
#include "cost/cost_list.hpp"
#include "cost/segment_validation.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/model_choice.hpp"
#include "python/mod/penalty_rule_data.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

PyRef text(std::string_view value) {
  return PyRef::require(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

void set_item(PyObject* dict, const char* key, const PyRef& value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonErrorAlreadySet{};
}

std::string_view scale_name(CostScale scale) {
  switch (scale) {
    case CostScale::squared: return "squared";
    case CostScale::absolute: return "absolute";
    case CostScale::likelihood: return "likelihood";
  }
  return "";
}

// The Python type of a constructor parameter or a property, as the typing
// stub names it: "int", "float" or "matrix" (a two-dimensional float64 array).
template <class Value>
constexpr std::string_view python_type_name() {
  if constexpr (std::is_same_v<Value, std::optional<DenseMatrix>>) {
    return "matrix";
  } else if constexpr (std::is_floating_point_v<Value>) {
    return "float";
  } else {
    static_assert(std::is_integral_v<Value>, "a model parameter or property is an integer, a real or a matrix");
    return "int";
  }
}

PyRef text_tuple(const auto& values) {
  PyRef tuple = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
  Py_ssize_t index = 0;
  for (const auto& value : values) PyTuple_SET_ITEM(tuple.get(), index++, text(value).release());
  return tuple;
}

// A model's entry: the facts of its descriptor with these parameters.
template <class Model>
PyRef model_entry(const Model& model, std::uint64_t d) {
  PyRef entry = PyRef::require(PyDict_New());
  set_item(entry.get(), "name", text(Model::model_names[0]));
  set_item(entry.get(), "names", text_tuple(Model::model_names));
  set_item(entry.get(), "class_name", text(Model::class_name));
  PyRef parameters = PyRef::require(PyDict_New());
  std::apply([&](const auto&... parameter) {
    (set_item(parameters.get(), std::string(parameter.name).c_str(), text(parameter.default_text)), ...);
  }, Model::parameters);
  set_item(entry.get(), "parameters", parameters);
  PyRef parameter_types = PyRef::require(PyDict_New());
  std::apply([&](const auto&... parameter) {
    (set_item(parameter_types.get(), std::string(parameter.name).c_str(),
              text(python_type_name<std::remove_cvref_t<decltype(model.*parameter.member)>>())), ...);
  }, Model::parameters);
  set_item(entry.get(), "parameter_types", parameter_types);
  PyRef property_types = PyRef::require(PyDict_New());
  std::apply([&](const auto&... property) {
    (set_item(property_types.get(), std::string(property.name).c_str(),
              text(python_type_name<std::remove_cvref_t<decltype(std::invoke(property.getter, model))>>())), ...);
  }, Model::properties);
  set_item(entry.get(), "property_types", property_types);
  set_item(entry.get(), "min_size", to_python(model.min_segment_length()));
  set_item(entry.get(), "default_min_size", to_python(model.default_min_size(d)));
  set_item(entry.get(), "segment_parameters", to_python(model.segment_parameters(d)));
  std::uint64_t residuals = d;
  if constexpr (requires { model.residual_coordinates(d); }) residuals = model.residual_coordinates(d);
  set_item(entry.get(), "residual_coordinates", to_python(residuals));
  set_item(entry.get(), "scale", text(scale_name(Model::scale)));
  set_item(entry.get(), "summary", text(Model::summary));
  set_item(entry.get(), "use_when", text(Model::use_when));
  set_item(entry.get(), "describes_trend", to_python(Model::describes_trend));
  set_item(entry.get(), "rewards_constant_runs", to_python(Model::rewards_constant_runs));
  set_item(entry.get(), "split_bound", to_python(model.split_bound(d)));
  set_item(entry.get(), "penalty", penalty_rule_data(model.penalty_rule(), model.segment_parameters(d)));
  set_item(entry.get(), "parameter_names", text_tuple(model.parameter_names(d)));
  return entry;
}

template <class... Models>
PyRef catalogue(std::uint64_t d, CostList<Models...>) {
  PyRef list = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(Models))));
  Py_ssize_t index = 0;
  ((PyTuple_SET_ITEM(list.get(), index++, model_entry(Models{}, d).release())), ...);
  return list;
}

std::uint64_t checked_features(std::uint64_t d) {
  if (d == 0) {
    PyErr_SetString(PyExc_ValueError, "n_features must be positive, got 0");
    throw PythonErrorAlreadySet{};
  }
  return d;
}

constexpr auto features_only = ParameterTable<UnsignedParameter>{UnsignedParameter{"n_features", 1}};

PyObject* cost_models_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_cost_models", features_only);
  return run_function("listing the cost models", layout, features_only, args, nargs, kwnames,
                      [](std::uint64_t d) -> Result<PyRef> {
                        return catalogue(checked_features(d), BuiltinCostModels{});
                      });
}

constexpr auto facts_table = ParameterTable<ModelArgumentParameter, UnsignedParameter>{
    ModelArgumentParameter{"model"}, UnsignedParameter{"n_features", 1}};

PyObject* cost_facts_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_cost_facts", facts_table);
  return run_function("reading a cost model's facts", layout, facts_table, args, nargs, kwnames,
                      [](const ModelArgument& argument, std::uint64_t d) -> Result<PyRef> {
                        TARNWELL_TRY(chosen, choose_model(argument));
                        checked_features(d);
                        return chosen.model.visit([&](const auto& model) { return model_entry(model, d); });
                      });
}

constexpr auto fit_table = ParameterTable<ModelArgumentParameter, ArrayParameter, BreakpointsParameter>{
    ModelArgumentParameter{"model"}, ArrayParameter{"signal"}, BreakpointsParameter{"breakpoints"}};

// One row per segment, the model's segment_parameters(d) columns, written
// straight into a new float64 array.
Result<PyRef> segment_parameters(const ModelArgument& argument, const ArrayArgument& array,
                                 const BreakpointsArgument& breakpoints) {
  TARNWELL_TRY(chosen, choose_model(argument));
  TARNWELL_TRY(view, array.signal_view());
  TARNWELL_TRY(signal, Signal::copy_from(view));
  return chosen.model.visit([&](const auto& model) -> Result<PyRef> {
    const std::uint64_t width = model.segment_parameters(signal.n_features());
    TARNWELL_CHECK(check_breakpoints(breakpoints.values(), signal.n_samples(), model.min_segment_length()));
    npy_intp dimensions[2] = {static_cast<npy_intp>(breakpoints.values().size()), static_cast<npy_intp>(width)};
    PyRef result = PyRef::require(PyArray_ZEROS(2, dimensions, NPY_FLOAT64, 0));
    const std::span<double> out(static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get()))),
                                breakpoints.values().size() * width);
    TARNWELL_CHECK(model.fit_segments(signal, breakpoints.values(), out));
    for (const double value : out) {
      if (!is_finite_value(value)) return errors::fail(errors::numerical_failure("fitting segment parameters"));
    }
    return result;
  });
}

PyObject* segment_parameters_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_segment_parameters", fit_table);
  return run_function("fitting segment parameters", layout, fit_table, args, nargs, kwnames, &segment_parameters);
}

constexpr auto model_only = ParameterTable<ModelArgumentParameter>{ModelArgumentParameter{"model"}};

PyObject* model_cost_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_model_cost", model_only);
  return run_function("creating a model's cost object", layout, model_only, args, nargs, kwnames,
                      [](const ModelArgument& argument) -> Result<PyRef> {
                        TARNWELL_TRY(chosen, choose_model(argument));
                        return new_cost_object(chosen.model);
                      });
}

constexpr const char* entry_keys =
    "a dict: name, names (the name and its aliases), class_name, parameters (name to default text), "
    "parameter_types and property_types (the class's constructor parameters and read-only properties, name to "
    "\"int\", \"float\" or \"matrix\"), min_size, "
    "default_min_size (detect's default for n_features features), segment_parameters (values a new segment adds "
    "for n_features features), residual_coordinates, scale (how costs follow the signal's scale: \"squared\", "
    "\"absolute\" or \"likelihood\"), summary, use_when, describes_trend (segments follow a regression, not a "
    "level), rewards_constant_runs (a run of equal values costs next to nothing), split_bound (the most a split raises the total cost, None when unbounded), penalty (the default "
    "penalty's rule: unit, inflated, excursions, gradual, noise_floor_per_sample, autoregression_order, "
    "feature_weights, segment_parameters, instead) and parameter_names (what _segment_parameters reports, \"{f}\" "
    "standing for feature f).";

}  // namespace

PyMethodDef* cost_models_function() {
  static const std::string description = std::string("The built-in cost models in list order, each ") + entry_keys;
  return function_definition<&cost_models_entry>("_cost_models", features_only, description);
}

PyMethodDef* cost_facts_function() {
  static const std::string description =
      std::string("The entry of one model, given by name or as a cost object (its parameters apply): ") +
      entry_keys;
  return function_definition<&cost_facts_entry>("_cost_facts", facts_table, description);
}

PyMethodDef* segment_parameters_function() {
  return function_definition<&segment_parameters_entry>(
      "_segment_parameters", fit_table,
      "The fitted parameters of every segment of breakpoints on signal under model (a name or a cost object): a "
      "float64 array with one row per segment and one column per name of the model's parameter_names.");
}

PyMethodDef* model_cost_function() {
  return function_definition<&model_cost_entry>(
      "_model_cost", model_only,
      "A new unfitted cost object of model (a name or a cost object), whose costs are the model's.");
}

}  // namespace tarnwell::python
