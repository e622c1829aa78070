// What the model-based searches (Pelt, Dynp, Binseg, BottomUp, Window) share:
// their stored state, the model and min_size rules of their constructors,
// fitting the built-in cost, and their common properties.
#pragma once

#include <Python.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "cost/fitted_cost.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/parameter_docs.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell::python {

// The parameters every model-based search takes, with their defaults.
inline constexpr TextParameter model_parameter{"model", "l2"};
inline constexpr UnsignedParameter min_size_parameter{"min_size", 2};
inline constexpr UnsignedParameter jump_parameter{"jump", 5};

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

Result<ParsedModel> parse_model_argument(std::string_view name);

// A smaller request is raised to the cost's minimum segment length silently.
inline std::uint64_t raised_min_size(std::uint64_t requested, const CostModel& model) {
  return std::max(requested, model.min_segment_length());
}

// Shape checks, one copy into owned storage, then the model's statistics.
Result<std::shared_ptr<const FittedCost>> fit_cost_model(const CostModel& model, const ArrayArgument& signal);

// The previous fit is replaced only once the new one exists.
Status refit_keeping_previous(ModelSearchState& state, const ArrayArgument& signal);

// A fitted cost of `model` from its saved form.
Result<std::shared_ptr<const FittedCost>> restore_fitted_cost(const CostModel& model, StateReader& in);

// "model=" of a representation: the name quoted, with escapes.
std::string quoted_model_name(const std::string& name);

template <class State>
constexpr auto model_search_properties() {
  return std::tuple{
      StoredProperty<State, std::string>{
          "model", [](const State& state) { return state.model_name; },
          "The cost model's name, lower-cased (\"custom\" when a custom cost is used).\n\n" TARNWELL_DOC_MODEL},
      StoredProperty<State, std::uint64_t>{
          "min_size", [](const State& state) { return state.parameters.min_size; },
          "The minimum segment length in effect: the constructor's min_size raised to the model's minimum.\n\n"
          TARNWELL_DOC_MIN_SIZE},
      StoredProperty<State, std::uint64_t>{"jump", [](const State& state) { return state.parameters.jump; },
                                           "The grid step.\n\n" TARNWELL_DOC_JUMP},
      StoredProperty<State, bool>{"is_fitted", [](const State& state) { return state.is_fitted(); },
                                  "Whether a fit has succeeded, so that predict can run."},
  };
}

}  // namespace tarnwell::python
