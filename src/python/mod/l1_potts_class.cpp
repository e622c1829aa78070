// L1Potts: the exact weighted L1-Potts detector for scalar signals. It owns
// its data (no cost model); fit builds the levels, predict runs the programme
// with the interpreter lock released.
#include <memory>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "cost/segment_validation.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/parameter_docs.hpp"
#include "python/mod/search_dispatch.hpp"
#include "python/mod/search_class.hpp"
#include "search/l1_potts/l1_potts_engine.hpp"
#include "search/l1_potts/l1_potts_objective.hpp"

namespace tarnwell::python {
namespace {

struct L1PottsState {
  std::shared_ptr<const L1PottsData> fitted;

  bool is_fitted() const noexcept { return fitted != nullptr; }
};

// A converted `weights` argument: the array, held for the call, and its view.
struct WeightsArgument {
  ArrayArgument array;
  StridedMatrix view;
};

// None, or a one-dimensional float64 array; anything else is a TypeError
// naming the argument, raised while the arguments are converted.
struct WeightsParameter {
  TARNWELL_NONE_DEFAULT
  using Value = std::optional<WeightsArgument>;
  const char* name;
  std::optional<Value> convert(PyObject* value) const {
    std::optional<ArrayArgument> array = ArrayArgument::from_python(value, name);
    if (!array) return std::nullopt;
    std::optional<StridedMatrix> view = array->vector_view(name);
    if (!view) return std::nullopt;
    return Value(WeightsArgument{std::move(*array), *view});
  }
  Value fallback() const { return std::nullopt; }
};

Result<const L1PottsData*> require_fitted(const L1PottsState& state) {
  if (!state.fitted) return errors::fail(errors::not_fitted("L1Potts"));
  return state.fitted.get();
}

struct L1PottsTraits {
  using State = L1PottsState;
  static constexpr const char* name = "L1Potts";
  static constexpr const char* description =
      "Exact scalar weighted L1-Potts detector with O(KN) dynamic programming.\n\n"
      "Meant for signals with few distinct levels K, such as counts or quantised sensor readings: a "
      "prediction takes time and memory proportional to n_samples * K (one byte per sample and level). "
      "Quantise real-valued data first, for example with np.round(x, decimals) or np.round(x / step) * step.\n\n"
      "A segment costs the weighted sum of absolute deviations from its weighted median; predict minimises the "
      "total cost plus pen per change exactly, over every sample (no grid, segments of any length). The "
      "constructor takes no parameters.";
  static constexpr const char* fit_description =
      "Keep a scalar signal, its weights and its distinct levels, and return the object itself. A failed fit "
      "keeps the previous fit.\n\n"
      "signal: float64 NumPy array of shape (n_samples,) or (n_samples, 1), every value finite.\n"
      "weights: None (every sample weighs 1) or a float64 array of n_samples finite, non-negative weights; a "
      "sample's deviations count weights[i] times.";
  static constexpr const char* predict_description =
      "The exact breakpoints minimising the total weighted L1 cost plus pen per change.\n\n"
      "pen: the penalty per change, finite and positive. The costs are weighted absolute deviations, so they "
      "scale with the signal (not its square) and with the weights: doubling the signal or the weights doubles "
      "the penalty that finds the same changes.\n\n" TARNWELL_DOC_RESULT;

  static constexpr auto constructor = ParameterTable<>{};
  static Result<State> construct() { return State{}; }

  static constexpr auto fit_parameters = ParameterTable<WeightsParameter>{WeightsParameter{"weights"}};

  // The new state replaces the previous one only once it is complete, so a
  // failed fit leaves an earlier fit in place.
  static Status fit(State& state, const ArrayArgument& signal, const std::optional<WeightsArgument>& weights) {
    TARNWELL_TRY(view, signal.signal_view());
    TARNWELL_TRY(owned, Signal::copy_from(view));
    std::optional<StridedMatrix> weights_view;
    if (weights) weights_view = weights->view;
    TARNWELL_TRY(fitted, build(owned, weights_view));
    state.fitted = std::move(fitted);
    return {};
  }

