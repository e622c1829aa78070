// KernelCPD: kernel change-point detection with a fixed number of changes or
// a penalty. Fused states run KernelCPD's own programmes; full and streaming
// Gram states are searched by the shared Dynp and Pelt engines.
#include <memory>
#include <variant>

#include "core/fallible_allocation.hpp"
#include "core/signal.hpp"
#include "cost/sum_of_costs.hpp"
#include "kernel/gram_prefix_memory.hpp"
#include "kernel/kernel_saved_state.hpp"
#include "kernel/prepare_kernel.hpp"
#include "core/error/message.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"
#include "search/kernel_cpd/kernel_gram_searches.hpp"

namespace tarnwell::python {
namespace {

struct KernelCpdState {
  std::string kernel_name;   // lower-cased
  std::string backend_name;  // lower-cased
  KernelSpec kernel_choice;
  KernelBackend backend = KernelBackend::fused;
  SearchParameters parameters;
  std::uint64_t max_gram_bytes = default_max_gram_bytes;
  // A Gram state (full, streaming) or a fused one; each prediction takes its
  // own reference to it.
  std::variant<std::monostate, std::shared_ptr<const KernelGramState>, std::shared_ptr<const FusedKernelState>>
      fitted;

  bool is_fitted() const noexcept { return !std::holds_alternative<std::monostate>(fitted); }
  std::optional<double> gamma() const noexcept {
    if (const auto* gram = std::get_if<1>(&fitted)) return (*gram)->gamma();
    if (const auto* fused = std::get_if<2>(&fitted)) return (*fused)->resolved_gamma();
    return std::nullopt;
  }
};

// The caller's text as given goes into the message; matching ignores ASCII case.
Result<KernelSpec> parse_kernel(const std::string& kernel_argument, std::optional<double> gamma,
                                const std::string& policy_argument, std::uint64_t gamma_samples, std::uint64_t seed) {
  const std::string kernel = ascii_lowercase(kernel_argument);
  if (kernel == "linear") return KernelSpec{KernelKind::linear};
  if (kernel == "cosine") return KernelSpec{KernelKind::cosine};
  if (kernel != "rbf") return errors::fail(errors::unsupported_kernel(kernel_argument));
  // The policy is read only when there is a bandwidth to choose.
  if (gamma) return KernelSpec{KernelKind::rbf_fixed, *gamma};
  const std::string policy = ascii_lowercase(policy_argument);
  if (policy == "exact") return KernelSpec{KernelKind::rbf_exact_median};
  if (policy == "sampled") return KernelSpec{KernelKind::rbf_sampled_median, 1.0, gamma_samples, seed};
  return errors::fail(errors::unsupported_gamma_policy(policy_argument));
}

Result<KernelBackend> parse_backend(const std::string& name) {
  const std::string backend = ascii_lowercase(name);
  if (backend == "full") return KernelBackend::full;
  if (backend == "streaming") return KernelBackend::streaming;
  if (backend == "fused") return KernelBackend::fused;
  return errors::fail(errors::unsupported_backend(name));
}

// Runs a search on the fitted state with the interpreter lock released: the
// fused programmes on a fused state, the shared engines on a Gram state.
template <class Fused, class Gram>
Result<PyRef> search_fitted(const KernelCpdState& state, Fused&& fused, Gram&& gram) {
  return predict_breakpoints(state.fitted, "KernelCPD", [&](const auto& fitted) -> Result<Segmentation> {
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(fitted)>, FusedKernelState>) {
      return fused(fitted);
    } else {
      return gram(fitted);
    }
  });
}

struct KernelCpdTraits {
  using State = KernelCpdState;
  static constexpr const char* name = "KernelCPD";
  static constexpr const char* description =
      "Kernel change-point detection: segments are compared in the feature space of a kernel, so changes in "
      "the whole distribution (mean, spread, shape) are found without a parametric model. Exact: a fixed "
      "number of changes (n_bkps) by dynamic programming, or a penalty (pen) by a pruned search.\n\n"
      "Parameters:\n"
      "kernel: \"rbf\" (exp(-gamma * ||x - y||**2), any distribution change), \"linear\" (inner products: changes "
      "in mean, like l2) or \"cosine\" (changes in direction, scale-free).\n" TARNWELL_DOC_MIN_SIZE "\n"
      TARNWELL_DOC_JUMP "\n"
      "gamma: the rbf bandwidth, finite and positive; None chooses it at fit as 1 / the median squared distance "
      "between rows, so that the choice follows the scale of the signal (a ValueError when that value cannot be "
      "a double at the signal's scale).\n"
      "gamma_policy: how that median is taken: \"exact\" over all pairs of rows (O(n_samples**2) time), or "
      "\"sampled\" over gamma_samples pairs drawn from seed (reproducible).\n"
      "gamma_samples: the number of pairs the sampled policy draws, at most the number of pairs of rows "
      "(checked at fit).\n"
      "seed: the seed of that draw.\n"
      "backend: how the fitted kernel is kept: \"fused\" (the rows only, O(n_samples) memory; the fastest for "
      "most uses), \"full\" (a (n_samples + 1)**2 table of Gram prefix sums, constant-time segment costs, "
      "limited by max_gram_bytes) or \"streaming\" (the rows only, costs folded on demand).\n"
      "max_gram_bytes: the most memory the full backend's table may take; a larger one fails with MemoryError "
      "at fit.";
  static constexpr const char* fit_description =
      "Prepare the kernel on a signal (rows, bandwidth and the backend's tables) and return the object itself. "
      "A failed fit keeps the previous fit.\n\n" TARNWELL_DOC_SIGNAL;
  static constexpr const char* predict_description =
      "The exact breakpoints for the kernel cost: exactly one of n_bkps and pen is given.\n\n" TARNWELL_DOC_N_BKPS
      "\npen: the penalty per change, finite and positive. The rbf and cosine costs of a segment lie between 0 "
      "and its length, and do not change with the scale of the signal (for rbf with the default bandwidth), so "
      "one penalty suits signals of any scale; the linear kernel's costs scale like l2, with the square of the "
      "signal (the penalty scales with the noise variance). "
      "tarnwell.penalty.penalty_path lists every distinct segmentation over a range of penalties.\n\n"
      TARNWELL_DOC_RESULT;

