// Binseg and BottomUp: greedy binary segmentation and bottom-up merging over
// a built-in cost model; they differ only in their engine.
#include "python/mod/greedy_search.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/builtin_searches.hpp"

namespace tarnwell::python {
namespace {

template <const char* Name, auto Search>
struct GrowOrMergeTraits : GreedySearchTraits<ModelSearchState> {
  using State = ModelSearchState;
  static constexpr const char* name = Name;

  static constexpr auto constructor = ParameterTable<TextParameter, UnsignedParameter, UnsignedParameter>{
      model_parameter, min_size_parameter, jump_parameter};
  static Result<State> construct(const std::string& model, std::uint64_t min_size, std::uint64_t jump) {
    return construct_greedy_state(model, min_size, jump);
  }

  static Result<PyRef> predict(const State& state, std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                               std::optional<double> epsilon) {
    TARNWELL_TRY(rule, stopping_rule(state, name, n_bkps, pen, epsilon));
    return predict_breakpoints(state.fitted, name,
                               [&](const auto& cost) { return Search(cost, state.parameters, rule); });
  }

  static auto constructor_arguments(const State& state) {
    return std::tuple{state.model_name, state.parameters.min_size, state.parameters.jump};
  }

  static constexpr auto properties = model_search_properties<State>();
};

constexpr char binseg_name[] = "Binseg";
constexpr char bottom_up_name[] = "BottomUp";

}  // namespace

PyTypeObject* binseg_type() { return SearchClass<GrowOrMergeTraits<binseg_name, &binseg_search>>::type(); }
PyTypeObject* bottom_up_type() { return SearchClass<GrowOrMergeTraits<bottom_up_name, &bottom_up_search>>::type(); }

}  // namespace tarnwell::python
