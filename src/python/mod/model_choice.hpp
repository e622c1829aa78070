// The `model` argument of the model-based searches (and of the catalogue's
// functions): a model name, parsed as before, or a built-in cost object
// (CostAR(order=4), CostMahalanobis(metric), ...) whose parameters configure
// the model. The object is read once, at construction: the search keeps the
// configured model, never the object.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "cost/cost_model.hpp"
#include "python/mod/parameter_table.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

struct ModelArgument {
  std::string name;                     // the text given, when a name
  std::optional<CostModel> configured;  // the object's model, when a cost object
};

// A model name or a cost object; anything else is a TypeError naming the argument.
struct ModelArgumentParameter {
  using Value = ModelArgument;
  const char* name;
  const char* default_value = nullptr;  // none: required
  std::optional<Value> convert(PyObject* value) const;
  Value fallback() const { return ModelArgument{default_value == nullptr ? std::string() : default_value, {}}; }
  std::optional<std::string> default_text() const {
    if (default_value == nullptr) return std::nullopt;
    return std::string("\"") + default_value + "\"";
  }
};

// The model a search stores: parsed from the name (which it keeps,
// lower-cased, as its `model`), or the object's configuration.
struct ModelChoice {
  std::string name;  // lower-cased model name; empty for a configured model
  CostModel model;

  bool configured() const noexcept { return name.empty(); }
  // The `model` property and constructor argument: the name, or a new
  // unfitted cost object of the configured model.
  PyRef python_value() const;
  // "model=" of a representation: the name quoted, or the object's repr.
  std::string repr_text() const;
};

Result<ModelChoice> choose_model(const ModelArgument& argument);

// The model of a built-in cost object, or nothing when `object` is not one.
std::optional<CostModel> cost_object_model(PyObject* object);

// A new unfitted cost object of `model` (for the names' Mahalanobis model
// without a metric, one whose metric is the identity at fit).
PyRef new_cost_object(const CostModel& model);

}  // namespace tarnwell::python
