#include "python/mod/penalty_rule_data.hpp"

#include <string_view>

#include "python/mod/class_builder.hpp"

namespace tarnwell::python {
namespace {

std::string_view unit_name(NoiseUnit unit) {
  switch (unit) {
    case NoiseUnit::squared: return "squared";
    case NoiseUnit::absolute: return "absolute";
    case NoiseUnit::likelihood: return "likelihood";
    case NoiseUnit::ranks: return "ranks";
    case NoiseUnit::regression: return "regression";
    case NoiseUnit::innovations: return "innovations";
    case NoiseUnit::marginal: return "marginal";
    case NoiseUnit::cosine: return "cosine";
    case NoiseUnit::rbf: return "rbf";
    case NoiseUnit::none: return "none";
  }
  return "";
}

void set_item(PyObject* dict, const char* key, const PyRef& value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonErrorAlreadySet{};
}

}  // namespace

PyRef penalty_rule_data(const PenaltyRule& rule, std::uint64_t segment_parameters) {
  PyRef data = PyRef::require(PyDict_New());
  const std::string_view unit = unit_name(rule.unit);
  set_item(data.get(), "unit",
           PyRef::require(PyUnicode_FromStringAndSize(unit.data(), static_cast<Py_ssize_t>(unit.size()))));
  set_item(data.get(), "inflated", to_python(rule.inflated));
  set_item(data.get(), "excursions", to_python(rule.excursions));
  set_item(data.get(), "gradual", to_python(rule.gradual));
  set_item(data.get(), "noise_floor_per_sample", to_python(rule.noise_floor_per_sample));
  set_item(data.get(), "autoregression_order", to_python(rule.autoregression_order));
  PyRef weights = PyRef::require(PyTuple_New(static_cast<Py_ssize_t>(rule.feature_weights.size())));
  for (std::size_t i = 0; i < rule.feature_weights.size(); ++i) {
    PyTuple_SET_ITEM(weights.get(), static_cast<Py_ssize_t>(i), to_python(rule.feature_weights[i]).release());
  }
  set_item(data.get(), "feature_weights", weights);
  set_item(data.get(), "segment_parameters", to_python(segment_parameters));
  set_item(data.get(), "instead",
           PyRef::require(PyUnicode_FromStringAndSize(rule.instead.data(), static_cast<Py_ssize_t>(rule.instead.size()))));
  return data;
}

}  // namespace tarnwell::python