  static constexpr auto constructor =
      ParameterTable<TextParameter, UnsignedParameter, UnsignedParameter, OptionalRealParameter, TextParameter,
                     UnsignedParameter, UnsignedParameter, TextParameter, UnsignedParameter>{
          TextParameter{"kernel", "rbf"},
          UnsignedParameter{"min_size", 2},
          UnsignedParameter{"jump", 1},
          OptionalRealParameter{"gamma"},
          TextParameter{"gamma_policy", "exact"},
          UnsignedParameter{"gamma_samples", 10000},
          UnsignedParameter{"seed", 0},
          TextParameter{"backend", "fused"},
          UnsignedParameter{"max_gram_bytes", default_max_gram_bytes}};

  // min_size, jump, the kernel (and its policy), then the backend; gamma and
  // gamma_samples themselves are checked at fit.
  static Result<State> construct(const std::string& kernel, std::uint64_t min_size, std::uint64_t jump,
                                 std::optional<double> gamma, const std::string& gamma_policy,
                                 std::uint64_t gamma_samples, std::uint64_t seed, const std::string& backend,
                                 std::uint64_t max_gram_bytes) {
    if (min_size == 0) return errors::fail(errors::min_size_zero(0));
    if (jump == 0) return errors::fail(errors::jump_zero(0));
    TARNWELL_TRY(kernel_choice, parse_kernel(kernel, gamma, gamma_policy, gamma_samples, seed));
    TARNWELL_TRY(backend_choice, parse_backend(backend));
    State state;
    state.kernel_name = ascii_lowercase(kernel);
    state.backend_name = ascii_lowercase(backend);
    state.kernel_choice = kernel_choice;
    state.backend = backend_choice;
    state.parameters = SearchParameters{min_size, jump};
    state.max_gram_bytes = max_gram_bytes;
    return state;
  }

  // The signal is copied with the interpreter lock held; the kernel
  // preparation (bandwidth, Gram table) runs without it and can be interrupted. The state changes
  // only on success.
  static constexpr auto fit_parameters = ParameterTable<>{};
  static Status fit(State& state, const ArrayArgument& signal) {
    TARNWELL_TRY(view, signal.signal_view());
    TARNWELL_TRY(owned, Signal::copy_from(view));
    Result<PreparedKernel> prepared = [&] {
      ReleasedInterpreterLock unlocked;
      InterruptionScope interruptible(&pending_signal_raised);
      return prepare_kernel(owned, state.kernel_choice, state.backend, state.parameters.min_size, state.parameters.jump,
                            state.max_gram_bytes);
    }();
    if (!prepared) return errors::fail(std::move(prepared.error()));
    std::visit([&](auto& handle) { state.fitted = std::move(handle); }, *prepared);
    return {};
  }

  // The constructor's values as stored: a bandwidth only when the caller gave
  // one, the policy and its sampling parameters as they select the kernel.
  static auto constructor_arguments(const State& state) {
    const KernelSpec& kernel_choice = state.kernel_choice;
    const bool sampled = kernel_choice.kind == KernelKind::rbf_sampled_median;
    const std::optional<double> gamma =
        kernel_choice.kind == KernelKind::rbf_fixed ? std::optional<double>(kernel_choice.gamma) : std::nullopt;
    return std::tuple{state.kernel_name,
                      state.parameters.min_size,
                      state.parameters.jump,
                      gamma,
                      std::string(sampled ? "sampled" : "exact"),
                      sampled ? kernel_choice.gamma_samples : std::uint64_t{10000},
                      kernel_choice.seed,
                      state.backend_name,
                      state.max_gram_bytes};
  }

