// What Binseg, BottomUp and Window share: the constructor rules, a fit that
// keeps the previous state on failure, and predict with exactly one of three
// stopping rules.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "python/mod/model_search.hpp"
#include "python/mod/parameter_docs.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell::python {

// The model, then min_size, then jump; min_size is raised to the model's minimum.
Result<ModelSearchState> construct_greedy_state(const std::string& model, std::uint64_t min_size,
                                                std::uint64_t jump);

#define TARNWELL_DOC_MODEL_SEARCH_PARAMETERS \
  "Parameters:\n" TARNWELL_DOC_MODEL "\n" TARNWELL_DOC_MIN_SIZE "\n" TARNWELL_DOC_JUMP

template <class State>
struct GreedySearchTraits {
  static constexpr const char* fit_description =
      "Fit the model's cost to a signal and return the object itself. A failed fit keeps the previous fit.\n\n"
      TARNWELL_DOC_SIGNAL;

  static constexpr auto fit_parameters = ParameterTable<>{};
  static Status fit(State& state, const ArrayArgument& signal) { return refit_keeping_previous(state, signal); }

  // The saved form of the fit is the fitted cost's own.
  static void save(const State& state, StateWriter& out) { state.fitted->save(out); }
  static Result<std::shared_ptr<const FittedCost>> restore(const State& state, StateReader& in) {
    return restore_fitted_cost(state.model, in);
  }

  static constexpr auto predict_parameters =
      ParameterTable<OptionalUnsignedParameter, OptionalRealParameter, OptionalRealParameter>{
          OptionalUnsignedParameter{"n_bkps"}, OptionalRealParameter{"pen"}, OptionalRealParameter{"epsilon"}};

  // Fitted first, then exactly one rule; the engine checks the rule's value.
  static Result<StoppingRule> stopping_rule(const State& state, const char* class_name,
                                            std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                                            std::optional<double> epsilon) {
    if (!state.fitted) return errors::fail(errors::not_fitted(class_name));
    return choose_stopping_rule(n_bkps, pen, epsilon);
  }
};

}  // namespace tarnwell::python
