// What the greedy searches (Binseg, BottomUp, Window and the searches
// generated from a descriptor) share: the constructor's order of checks, a
// fit that keeps the previous state on failure, and predict with exactly one
// of three stopping rules.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "python/mod/model_docs.hpp"
#include "python/mod/model_search.hpp"
#include "python/mod/parameter_docs.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell::python {

// The cost (custom cost or model), then min_size, then jump; min_size is
// raised to the cost's minimum.
Result<ModelSearchState> construct_greedy_state(const ModelArgument& model, PyObject* custom_cost,
                                                std::uint64_t min_size, std::uint64_t jump);

// "Name(<leading>model=..., min_size=..., jump=...)", with ", custom_cost=..."
// (the object's repr) when one was given.
std::string greedy_repr(const char* class_name, const std::string& leading, const ModelSearchState& state);

// "Parameters:" and the lines of model, min_size, jump and custom_cost.
const std::string& greedy_parameters_doc();

// Derived supplies `name`; State is ModelSearchState or derives from it.
template <class Derived, class State>
struct GreedySearchTraits {
  static constexpr const char* fit_description =
      "Fit the model's cost (or the custom cost's fit) to a signal and return the object itself. A failed fit "
      "keeps the previous fit.\n\n" TARNWELL_DOC_SIGNAL;

  static constexpr auto fit_parameters = ParameterTable<>{};
  static Status fit(State& state, const ArrayArgument& signal) {
    return fit_model_search(state, signal, Derived::name, FailedFit::keeps_previous);
  }

  // The saved form of the fit.
  static void save(const State& state, StateWriter& out) { save_model_fit(state, out); }
  static Result<ModelFittedState> restore(const State& state, StateReader& in) {
    return restore_model_fit(state, in, Derived::name);
  }

  static constexpr auto predict_parameters =
      ParameterTable<OptionalUnsignedParameter, OptionalRealParameter, OptionalRealParameter>{
          OptionalUnsignedParameter{"n_bkps"}, OptionalRealParameter{"pen"}, OptionalRealParameter{"epsilon"}};

  // Fitted first, then exactly one rule; the engine checks the rule's value.
  static Result<StoppingRule> stopping_rule(const State& state, const char* class_name,
                                            std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                                            std::optional<double> epsilon) {
    if (!state.is_fitted()) return errors::fail(errors::not_fitted(class_name));
    return choose_stopping_rule(n_bkps, pen, epsilon);
  }

  static constexpr auto properties = model_search_properties<State>();
};

}  // namespace tarnwell::python
