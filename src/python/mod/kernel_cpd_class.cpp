// KernelCPD: kernel change-point detection with a fixed number of changes or
// a penalty. Fused states run KernelCPD's own programmes; full and streaming
// Gram states are searched by the shared Dynp and Pelt engines.
#include <memory>
#include <variant>

#include "core/signal.hpp"
#include "kernel/gram_prefix_memory.hpp"
#include "kernel/prepare_kernel.hpp"
#include "python/error/message.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/fit_method.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/property_getters.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/signal_argument.hpp"
#include "search/kernel_cpd/fused_programmes.hpp"
#include "search/kernel_cpd/kernel_gram_searches.hpp"

namespace tarnwell::python {
namespace {

constexpr const char* class_name = "KernelCPD";

struct KernelCpdState {
  std::string kernel_name;   // lower-cased
  std::string backend_name;  // lower-cased
  KernelSpec spec;
  KernelBackend backend = KernelBackend::fused;
  SearchParameters parameters;
  std::uint64_t max_gram_bytes = default_max_gram_bytes;
  // At most one is set; each prediction takes its own reference.
  std::shared_ptr<const KernelGramState> gram;
  std::shared_ptr<const FusedKernelState> fused;

  bool is_fitted() const noexcept { return gram != nullptr || fused != nullptr; }
  std::optional<double> gamma() const noexcept {
    if (gram) return gram->gamma();
    if (fused) return fused->resolved_gamma();
    return std::nullopt;
  }
};

struct ConstructorArguments {
  std::string kernel = "rbf";
  std::uint64_t min_size = 2;
  std::uint64_t jump = 1;
  std::optional<double> gamma;
  std::string gamma_policy = "exact";
  std::uint64_t gamma_samples = 10000;
  std::uint64_t seed = 0;
  std::string backend = "fused";
  std::uint64_t max_gram_bytes = default_max_gram_bytes;
};

Result<KernelSpec> parse_kernel(const ConstructorArguments& arguments) {
  const std::string kernel = ascii_lowercase(arguments.kernel);
  if (kernel == "linear") return KernelSpec{KernelKind::linear};
  if (kernel == "cosine") return KernelSpec{KernelKind::cosine};
  if (kernel != "rbf") return errors::fail(errors::unsupported_kernel(arguments.kernel));
  // The policy is read only when there is a bandwidth to choose.
  if (arguments.gamma) return KernelSpec{KernelKind::rbf_fixed, *arguments.gamma};
  const std::string policy = ascii_lowercase(arguments.gamma_policy);
  if (policy == "exact") return KernelSpec{KernelKind::rbf_exact_median};
  if (policy == "sampled") {
    return KernelSpec{KernelKind::rbf_sampled_median, 1.0, arguments.gamma_samples, arguments.seed};
  }
  return errors::fail(errors::unsupported_gamma_policy(arguments.gamma_policy));
}

Result<KernelBackend> parse_backend(const std::string& name) {
  const std::string backend = ascii_lowercase(name);
  if (backend == "full") return KernelBackend::full;
  if (backend == "streaming") return KernelBackend::streaming;
  if (backend == "fused") return KernelBackend::fused;
  return errors::fail(errors::unsupported_backend(name));
}

Result<KernelCpdState> construct_state(const ConstructorArguments& arguments) {
  if (arguments.min_size == 0) return errors::fail(errors::min_size_zero(0));
  if (arguments.jump == 0) return errors::fail(errors::jump_zero(0));
  TARNWELL_TRY(spec, parse_kernel(arguments));
  TARNWELL_TRY(backend, parse_backend(arguments.backend));
  KernelCpdState state;
  state.kernel_name = ascii_lowercase(arguments.kernel);
  state.backend_name = ascii_lowercase(arguments.backend);
  state.spec = spec;
  state.backend = backend;
  state.parameters = SearchParameters{arguments.min_size, arguments.jump};
  state.max_gram_bytes = arguments.max_gram_bytes;
  return state;
}

// Omitted slots keep the defaults; None stands for omission only for gamma. False with a Python error set.
bool convert_constructor_arguments(const BoundArguments<9>& bound, ConstructorArguments& out) {
  const auto text = [&](std::size_t slot, const char* name, std::string& target) {
    if (bound[slot] == nullptr) return true;
    std::optional<std::string> value = to_text(bound[slot], name);
    if (value) target = std::move(*value);
    return value.has_value();
  };
  const auto count = [&](std::size_t slot, const char* name, std::uint64_t& target) {
    if (bound[slot] == nullptr) return true;
    const std::optional<std::uint64_t> value = to_unsigned(bound[slot], name);
    if (value) target = *value;
    return value.has_value();
  };
  if (!text(0, "kernel", out.kernel) || !count(1, "min_size", out.min_size) || !count(2, "jump", out.jump)) {
    return false;
  }
  if (bound.given(3) != nullptr && !(out.gamma = to_float(bound[3], "gamma"))) return false;
  return text(4, "gamma_policy", out.gamma_policy) && count(5, "gamma_samples", out.gamma_samples) &&
         count(6, "seed", out.seed) && text(7, "backend", out.backend) &&
         count(8, "max_gram_bytes", out.max_gram_bytes);
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec(class_name,
                                   {"kernel", "min_size", "jump", "gamma", "gamma_policy", "gamma_samples", "seed",
                                    "backend", "max_gram_bytes"},
                                   0);
    BoundArguments<9> bound;
    if (!spec.bind_tuple(args, kwargs, bound.slots)) return nullptr;
    ConstructorArguments arguments;
    if (!convert_constructor_arguments(bound, arguments)) return nullptr;
    return call_guarded("constructing KernelCPD", [&]() -> Result<PyRef> {
      TARNWELL_TRY(state, construct_state(arguments));
      return new_instance(type, std::move(state));
    });
  });
}

