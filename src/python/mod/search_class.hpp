// Pieces the model-based search classes share: their stored state, the
// construction rules for model and min_size, fitting, and running an engine
// on the fitted cost with the interpreter lock released.
#pragma once

#include <Python.h>

#include <memory>
#include <string>

#include "cost/fitted_cost.hpp"
#include "python/error/message.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/fit_method.hpp"
#include "python/mod/fitting.hpp"
#include "python/mod/heap_type.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell::python {

struct ModelSearchState {
  std::string model_name;  // lower-cased, as parsed
  CostModel model;
  SearchParameters parameters;
  std::shared_ptr<const FittedCost> fitted;

  bool is_fitted() const noexcept { return fitted != nullptr; }
};

// The model name as stored (lower-cased) and the parsed model.
struct ParsedModel {
  std::string name;
  CostModel model;
};

inline Result<ParsedModel> parse_model_argument(std::string_view name) {
  TARNWELL_TRY(model, parse_model(name));
  return ParsedModel{ascii_lowercase(name), std::move(model)};
}

// A smaller request is raised to the cost's minimum segment length silently.
inline std::uint64_t raised_min_size(std::uint64_t requested, const CostModel& model) {
  return std::max(requested, model.min_segment_length());
}

// Runs `engine(concrete_cost)` on a reference of its own to the fitted cost,
// with the interpreter lock released, and converts the breakpoints.
template <class Engine>
Result<PyRef> predict_breakpoints(const std::shared_ptr<const FittedCost>& fitted, const char* class_name,
                                  Engine&& engine) {
  if (!fitted) return errors::fail(errors::not_fitted(class_name));
  const std::shared_ptr<const FittedCost> cost = fitted;
  Result<Segmentation> outcome = [&] {
    ReleasedInterpreterLock unlocked;
    return cost->visit(engine);
  }();
  if (!outcome) return errors::fail(std::move(outcome.error()));
  return PyRef::steal(breakpoints_to_list(outcome->breakpoints));
}

// Text of the "model=" field of a representation, with quotes and escapes.
std::string quoted_model_name(const std::string& name);

// Pelt and Dynp: the model-based state plus whether a custom cost was given.
struct ExactSearchState : ModelSearchState {
  bool custom_cost_given = false;

  bool uses_custom_cost() const noexcept { return custom_cost_given; }
  // Only a fitted custom-cost adapter can use a batch callback.
  bool uses_batch_callback() const noexcept { return false; }
};

// The cost of an exact search: a custom cost object when one is given (the
// model argument is then not parsed), otherwise the parsed model.
Result<ParsedModel> choose_exact_search_cost(PyObject* custom_cost, const std::string& model);

// Drops the previous fit first, so that a failed refit leaves the object unfitted.
Status refit_dropping_previous(ModelSearchState& state, const ArrayArgument& signal);

// Stored search parameters; they cannot fail.
template <class State>
PyObject* get_search_min_size(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(instance_of<State>(self)->state.parameters.min_size);
}
template <class State>
PyObject* get_search_jump(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(instance_of<State>(self)->state.parameters.jump);
}

}  // namespace tarnwell::python
