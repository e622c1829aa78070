// Pelt: exact penalised detection with pruning.
#include "python/mod/model_search.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/builtin_searches.hpp"

namespace tarnwell::python {
namespace {

struct PeltState : ModelSearchState {
  // Whether the fitted cost declares a pruning constant (every built-in model
  // but clinear, or a custom cost with a finite pelt_pruning_constant); false
  // before fitting.
  bool uses_pelt_pruning() const {
    return read_fitted(false, [](const auto& cost) { return cost.pelt_pruning_constant().has_value(); });
  }
};

struct PeltTraits {
  using State = PeltState;
  static constexpr const char* name = "Pelt";
  // The class description is the established one-liner; its parameters are
  // documented on the properties that report them and on predict.
  static constexpr const char* description = "Exact penalized change-point detection using PELT pruning.";
  static constexpr const char* fit_description =
      "Fit the cost (the model, or the custom cost's fit) to a signal and return the object itself. The previous "
      "fit is dropped first, so a failed fit leaves the object unfitted.\n\n" TARNWELL_DOC_SIGNAL;
  static constexpr const char* predict_description =
      "The breakpoints minimising the total segment cost plus pen per change, exactly, over the grid of jump "
      "with segments at least min_size long. Candidates that can no longer be optimal are pruned when the cost "
      "allows it (uses_pelt_pruning), which changes the time, never the result.\n\n" TARNWELL_DOC_PEN
      "\n\n" TARNWELL_DOC_RESULT;

  static constexpr auto constructor =
      ParameterTable<ModelArgumentParameter, ObjectParameter, UnsignedParameter, UnsignedParameter>{
          model_parameter, custom_cost_parameter, min_size_parameter, jump_parameter};

  static Result<State> construct(const ModelArgument& model, PyObject* custom_cost, std::uint64_t min_size,
                                 std::uint64_t jump) {
    TARNWELL_TRY(state, start_exact_search<State>(model, custom_cost, min_size));
    return finish_exact_search(std::move(state), jump);
  }

  static constexpr auto fit_parameters = ParameterTable<>{};
  static Status fit(State& state, const ArrayArgument& signal) {
    return fit_model_search(state, signal, name, FailedFit::unfitted);
  }

  static auto constructor_arguments(const State& state) {
    return std::tuple{state.model_value(), stored_custom_cost(state), state.parameters.min_size,
                      state.parameters.jump};
  }
  static void save(const State& state, StateWriter& out) { save_model_fit(state, out); }
  static Result<ModelFittedState> restore(const State& state, StateReader& in) {
    return restore_model_fit(state, in, name);
  }

  static constexpr auto predict_parameters = ParameterTable<RealParameter>{RealParameter{"pen"}};
  static Result<PyRef> predict(const State& state, double pen) {
    return predict_breakpoints(state.fitted, name,
                               [&](const auto& cost) { return pelt_search(cost, state.parameters, pen); });
  }

  static constexpr auto properties = std::tuple_cat(
      model_search_properties<State>(),
      std::tuple{StoredProperty<State, bool>{
          "uses_pelt_pruning", [](const State& state) { return state.uses_pelt_pruning(); },
          "Whether the fitted cost allows pruning (every built-in model but clinear, or a custom cost with a finite "
          "pelt_pruning_constant): "
          "candidates that can no longer start the last segment of an optimum are dropped, which makes the search "
          "close to linear in n_samples when changes are spread out. False before fitting."}});

  static std::string repr(const State& state) {
    return "Pelt(model=" + state.model_repr() +
           ", min_size=" + std::to_string(state.parameters.min_size) +
           ", jump=" + std::to_string(state.parameters.jump) + ", custom_cost=" + custom_cost_flag(state) + ")";
  }
};

}  // namespace

template <>
PyTypeObject* search_type<PeltSearch>() {
  return SearchClass<PeltTraits>::type();
}

}  // namespace tarnwell::python
