// What the model-based searches (Pelt, Dynp, Binseg, BottomUp, Window and
// the searches generated from a descriptor) share: the choice of the cost (a
// model name, a configured built-in cost object, or a Python custom cost),
// the raised min_size, fitting, the saved form of a fit and the common
// properties. The fitted state is a built-in cost or a custom-cost adapter.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>

#include "cost/fitted_cost.hpp"
#include "python/custom_cost/custom_cost_adapter.hpp"
#include "python/custom_cost/custom_cost_searches.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/model_choice.hpp"
#include "python/mod/model_docs.hpp"
#include "python/mod/parameter_docs.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell::python {

// The parameters every model-based search takes, with their defaults.
inline constexpr ModelArgumentParameter model_parameter{"model", "l2"};
inline constexpr ObjectParameter custom_cost_parameter{"custom_cost"};
inline constexpr UnsignedParameter min_size_parameter{"min_size", 2};
inline constexpr UnsignedParameter jump_parameter{"jump", 5};

using ModelFittedState =
    std::variant<std::monostate, std::shared_ptr<const FittedCost>, std::shared_ptr<const CustomCostAdapter>>;

struct ModelSearchState {
  std::optional<ModelChoice> model;  // absent with a custom cost
  SearchParameters parameters;
  bool custom_cost_given = false;
  PyRef custom_cost;  // the constructor's object; empty only after a garbage-collector clear
  ModelFittedState fitted;

  bool is_fitted() const noexcept { return fitted.index() != 0; }
  bool uses_custom_cost() const noexcept { return custom_cost_given; }
  bool uses_batch_callback() const noexcept;
  // The fitted signal's length, when fitted.
  std::optional<std::uint64_t> fitted_n_samples() const noexcept;
  // The `model` property: the name, a cost object of the configured model, or "custom".
  PyRef model_value() const;
  // "model=..." of a representation.
  std::string model_repr() const;

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

// The cost of a search: a custom cost object when one is given (its protocol
// is checked and the model argument is not read), otherwise the model.
struct SearchCost {
  std::optional<ModelChoice> model;
  PyRef custom_cost;
  std::uint64_t min_segment_length = 1;
};

Result<SearchCost> choose_search_cost(PyObject* custom_cost, const ModelArgument& model);

// Stores the chosen cost and min_size raised silently to its minimum.
void store_search_cost(ModelSearchState& state, SearchCost cost, std::uint64_t requested_min_size);

// The checks Pelt and Dynp start with, in order: min_size, then the cost; the
// state holds the cost and the raised min_size. The class's own checks
// follow, then `finish_exact_search` with the jump check.
template <class State>
Result<State> start_exact_search(const ModelArgument& model, PyObject* custom_cost, std::uint64_t min_size) {
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_TRY(cost, choose_search_cost(custom_cost, model));
  State state;
  store_search_cost(state, std::move(cost), min_size);
  return state;
}

template <class State>
Result<State> finish_exact_search(State state, std::uint64_t jump) {
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  state.parameters.jump = jump;
  return state;
}

// How a failed fit leaves the object: Pelt and Dynp drop their fit first (so
// a failed fit leaves them unfitted); the greedy searches keep the previous fit.
enum class FailedFit : std::uint8_t { unfitted, keeps_previous };

// Fits the built-in model or the custom cost; `class_name` names the search
// in the custom cost's errors.
Status fit_model_search(ModelSearchState& state, const ArrayArgument& signal, const char* class_name,
                        FailedFit failed);

// The saved form of a fit: which family it belongs to, then the built-in
// cost's saved form, or the fitted sizes of a custom cost (whose own fitted
// state travels with the object itself, a constructor argument).
void save_model_fit(const ModelSearchState& state, StateWriter& out);
// Rebuilding a custom-cost adapter checks the object's protocol again.
Result<ModelFittedState> restore_model_fit(const ModelSearchState& state, StateReader& in, const char* class_name);

// The constructor's custom_cost argument as stored.
inline PyObject* stored_custom_cost(const ModelSearchState& state) {
  return state.custom_cost_given ? state.custom_cost.get() : nullptr;
}

// "custom_cost=true" or "custom_cost=false" of a representation.
inline const char* custom_cost_flag(const ModelSearchState& state) {
  return state.uses_custom_cost() ? "true" : "false";
}

template <class State>
constexpr auto model_search_properties() {
  return std::tuple{
      StoredProperty<State, PyRef>{"model", [](const State& state) { return state.model_value(); },
                                   model_property_doc.c_str()},
      StoredProperty<State, std::uint64_t>{
          "min_size", [](const State& state) { return state.parameters.min_size; },
          "The minimum segment length in effect: the constructor's min_size raised to the model's minimum.\n\n"
          TARNWELL_DOC_MIN_SIZE},
      StoredProperty<State, std::uint64_t>{"jump", [](const State& state) { return state.parameters.jump; },
                                           "The grid step.\n\n" TARNWELL_DOC_JUMP},
      StoredProperty<State, bool>{"is_fitted", [](const State& state) { return state.is_fitted(); },
                                  "Whether a fit has succeeded, so that predict can run."},
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

}  // namespace tarnwell::python
