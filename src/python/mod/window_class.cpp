// Window: greedy sliding-window detection over a cost model or a custom cost.
#include <type_traits>

#include "python/mod/greedy_search.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/builtin_searches.hpp"
#include "search/greedy/window_engine.hpp"

namespace tarnwell::python {
namespace {

struct WindowState : ModelSearchState {
  std::uint64_t width = 0;  // even
};

struct WindowTraits : GreedySearchTraits<WindowTraits, WindowState> {
  using State = WindowState;
  static constexpr const char* name = "Window";
  static inline const std::string description =
      "Sliding-window detection: at every grid position, the gain of cutting a window of width samples centred "
      "there into its two halves is computed; the strict local maxima of that gain are the candidates, taken "
      "by decreasing gain. Fast (linear in n_samples) and local: use it on long signals whose segments are "
      "longer than half the window.\n\n"
      "width: the window length in samples, rounded down to even; each half must hold min_size samples.\n" +
      greedy_parameters_doc();
  static constexpr const char* predict_description =
      "The breakpoints: candidate peaks of the window gain, added by decreasing gain while the stopping rule "
      "allows.\n\n" TARNWELL_DOC_GREEDY_RULES "\n\n" TARNWELL_DOC_RESULT;

  static constexpr auto constructor =
      ParameterTable<UnsignedParameter, ModelArgumentParameter, UnsignedParameter, UnsignedParameter,
                     ObjectParameter>{UnsignedParameter{"width", 100}, model_parameter, min_size_parameter,
                                      jump_parameter, custom_cost_parameter};

  // The width is rounded down to even, so the window splits into two equal
  // halves; each half must hold a whole segment of min_size samples.
  static Result<State> construct(std::uint64_t width, const ModelArgument& model, std::uint64_t min_size,
                                 std::uint64_t jump, PyObject* custom_cost) {
    TARNWELL_TRY(common, construct_greedy_state(model, custom_cost, min_size, jump));
    const std::uint64_t even_width = width & ~std::uint64_t{1};
    const std::uint64_t raised = common.parameters.min_size;
    if (even_width / 2 < raised) {
      // 2 min_size is only printed; it saturates rather than wraps for absurd min_size.
      const std::uint64_t required = raised > UINT64_MAX / 2 ? UINT64_MAX : 2 * raised;
      return errors::fail(errors::invalid_segment(0, even_width, required));
    }
    State state;
    static_cast<ModelSearchState&>(state) = std::move(common);
    state.width = even_width;
    return state;
  }

  static Result<PyRef> predict(const State& state, std::optional<std::uint64_t> n_bkps, std::optional<double> pen,
                               std::optional<double> epsilon) {
    TARNWELL_TRY(rule, stopping_rule(state, name, n_bkps, pen, epsilon));
    return predict_breakpoints(state.fitted, name, [&](const auto& cost) {
      if constexpr (std::is_same_v<std::remove_cvref_t<decltype(cost)>, FittedCost>) {
        return window_search(cost, state.parameters, state.width, rule);
      } else {
        return run_window(cost, state.parameters, state.width, rule);
      }
    });
  }

  static std::string repr(const State& state) {
    return greedy_repr(name, "width=" + std::to_string(state.width) + ", ", state);
  }

  static auto constructor_arguments(const State& state) {
    return std::tuple{state.width, state.model_value(), state.parameters.min_size, state.parameters.jump,
                      stored_custom_cost(state)};
  }

  static constexpr auto properties = std::tuple_cat(
      model_search_properties<State>(),
      std::tuple{StoredProperty<State, std::uint64_t>{
          "width", [](const State& state) { return state.width; },
          "The window length in samples: the constructor's width rounded down to even."}});
};

}  // namespace

template <>
PyTypeObject* search_type<WindowSearch>() {
  return SearchClass<WindowTraits>::type();
}

}  // namespace tarnwell::python
