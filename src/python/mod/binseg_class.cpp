// Binseg and BottomUp: greedy binary segmentation and bottom-up merging over
// a built-in cost model; they differ only in their engine.
#include "python/mod/greedy_search.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/builtin_searches.hpp"

namespace tarnwell::python {
namespace {

template <const char* Name, const char* Description, const char* PredictDescription, auto Search>
struct GrowOrMergeTraits : GreedySearchTraits<ModelSearchState> {
  using State = ModelSearchState;
  static constexpr const char* name = Name;
  static constexpr const char* description = Description;
  static constexpr const char* predict_description = PredictDescription;

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
constexpr char binseg_description[] =
    "Binary segmentation: a greedy search that starts from the whole signal and repeatedly splits the segment "
    "whose best split lowers the total cost most. Approximate (a split, once made, is never moved) and fast, "
    "about n_samples * log(n_samples) cost evaluations: use it for long signals, or for a quick first look "
    "before an exact search.\n\n" TARNWELL_DOC_MODEL_SEARCH_PARAMETERS;
constexpr char binseg_predict[] =
    "The breakpoints found by splitting until the stopping rule refuses the best remaining split.\n\n"
    TARNWELL_DOC_GREEDY_RULES "\n\n" TARNWELL_DOC_RESULT;

constexpr char bottom_up_name[] = "BottomUp";
constexpr char bottom_up_description[] =
    "Bottom-up segmentation: a greedy search that cuts the signal into short grid-aligned pieces, then "
    "repeatedly merges the adjacent pair whose merge raises the total cost least. Approximate and fast; "
    "starting from a fine split, it keeps short segments that a top-down search can miss.\n\n"
    TARNWELL_DOC_MODEL_SEARCH_PARAMETERS;
constexpr char bottom_up_predict[] =
    "The breakpoints left when merging stops: when n_bkps changes remain, when every remaining merge would "
    "raise the cost by more than pen, or before the total cost would exceed epsilon.\n\n"
    TARNWELL_DOC_GREEDY_RULES "\n\n" TARNWELL_DOC_RESULT;

}  // namespace

PyTypeObject* binseg_type() {
  return SearchClass<GrowOrMergeTraits<binseg_name, binseg_description, binseg_predict, &binseg_search>>::type();
}
PyTypeObject* bottom_up_type() {
  return SearchClass<
      GrowOrMergeTraits<bottom_up_name, bottom_up_description, bottom_up_predict, &bottom_up_search>>::type();
}

}  // namespace tarnwell::python