  // The saved form: the prepared rows and the resolved bandwidth; the Gram
  // table of the full backend is rebuilt from them.
  static void save(const State& state, StateWriter& out) {
    std::visit(
        [&](const auto& handle) {
          if constexpr (!std::is_same_v<std::remove_cvref_t<decltype(handle)>, std::monostate>) {
            save_prepared_kernel(PreparedKernel(handle), out);
          }
        },
        state.fitted);
  }
  static Result<decltype(State::fitted)> restore(const State& state, StateReader& in) {
    Result<PreparedKernel> prepared = [&] {
      ReleasedInterpreterLock unlocked;
      return restore_prepared_kernel(in, state.backend, family_of(state.kernel_choice), state.parameters.min_size,
                                     state.parameters.jump, state.max_gram_bytes);
    }();
    if (!prepared) return errors::fail(std::move(prepared.error()));
    return std::visit([](auto& handle) { return decltype(State::fitted)(std::move(handle)); }, *prepared);
  }

  static constexpr auto predict_parameters = ParameterTable<OptionalUnsignedParameter, OptionalRealParameter>{
      OptionalUnsignedParameter{"n_bkps"}, OptionalRealParameter{"pen"}};

  // The rule is checked before the fitted state, so a bad call fails the same
  // way fitted or not.
  static Result<PyRef> predict(const State& state, std::optional<std::uint64_t> n_bkps, std::optional<double> pen) {
    if (n_bkps.has_value() == pen.has_value()) return errors::fail(errors::stopping_rule_count());
    if (n_bkps) {
      return search_fitted(
          state, [&](const FusedKernelState& fused) { return run_fused_fixed_count(fused, *n_bkps); },
          [&](const KernelGramState& gram) { return search_gram_fixed_count(gram, state.parameters, *n_bkps); });
    }
    return search_fitted(
        state, [&](const FusedKernelState& fused) { return run_fused_penalized(fused, *pen); },
        [&](const KernelGramState& gram) { return search_gram_penalized(gram, state.parameters, *pen); });
  }

  static Result<std::uint64_t> stored_gram_entries(const State& state) {
    if (!state.is_fitted()) return errors::fail(errors::not_fitted(name));
    if (const auto* gram = std::get_if<1>(&state.fitted)) return (*gram)->stored_gram_entries();
    return std::uint64_t{0};
  }

  // The total kernel cost of a segmentation of the fitted signal, in the
  // units predict minimises; a fused state is costed through a streaming
  // view of its rows, so every backend gives the same values.
  static Result<PyRef> total_cost(const State& state, const BreakpointsArgument& breakpoints) {
    if (!state.is_fitted()) return errors::fail(errors::not_fitted(name));
    if (const auto* gram = std::get_if<1>(&state.fitted)) {
      TARNWELL_TRY(total, sum_of_costs(**gram, breakpoints.values()));
      return to_python(total);
    }
    const FusedKernelState& fused = *std::get<2>(state.fitted);
    PreparedRows rows;
    TARNWELL_CHECK(try_allocate("copying the prepared kernel rows", [&] { rows.values = fused.rows; }));
    rows.n = fused.n;
    rows.width = fused.width;
    TARNWELL_TRY(streaming, KernelGramState::build_streaming(std::move(rows), fused.family, fused.gamma));
    TARNWELL_TRY(total, sum_of_costs(*streaming, breakpoints.values()));
    return to_python(total);
  }

  static constexpr const char* total_cost_description =
      "The total kernel cost of a segmentation of the fitted signal (the sum over segments of the kernel "
      "diagonal minus the segment's Gram sum over its length), in the units predict minimises.";

  static constexpr auto properties = std::tuple{
      StoredProperty<State, std::string>{"kernel", [](const State& state) { return state.kernel_name; },
                                         "The kernel's name, lower-cased: \"rbf\", \"linear\" or \"cosine\"."},
      StoredProperty<State, std::string>{"backend", [](const State& state) { return state.backend_name; },
                                         "The backend's name, lower-cased: \"fused\", \"full\" or \"streaming\"."},
      StoredProperty<State, std::uint64_t>{"min_size", [](const State& state) { return state.parameters.min_size; },
                                           "The minimum segment length.\n\n" TARNWELL_DOC_MIN_SIZE},
      StoredProperty<State, std::uint64_t>{"jump", [](const State& state) { return state.parameters.jump; },
                                           "The grid step.\n\n" TARNWELL_DOC_JUMP},
      StoredProperty<State, std::optional<double>>{
          "gamma", [](const State& state) { return state.gamma(); },
          "The rbf bandwidth in use once fitted (the caller's, or the median heuristic's); None before fitting "
          "and for the linear and cosine kernels."},
      CheckedProperty<State, std::uint64_t>{
          "stored_gram_entries", &stored_gram_entries,
          "The number of Gram prefix sums the fitted state keeps: (n_samples + 1)**2 for the full backend, 0 for "
          "the others. Fails before fitting."},
      StoredProperty<State, bool>{"is_fitted", [](const State& state) { return state.is_fitted(); },
                                  "Whether a fit has succeeded, so that predict can run."},
  };
};

}  // namespace

template <>
PyTypeObject* search_type<KernelCPDSearch>() {
  return SearchClass<KernelCpdTraits>::type();
}

}  // namespace tarnwell::python
