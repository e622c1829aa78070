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

// The checks both exact searches start with, in order: min_size, then the
// cost; the state holds the cost and the raised min_size. The class's own
// checks follow, then `finish_exact_search` with the jump check.
template <class State>
Result<State> start_exact_search(const std::string& model, PyObject* custom_cost, std::uint64_t min_size) {
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_TRY(parsed, choose_exact_search_cost(custom_cost, model));
  State state;
  state.parameters.min_size = raised_min_size(min_size, parsed.model);
  state.model_name = std::move(parsed.name);
  state.model = std::move(parsed.model);
  return state;
}

template <class State>
Result<State> finish_exact_search(State state, std::uint64_t jump) {
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  state.parameters.jump = jump;
  return state;
}

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
