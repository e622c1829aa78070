// Dynp: exact detection of a fixed number of changes by dynamic programming.
#include "python/mod/model_search.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/builtin_searches.hpp"
#include "search/dynp/dynp_memory.hpp"

namespace tarnwell::python {
namespace {

struct DynpState : ModelSearchState {
  std::uint64_t max_memory_bytes = default_dynp_memory_limit;
};

struct DynpTraits {
  using State = DynpState;
  static constexpr const char* name = "Dynp";
  // The class description is the established one-liner; its parameters are
  // documented on the properties that report them and on predict.
  static constexpr const char* description = "Exact fixed-change dynamic programming detector.";
  static constexpr const char* fit_description =
      "Fit the cost (the model, or the custom cost's fit) to a signal and return the object itself. The previous "
      "fit is dropped first, so a failed fit leaves the object unfitted.\n\n" TARNWELL_DOC_SIGNAL;
  static constexpr const char* predict_description =
      "The breakpoints of the n_bkps changes minimising the total segment cost, exactly, over the grid of jump "
      "with segments at least min_size long. Its tables take about estimated_memory_bytes(n_bkps) bytes and are "
      "refused above max_memory_bytes.\n\n" TARNWELL_DOC_N_BKPS "\n\n" TARNWELL_DOC_RESULT;

  static constexpr auto constructor =
      ParameterTable<ModelArgumentParameter, ObjectParameter, UnsignedParameter, UnsignedParameter, UnsignedParameter>{
          model_parameter, custom_cost_parameter, min_size_parameter, jump_parameter,
          UnsignedParameter{"max_memory_bytes", default_dynp_memory_limit}};

  static Result<State> construct(const ModelArgument& model, PyObject* custom_cost, std::uint64_t min_size,
                                 std::uint64_t jump, std::uint64_t max_memory_bytes) {
    TARNWELL_TRY(state, start_exact_search<State>(model, custom_cost, min_size));
    if (max_memory_bytes == 0) return errors::fail(errors::memory_limit_zero(0));
    state.max_memory_bytes = max_memory_bytes;
    return finish_exact_search(std::move(state), jump);
  }

  static constexpr auto fit_parameters = ParameterTable<>{};
  static Status fit(State& state, const ArrayArgument& signal) {
    return fit_model_search(state, signal, name, FailedFit::unfitted);
  }

  static auto constructor_arguments(const State& state) {
    return std::tuple{state.model_value(), stored_custom_cost(state), state.parameters.min_size,
                      state.parameters.jump, state.max_memory_bytes};
  }
  static void save(const State& state, StateWriter& out) { save_model_fit(state, out); }
  static Result<ModelFittedState> restore(const State& state, StateReader& in) {
    return restore_model_fit(state, in, name);
  }

  static constexpr auto predict_parameters = ParameterTable<UnsignedParameter>{UnsignedParameter{"n_bkps"}};
  static Result<PyRef> predict(const State& state, std::uint64_t n_bkps) {
    return predict_breakpoints(state.fitted, name, [&](const auto& cost) {
      return dynp_search(cost, state.parameters, n_bkps, state.max_memory_bytes);
    });
  }

  // The estimate is reported, not compared with the limit; only an estimate
  // too large to represent is refused, with the limit message.
  static Result<PyRef> estimate(const State& state, std::uint64_t n_bkps) {
    const std::optional<std::uint64_t> n_samples = state.fitted_n_samples();
    if (!n_samples) return errors::fail(errors::not_fitted(name));
    const std::uint64_t bytes = estimate_dynp_memory(*n_samples, state.parameters.jump, n_bkps);
    if (bytes == saturated_memory_estimate) {
      return errors::fail(errors::dynp_memory_limit(bytes, state.max_memory_bytes));
    }
    return to_python(bytes);
  }

  static PyObject* estimated_memory_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("estimated_memory_bytes", predict_parameters);
    return run_method<State, Access::shared>(self, "estimating Dynp prediction memory", layout, predict_parameters,
                                             args, nargs, kwnames, &estimate);
  }

  static void add_methods(TypeParts& parts) {
    static const std::string doc = docstring(
        signature_text("estimated_memory_bytes", predict_parameters, true),
        "The working memory, in bytes, that predict(n_bkps) would allocate for its tables on the fitted signal "
        "(compare with max_memory_bytes, above which predict refuses to run).\n\n" TARNWELL_DOC_N_BKPS);
    parts.methods.push_back(fastcall_definition("estimated_memory_bytes", &estimated_memory_bytes, doc.c_str()));
  }

  static constexpr auto properties = std::tuple_cat(
      model_search_properties<State>(),
      std::tuple{StoredProperty<State, std::uint64_t>{
          "max_memory_bytes", [](const State& state) { return state.max_memory_bytes; },
          "The constructor's max_memory_bytes: the most working memory a prediction may allocate for its tables; "
          "a larger estimate fails with MemoryError before anything is allocated."}});

  static std::string repr(const State& state) {
    return "Dynp(model=" + state.model_repr() +
           ", min_size=" + std::to_string(state.parameters.min_size) +
           ", jump=" + std::to_string(state.parameters.jump) +
           ", max_memory_bytes=" + std::to_string(state.max_memory_bytes) + ", custom_cost=" + custom_cost_flag(state) +
           ")";
  }
};

}  // namespace

template <>
PyTypeObject* search_type<DynpSearch>() {
  return SearchClass<DynpTraits>::type();
}

}  // namespace tarnwell::python
