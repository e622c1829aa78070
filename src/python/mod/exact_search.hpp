// Pelt and Dynp: the model-based state plus the choice of a Python custom cost.
#pragma once

#include <Python.h>

#include <string>
#include <tuple>

#include "python/mod/model_search.hpp"

namespace tarnwell::python {

struct ExactSearchState : ModelSearchState {
  bool custom_cost_given = false;

  bool uses_custom_cost() const noexcept { return custom_cost_given; }
  // Only a fitted custom-cost adapter can use a batch callback.
  bool uses_batch_callback() const noexcept { return false; }
};

// The cost of an exact search: a custom cost object when one is given (the
// model argument is then not parsed), otherwise the parsed model.
Result<ParsedModel> choose_exact_search_cost(PyObject* custom_cost, const std::string& model);

template <class State>
constexpr auto exact_search_flag_properties() {
  return std::tuple{
      StoredProperty<State, bool>{"uses_custom_cost", [](const State& state) { return state.uses_custom_cost(); }},
      StoredProperty<State, bool>{"uses_batch_callback",
                                  [](const State& state) { return state.uses_batch_callback(); }},
  };
}

// "custom_cost=true" or "custom_cost=false" of a representation.
inline const char* custom_cost_flag(const ExactSearchState& state) {
  return state.uses_custom_cost() ? "true" : "false";
}

}  // namespace tarnwell::python
