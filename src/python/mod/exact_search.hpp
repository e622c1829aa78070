// Pelt and Dynp: the model-based state plus the choice of a Python custom
// cost, and a fitted state that is either a built-in cost or a custom-cost
// adapter.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>

#include "python/custom_cost/custom_cost_adapter.hpp"
#include "python/custom_cost/custom_cost_searches.hpp"
#include "python/mod/model_search.hpp"

namespace tarnwell::python {

using ExactFittedState =
    std::variant<std::monostate, std::shared_ptr<const FittedCost>, std::shared_ptr<const CustomCostAdapter>>;

struct ExactSearchState {
  std::string model_name;          // lower-cased, or "custom"
  std::optional<CostModel> model;  // absent with a custom cost
  SearchParameters parameters;
  bool custom_cost_given = false;
  PyRef custom_cost;  // the constructor's object; empty only after a garbage-collector clear
  ExactFittedState fitted;

  bool is_fitted() const noexcept { return fitted.index() != 0; }
  bool uses_custom_cost() const noexcept { return custom_cost_given; }
  bool uses_batch_callback() const noexcept;
  // The fitted signal's length, when fitted.
  std::optional<std::uint64_t> fitted_n_samples() const noexcept;

  // read(cost) of the fitted cost, whichever family it belongs to, or `unfitted`.
  template <class Value, class Read>
  Value read_fitted(Value unfitted, Read&& read) const {
    return std::visit(
        [&](const auto& handle) -> Value {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(handle)>, std::monostate>) {
            return unfitted;
          } else {
            return read(*handle);
          }
        },
        fitted);
  }

  // The Python references: the custom cost object, held once here and once
  // by a fitted adapter.
  int traverse(visitproc visit, void* arg) const;
  void clear() noexcept;
};

// The cost of an exact search: a custom cost object when one is given (its
// protocol is checked and the model argument is not parsed), otherwise the
// parsed model.
struct ExactSearchCost {
  std::string model_name;
  std::optional<CostModel> model;
  PyRef custom_cost;
  std::uint64_t min_segment_length = 1;
};

Result<ExactSearchCost> choose_exact_search_cost(PyObject* custom_cost, const std::string& model);

// Stores the chosen cost and the raised min_size.
void store_exact_search_cost(ExactSearchState& state, ExactSearchCost cost, std::uint64_t requested_min_size);

// Drops the previous fit first, so a failed fit leaves the object unfitted;
// then fits the built-in model or the custom cost.
Status fit_exact_search(ExactSearchState& state, const ArrayArgument& signal, const char* class_name);

// The checks both exact searches start with, in order: min_size, then the
// cost; the state holds the cost and the raised min_size. The class's own
// checks follow, then `finish_exact_search` with the jump check.
template <class State>
Result<State> start_exact_search(const std::string& model, PyObject* custom_cost, std::uint64_t min_size) {
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_TRY(cost, choose_exact_search_cost(custom_cost, model));
  State state;
  store_exact_search_cost(state, std::move(cost), min_size);
  return state;
}

template <class State>
Result<State> finish_exact_search(State state, std::uint64_t jump) {
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  state.parameters.jump = jump;
  return state;
}

// The saved form of an exact search's fit: which family it belongs to, then
// the built-in cost's saved form, or the fitted sizes of a custom cost (whose
// own fitted state travels with the object itself, a constructor argument).
void save_exact_fit(const ExactSearchState& state, StateWriter& out);
// Rebuilding a custom-cost adapter checks the object's protocol again.
Result<ExactFittedState> restore_exact_fit(const ExactSearchState& state, StateReader& in, const char* class_name);

// The constructor's model and custom_cost arguments as stored.
inline PyObject* stored_custom_cost(const ExactSearchState& state) {
  return state.custom_cost_given ? state.custom_cost.get() : nullptr;
}

template <class State>
constexpr auto exact_search_flag_properties() {
  return std::tuple{
      StoredProperty<State, bool>{"uses_custom_cost", [](const State& state) { return state.uses_custom_cost(); },
                                  "Whether a Python custom cost object stands in for the built-in model.\n\n"
                                  TARNWELL_DOC_CUSTOM_COST},
      StoredProperty<State, bool>{
          "uses_batch_callback", [](const State& state) { return state.uses_batch_callback(); },
          "Whether the fitted custom cost has error_many, so that the search asks for the costs of a whole "
          "endpoint batch in one call instead of one error call per segment; False without a custom cost or "
          "before fitting."},
  };
}

// "custom_cost=true" or "custom_cost=false" of a representation.
inline const char* custom_cost_flag(const ExactSearchState& state) {
  return state.uses_custom_cost() ? "true" : "false";
}

}  // namespace tarnwell::python
