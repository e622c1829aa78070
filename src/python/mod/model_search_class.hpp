// The class of a search declared by a descriptor alone (see
// search/search_descriptor.hpp): a model-based search with the greedy frame's
// three stopping rules, over the built-in costs and over a Python custom cost.
//
//   Name(model="l2", min_size=2, jump=5, custom_cost=None)
//
// custom_cost comes last, so calls that pass min_size and jump by position
// keep their meaning.
#pragma once

#include <Python.h>

#include <string>

#include "python/mod/greedy_search.hpp"
#include "python/mod/search_class.hpp"

namespace tarnwell::python {

template <class Search>
struct GeneratedSearchTraits : GreedySearchTraits<GeneratedSearchTraits<Search>, ModelSearchState> {
  using State = ModelSearchState;
  static constexpr const char* name = Search::class_name.data();
  static inline const std::string description =
      std::string(Search::description) + "\n\n" + greedy_parameters_doc();
  static inline const std::string predict_description = std::string(Search::predict_description) +
                                                        "\n\n" TARNWELL_DOC_GREEDY_RULES "\n\n" TARNWELL_DOC_RESULT;

  static constexpr auto constructor =
      ParameterTable<ModelArgumentParameter, UnsignedParameter, UnsignedParameter, ObjectParameter>{
          model_parameter, min_size_parameter, jump_parameter, custom_cost_parameter};
  static Result<State> construct(const ModelArgument& model, std::uint64_t min_size, std::uint64_t jump,
                                 PyObject* custom_cost) {
    return construct_greedy_state(model, custom_cost, min_size, jump);
  }

  static Result<PyRef> predict(const State& state, std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                               std::optional<double> epsilon) {
    TARNWELL_TRY(rule, GeneratedSearchTraits::stopping_rule(state, name, n_bkps, pen, epsilon));
    return predict_breakpoints(state.fitted, name,
                               [&](const auto& cost) { return Search::run(cost, state.parameters, rule); });
  }

  static std::string repr(const State& state) { return greedy_repr(name, "", state); }

  static auto constructor_arguments(const State& state) {
    return std::tuple{state.model_value(), state.parameters.min_size, state.parameters.jump,
                      stored_custom_cost(state)};
  }
};

template <class Search>
PyTypeObject* generated_search_type() {
  return SearchClass<GeneratedSearchTraits<Search>>::type();
}

}  // namespace tarnwell::python
