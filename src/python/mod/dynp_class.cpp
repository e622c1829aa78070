// Dynp: exact detection of a fixed number of changes by dynamic programming.
#include "python/mod/property_getters.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "search/dynp/dynp_engine.hpp"

namespace tarnwell::python {
namespace {

struct DynpState : ExactSearchState {
  std::uint64_t max_memory_bytes = default_dynp_memory_limit;
};

Result<DynpState> construct_state(const std::string& model, PyObject* custom_cost, std::uint64_t min_size,
                                  std::uint64_t jump, std::uint64_t max_memory_bytes) {
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_TRY(parsed, choose_exact_search_cost(custom_cost, model));
  if (max_memory_bytes == 0) return errors::fail(errors::memory_limit_zero(0));
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  DynpState state;
  state.parameters.min_size = raised_min_size(min_size, parsed.model);
  state.parameters.jump = jump;
  state.max_memory_bytes = max_memory_bytes;
  state.model_name = std::move(parsed.name);
  state.model = std::move(parsed.model);
  return state;
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("Dynp", {"model", "custom_cost", "min_size", "jump", "max_memory_bytes"}, 0);
    BoundArguments<5> bound;
    if (!spec.bind_tuple(args, kwargs, bound.slots)) return nullptr;
    std::optional<std::string> model = std::string("l2");
    if (bound[0] != nullptr && !(model = to_text(bound[0], "model"))) return nullptr;
    std::optional<std::uint64_t> min_size = 2;
    if (bound[2] != nullptr && !(min_size = to_unsigned(bound[2], "min_size"))) return nullptr;
    std::optional<std::uint64_t> jump = 5;
    if (bound[3] != nullptr && !(jump = to_unsigned(bound[3], "jump"))) return nullptr;
    std::optional<std::uint64_t> max_memory_bytes = default_dynp_memory_limit;
    if (bound[4] != nullptr && !(max_memory_bytes = to_unsigned(bound[4], "max_memory_bytes"))) return nullptr;
    return call_guarded("constructing Dynp", [&]() -> Result<PyRef> {
      TARNWELL_TRY(state, construct_state(*model, bound.given(1), *min_size, *jump, *max_memory_bytes));
      return new_instance(type, std::move(state));
    });
  });
}

Result<PyRef> predict_state(const DynpState& state, std::uint64_t n_bkps) {
  return predict_breakpoints(state.fitted, "Dynp", [&](const auto& cost) {
    return run_dynp(cost, state.parameters, n_bkps, state.max_memory_bytes);
  });
}

// The estimate is reported, not compared with the limit; only an estimate
// too large to represent is refused, with the limit message.
Result<PyRef> estimate_state(const DynpState& state, std::uint64_t n_bkps) {
  if (!state.fitted) return errors::fail(errors::not_fitted("Dynp"));
  const std::uint64_t bytes = estimate_dynp_memory(state.fitted->n_samples(), state.parameters.jump, n_bkps);
  if (bytes == saturated_memory_estimate) {
    return errors::fail(errors::dynp_memory_limit(bytes, state.max_memory_bytes));
  }
  return PyRef::require(PyLong_FromUnsignedLongLong(bytes));
}

PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return fit_method<DynpState>(self, args, nargs, kwnames, "fitting Dynp", refit_dropping_previous);
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("predict", {"n_bkps"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    const std::optional<std::uint64_t> n_bkps = to_unsigned(bound[0], "n_bkps");
    if (!n_bkps) return nullptr;
    return with_shared<DynpState>(self, "predicting with Dynp",
                                  [&](const DynpState& state) { return predict_state(state, *n_bkps); });
  });
}

PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit_predict", {"signal", "n_bkps"}, 2);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    const std::optional<std::uint64_t> n_bkps = to_unsigned(bound[1], "n_bkps");
    if (!n_bkps) return nullptr;
    return with_exclusive<DynpState>(self, "fitting and predicting with Dynp",
                                     [&](DynpState& state) -> Result<PyRef> {
                                       TARNWELL_CHECK(refit_dropping_previous(state, *signal));
                                       return predict_state(state, *n_bkps);
                                     });
  });
}

PyObject* estimated_memory_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("estimated_memory_bytes", {"n_bkps"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    const std::optional<std::uint64_t> n_bkps = to_unsigned(bound[0], "n_bkps");
    if (!n_bkps) return nullptr;
    return with_shared<DynpState>(self, "estimating Dynp prediction memory",
                                  [&](const DynpState& state) { return estimate_state(state, *n_bkps); });
  });
}

PyObject* repr(PyObject* self) {
  return at_entry([&]() -> PyObject* {
    return with_shared<DynpState>(self, "formatting Dynp", [&](const DynpState& state) -> Result<PyRef> {
      const std::string text = "Dynp(model=" + quoted_model_name(state.model_name) +
                               ", min_size=" + std::to_string(state.parameters.min_size) +
                               ", jump=" + std::to_string(state.parameters.jump) +
                               ", max_memory_bytes=" + std::to_string(state.max_memory_bytes) +
                               ", custom_cost=" + (state.uses_custom_cost() ? "true" : "false") + ")";
      return PyRef::require(text_to_python(text));
    });
  });
}

PyMethodDef methods[] = {
    {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS, "fit($self, signal)\n--\n\n"},
    {"predict", fastcall_method<&predict>(), METH_FASTCALL | METH_KEYWORDS, "predict($self, n_bkps)\n--\n\n"},
    {"fit_predict", fastcall_method<&fit_predict>(), METH_FASTCALL | METH_KEYWORDS,
     "fit_predict($self, signal, n_bkps)\n--\n\n"},
    {"estimated_memory_bytes", fastcall_method<&estimated_memory_bytes>(), METH_FASTCALL | METH_KEYWORDS,
     "estimated_memory_bytes($self, n_bkps)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"model", &get_text<DynpState, &DynpState::model_name>, nullptr, nullptr, nullptr},
    {"min_size", &get_search_min_size<DynpState>, nullptr, nullptr, nullptr},
    {"jump", &get_search_jump<DynpState>, nullptr, nullptr, nullptr},
    {"max_memory_bytes", &get_unsigned<DynpState, &DynpState::max_memory_bytes>, nullptr, nullptr, nullptr},
    {"is_fitted", &get_flag<DynpState, &DynpState::is_fitted>, nullptr, nullptr, nullptr},
    {"uses_custom_cost", &get_flag<DynpState, &DynpState::uses_custom_cost>, nullptr, nullptr, nullptr},
    {"uses_batch_callback", &get_flag<DynpState, &DynpState::uses_batch_callback>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(DynpState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_doc,
     const_cast<char*>("Dynp(model=\"l2\", custom_cost=None, min_size=2, jump=5, max_memory_bytes=536870912)\n--\n\n"
                       "Exact fixed-change dynamic programming detector.")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.Dynp", sizeof(Instance<DynpState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* dynp_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