  // The levels of a signal and its weights; allocation failures are memory errors.
  static Result<std::shared_ptr<const L1PottsData>> build(const Signal& signal,
                                                          const std::optional<StridedMatrix>& weights) {
    std::optional<Result<L1PottsData>> built;
    std::shared_ptr<const L1PottsData> fitted;
    TARNWELL_CHECK(try_allocate("building the L1-Potts levels", [&] {
      built = L1PottsData::fit(signal, weights);
      if (*built) fitted = std::make_shared<const L1PottsData>(std::move(**built));
    }));
    if (!*built) return errors::fail(std::move(built->error()));
    return fitted;
  }

  static std::tuple<> constructor_arguments(const State&) { return {}; }

  // The saved form is the fitted signal and its weights; restoring builds the
  // levels again, exactly as fit did.
  static void save(const State& state, StateWriter& out) {
    save_signal(out, state.fitted->n_samples(), 1, state.fitted->values());
    out.put(std::span<const double>(state.fitted->weights()));
  }
  static Result<std::shared_ptr<const L1PottsData>> restore(const State&, StateReader& in) {
    TARNWELL_TRY(signal, restore_signal(in));
    std::vector<double> weights;
    TARNWELL_CHECK(in.get(weights, signal.n_samples(), "the weights"));
    const StridedMatrix weights_view{reinterpret_cast<const std::byte*>(weights.data()), signal.n_samples(), 1,
                                     static_cast<std::int64_t>(sizeof(double)), static_cast<std::int64_t>(sizeof(double))};
    return build(signal, weights_view);
  }

  static constexpr auto predict_parameters = ParameterTable<RealParameter>{RealParameter{"pen"}};
  static Result<PyRef> predict(const State& state, double pen) {
    TARNWELL_TRY(data, require_fitted(state));
    // The prediction's own reference keeps the data alive whatever happens to the object.
    const std::shared_ptr<const L1PottsData> held = state.fitted;
    Result<Segmentation> outcome = [&] {
      ReleasedInterpreterLock unlocked;
      InterruptionScope interruptible(&pending_signal_raised);
      return run_l1_potts(*data, pen);
    }();
    if (!outcome) return errors::fail(std::move(outcome.error()));
    return PyRef::steal(breakpoints_to_list(outcome->breakpoints));
  }

  static Result<PyRef> total_cost(const State& state, const BreakpointsArgument& breakpoints) {
    TARNWELL_TRY(data, require_fitted(state));
    // Any segment length has a cost.
    TARNWELL_CHECK(check_breakpoints(breakpoints.values(), data->n_samples(), 1));
    TARNWELL_TRY(total, weighted_median_cost(*data, breakpoints.values()));
    return to_python(total);
  }

  static constexpr const char* total_cost_description =
      "The total cost of a segmentation of the fitted signal: the weighted absolute deviations of every "
      "segment from its weighted median, the cost predict minimises (without the penalties).";

  static constexpr auto properties = std::tuple{
      CheckedProperty<State, std::uint64_t>{"n_samples",
                                            [](const State& state) -> Result<std::uint64_t> {
                                              TARNWELL_TRY(data, require_fitted(state));
                                              return data->n_samples();
                                            },
                                            "The number of samples of the fitted signal. Fails before fitting."},
      CheckedProperty<State, std::uint64_t>{"distinct_levels",
                                            [](const State& state) -> Result<std::uint64_t> {
                                              TARNWELL_TRY(data, require_fitted(state));
                                              return data->distinct_levels();
                                            },
                                            "K, the number of distinct values of the fitted signal: a prediction "
                                            "takes time and memory proportional to n_samples * K. Fails before "
                                            "fitting."},
      StoredProperty<State, bool>{"is_fitted", [](const State& state) { return state.fitted != nullptr; },
                                  "Whether a fit has succeeded, so that predict can run."}};

  static std::string repr(const State& state) {
    if (!state.fitted) return "L1Potts()";
    return "L1Potts(n_samples=" + std::to_string(state.fitted->n_samples()) +
           ", distinct_levels=" + std::to_string(state.fitted->distinct_levels()) + ")";
  }
};

}  // namespace

template <>
PyTypeObject* search_type<L1PottsSearch>() {
  return SearchClass<L1PottsTraits>::type();
}

}  // namespace tarnwell::python
