// Pelt: exact penalised detection with pruning.
#include "python/mod/property_getters.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/search_class.hpp"
#include "search/pelt/pelt_engine.hpp"

namespace tarnwell::python {
namespace {

struct PeltState : ExactSearchState {
  bool uses_pelt_pruning() const noexcept { return fitted != nullptr && fitted->kind() == CostKind::l2; }
};

Result<PeltState> construct_state(const std::string& model, PyObject* custom_cost, std::uint64_t min_size,
                                  std::uint64_t jump) {
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_TRY(parsed, choose_exact_search_cost(custom_cost, model));
  PeltState state;
  state.parameters.min_size = raised_min_size(min_size, parsed.model);
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  state.parameters.jump = jump;
  state.model_name = std::move(parsed.name);
  state.model = std::move(parsed.model);
  return state;
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("Pelt", {"model", "custom_cost", "min_size", "jump"}, 0);
    BoundArguments<4> bound;
    if (!spec.bind_tuple(args, kwargs, bound.slots)) return nullptr;
    std::optional<std::string> model = std::string("l2");
    if (bound[0] != nullptr && !(model = to_text(bound[0], "model"))) return nullptr;
    std::optional<std::uint64_t> min_size = 2;
    if (bound[2] != nullptr && !(min_size = to_unsigned(bound[2], "min_size"))) return nullptr;
    std::optional<std::uint64_t> jump = 5;
    if (bound[3] != nullptr && !(jump = to_unsigned(bound[3], "jump"))) return nullptr;
    return call_guarded("constructing Pelt", [&]() -> Result<PyRef> {
      TARNWELL_TRY(state, construct_state(*model, bound.given(1), *min_size, *jump));
      return new_instance(type, std::move(state));
    });
  });
}

Result<PyRef> predict_state(const PeltState& state, double pen) {
  return predict_breakpoints(state.fitted, "Pelt",
                             [&](const auto& cost) { return run_pelt(cost, state.parameters, pen); });
}

PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return fit_method<PeltState>(self, args, nargs, kwnames, "fitting Pelt", refit_dropping_previous);
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("predict", {"pen"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    const std::optional<double> pen = to_float(bound[0], "pen");
    if (!pen) return nullptr;
    return with_shared<PeltState>(self, "predicting with Pelt",
                                  [&](const PeltState& state) { return predict_state(state, *pen); });
  });
}

PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit_predict", {"signal", "pen"}, 2);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    const std::optional<double> pen = to_float(bound[1], "pen");
    if (!pen) return nullptr;
    return with_exclusive<PeltState>(self, "fitting and predicting with Pelt", [&](PeltState& state) -> Result<PyRef> {
      TARNWELL_CHECK(refit_dropping_previous(state, *signal));
      return predict_state(state, *pen);
    });
  });
}

PyObject* repr(PyObject* self) {
  return at_entry([&]() -> PyObject* {
    return with_shared<PeltState>(self, "formatting Pelt", [&](const PeltState& state) -> Result<PyRef> {
      const std::string text = "Pelt(model=" + quoted_model_name(state.model_name) +
                               ", min_size=" + std::to_string(state.parameters.min_size) +
                               ", jump=" + std::to_string(state.parameters.jump) +
                               ", custom_cost=" + (state.uses_custom_cost() ? "true" : "false") + ")";
      return PyRef::require(text_to_python(text));
    });
  });
}

PyMethodDef methods[] = {
    {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS,
     "fit($self, signal)\n--\n\n"},
    {"predict", fastcall_method<&predict>(), METH_FASTCALL | METH_KEYWORDS,
     "predict($self, pen)\n--\n\n"},
    {"fit_predict", fastcall_method<&fit_predict>(),
     METH_FASTCALL | METH_KEYWORDS, "fit_predict($self, signal, pen)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"model", &get_text<PeltState, &PeltState::model_name>, nullptr, nullptr, nullptr},
    {"min_size", &get_search_min_size<PeltState>, nullptr, nullptr, nullptr},
    {"jump", &get_search_jump<PeltState>, nullptr, nullptr, nullptr},
    {"is_fitted", &get_flag<PeltState, &PeltState::is_fitted>, nullptr, nullptr, nullptr},
    {"uses_custom_cost", &get_flag<PeltState, &PeltState::uses_custom_cost>, nullptr, nullptr, nullptr},
    {"uses_batch_callback", &get_flag<PeltState, &PeltState::uses_batch_callback>, nullptr, nullptr, nullptr},
    {"uses_pelt_pruning", &get_flag<PeltState, &PeltState::uses_pelt_pruning>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(PeltState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_doc, const_cast<char*>("Pelt(model=\"l2\", custom_cost=None, min_size=2, jump=5)\n--\n\n"
                                  "Exact penalized change-point detection using PELT pruning.")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.Pelt", sizeof(Instance<PeltState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* pelt_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