// The signal is copied with the interpreter lock held; the kernel preparation
// (bandwidth, Gram table) runs without it. The states change only on success.
Status fit_state(KernelCpdState& state, const ArrayArgument& signal) {
  TARNWELL_TRY(view, signal.signal_view());
  TARNWELL_TRY(owned, Signal::copy_from(view));
  Result<PreparedKernel> prepared = [&] {
    ReleasedInterpreterLock unlocked;
    return prepare_kernel(owned, state.spec, state.backend, state.parameters.min_size, state.parameters.jump,
                          state.max_gram_bytes);
  }();
  if (!prepared) return errors::fail(std::move(prepared.error()));
  if (auto* gram = std::get_if<std::shared_ptr<const KernelGramState>>(&*prepared)) {
    state.gram = std::move(*gram);
    state.fused.reset();
  } else {
    state.fused = std::move(std::get<std::shared_ptr<const FusedKernelState>>(*prepared));
    state.gram.reset();
  }
  return {};
}

struct StoppingArguments {
  std::optional<std::uint64_t> n_bkps;
  std::optional<double> pen;
};

bool convert_stopping_arguments(PyObject* n_bkps, PyObject* pen, StoppingArguments& out) {
  if (n_bkps != nullptr && !(out.n_bkps = to_unsigned(n_bkps, "n_bkps"))) return false;
  if (pen != nullptr && !(out.pen = to_float(pen, "pen"))) return false;
  return true;
}

// The rule is checked before the fitted state, so a bad call fails the same
// way fitted or not.
Result<PyRef> predict_state(const KernelCpdState& state, const StoppingArguments& stopping) {
  if (stopping.n_bkps.has_value() == stopping.pen.has_value()) return errors::fail(errors::stopping_rule_count());
  if (!state.is_fitted()) return errors::fail(errors::not_fitted(class_name));
  const std::shared_ptr<const KernelGramState> gram = state.gram;
  const std::shared_ptr<const FusedKernelState> fused = state.fused;
  const SearchParameters parameters = state.parameters;
  Result<Segmentation> outcome = [&]() -> Result<Segmentation> {
    ReleasedInterpreterLock unlocked;
    if (fused) {
      if (stopping.n_bkps) return run_fused_fixed_count(*fused, *stopping.n_bkps);
      return run_fused_penalized(*fused, *stopping.pen);
    }
    if (stopping.n_bkps) return search_gram_fixed_count(*gram, parameters, *stopping.n_bkps);
    return search_gram_penalized(*gram, parameters, *stopping.pen);
  }();
  if (!outcome) return errors::fail(std::move(outcome.error()));
  return PyRef::steal(breakpoints_to_list(outcome->breakpoints));
}

PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return fit_method<KernelCpdState>(self, args, nargs, kwnames, "fitting KernelCPD", fit_state);
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("predict", {"n_bkps", "pen"}, 0);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    StoppingArguments stopping;
    if (!convert_stopping_arguments(bound.given(0), bound.given(1), stopping)) return nullptr;
    return with_shared<KernelCpdState>(self, "predicting with KernelCPD", [&](const KernelCpdState& state) {
      return predict_state(state, stopping);
    });
  });
}

// A failed fit keeps the previous state; a failed prediction keeps the new fit.
PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit_predict", {"signal", "n_bkps", "pen"}, 1);
    BoundArguments<3> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    StoppingArguments stopping;
    if (!convert_stopping_arguments(bound.given(1), bound.given(2), stopping)) return nullptr;
    return with_exclusive<KernelCpdState>(self, "fitting and predicting with KernelCPD",
                                          [&](KernelCpdState& state) -> Result<PyRef> {
                                            TARNWELL_CHECK(fit_state(state, *signal));
                                            return predict_state(state, stopping);
                                          });
  });
}

PyObject* get_gamma(PyObject* self, void*) {
  const std::optional<double> gamma = instance_of<KernelCpdState>(self)->state.gamma();
  if (!gamma) Py_RETURN_NONE;
  return PyFloat_FromDouble(*gamma);
}

PyObject* get_stored_gram_entries(PyObject* self, void*) {
  return at_entry([&]() -> PyObject* {
    return with_shared<KernelCpdState>(self, "reading KernelCPD.stored_gram_entries",
                                       [&](const KernelCpdState& state) -> Result<PyRef> {
                                         if (!state.is_fitted()) return errors::fail(errors::not_fitted(class_name));
                                         const std::uint64_t entries = state.gram ? state.gram->stored_gram_entries() : 0;
                                         return PyRef::require(PyLong_FromUnsignedLongLong(entries));
                                       });
  });
}

PyMethodDef methods[] = {
    {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS, "fit($self, signal)\n--\n\n"},
    {"predict", fastcall_method<&predict>(), METH_FASTCALL | METH_KEYWORDS,
     "predict($self, n_bkps=None, pen=None)\n--\n\n"},
    {"fit_predict", fastcall_method<&fit_predict>(), METH_FASTCALL | METH_KEYWORDS,
     "fit_predict($self, signal, n_bkps=None, pen=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"kernel", &get_text<KernelCpdState, &KernelCpdState::kernel_name>, nullptr, nullptr, nullptr},
    {"backend", &get_text<KernelCpdState, &KernelCpdState::backend_name>, nullptr, nullptr, nullptr},
    {"min_size", &get_search_min_size<KernelCpdState>, nullptr, nullptr, nullptr},
    {"jump", &get_search_jump<KernelCpdState>, nullptr, nullptr, nullptr},
    {"gamma", &get_gamma, nullptr, nullptr, nullptr},
    {"stored_gram_entries", &get_stored_gram_entries, nullptr, nullptr, nullptr},
    {"is_fitted", &get_flag<KernelCpdState, &KernelCpdState::is_fitted>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(KernelCpdState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_doc, const_cast<char*>("KernelCPD(kernel=\"rbf\", min_size=2, jump=1, gamma=None, gamma_policy=\"exact\", "
                                  "gamma_samples=10000, seed=0, backend=\"fused\", max_gram_bytes=536870912)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.KernelCPD", sizeof(Instance<KernelCpdState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* kernel_cpd_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
