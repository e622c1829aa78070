// L1Potts: the exact weighted L1-Potts detector for scalar signals. It owns
// its data (no cost model); fit builds the levels, predict runs the programme
// with the interpreter lock released.
#include <memory>
#include <new>

#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/registry.hpp"
#include "python/mod/signal_argument.hpp"
#include "search/l1_potts/l1_potts_engine.hpp"

namespace tarnwell::python {
namespace {

struct L1PottsState {
  std::shared_ptr<const L1PottsData> fitted;

  bool is_fitted() const noexcept { return fitted != nullptr; }
};

// The converted `weights` argument: no view for None. The array reference
// keeps the viewed memory alive for the call.
struct WeightsArgument {
  std::optional<ArrayArgument> array;
  std::optional<StridedMatrix> view;
};

// False with a TypeError set when weights is neither None nor a
// one-dimensional float64 array.
bool convert_weights(PyObject* object, WeightsArgument& weights) {
  if (object == nullptr) return true;
  weights.array = ArrayArgument::from_python(object, "weights");
  if (!weights.array) return false;
  weights.view = weights.array->vector_view("weights");
  return weights.view.has_value();
}

// The new state replaces the previous one only when it is complete, so a
// failed fit leaves an earlier fit in place.
Status fit_state(L1PottsState& state, const ArrayArgument& signal, const WeightsArgument& weights) {
  TARNWELL_TRY(view, signal.signal_view());
  TARNWELL_TRY(owned, Signal::copy_from(view));
  try {
    TARNWELL_TRY(data, L1PottsData::fit(owned, weights.view));
    state.fitted = std::make_shared<const L1PottsData>(std::move(data));
  } catch (const std::bad_alloc&) {
    return errors::fail(errors::allocation_failed("building the L1-Potts levels"));
  }
  return {};
}

Result<const L1PottsData*> require_fitted(const L1PottsState& state) {
  if (!state.fitted) return errors::fail(errors::not_fitted("L1Potts"));
  return state.fitted.get();
}

Result<PyRef> predict_state(const L1PottsState& state, double pen) {
  if (!state.fitted) return errors::fail(errors::not_fitted("L1Potts"));
  const std::shared_ptr<const L1PottsData> data = state.fitted;
  Result<Segmentation> outcome = [&] {
    ReleasedInterpreterLock unlocked;
    return run_l1_potts(*data, pen);
  }();
  if (!outcome) return errors::fail(std::move(outcome.error()));
  return PyRef::steal(breakpoints_to_list(outcome->breakpoints));
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    if (!expect_no_arguments("L1Potts", args, kwargs)) return nullptr;
    return to_outcome(new_instance(type, L1PottsState{}));
  });
}

PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit", {"signal", "weights"}, 1);
    BoundArguments<2> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    WeightsArgument weights;
    if (!convert_weights(bound.given(1), weights)) return nullptr;
    return with_exclusive<L1PottsState>(self, "fitting L1Potts", [&](L1PottsState& state) -> Result<PyRef> {
      TARNWELL_CHECK(fit_state(state, *signal, weights));
      return PyRef::borrow(self);
    });
  });
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("predict", {"pen"}, 1);
    BoundArguments<1> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    const std::optional<double> pen = to_float(bound[0], "pen");
    if (!pen) return nullptr;
    return with_shared<L1PottsState>(self, "predicting with L1Potts",
                                     [&](const L1PottsState& state) { return predict_state(state, *pen); });
  });
}

// A failed prediction leaves the new fit in place.
PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("fit_predict", {"signal", "pen", "weights"}, 2);
    BoundArguments<3> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
    if (!signal) return nullptr;
    const std::optional<double> pen = to_float(bound[1], "pen");
    if (!pen) return nullptr;
    WeightsArgument weights;
    if (!convert_weights(bound.given(2), weights)) return nullptr;
    return with_exclusive<L1PottsState>(self, "fitting and predicting with L1Potts",
                                        [&](L1PottsState& state) -> Result<PyRef> {
                                          TARNWELL_CHECK(fit_state(state, *signal, weights));
                                          return predict_state(state, *pen);
                                        });
  });
}

template <std::uint64_t (L1PottsData::*Size)() const noexcept>
PyObject* fitted_size(PyObject* self, const char* operation) {
  return at_entry([&]() -> PyObject* {
    return with_shared<L1PottsState>(self, operation, [&](const L1PottsState& state) -> Result<PyRef> {
      TARNWELL_TRY(data, require_fitted(state));
      return PyRef::require(PyLong_FromUnsignedLongLong((data->*Size)()));
    });
  });
}

PyObject* n_samples(PyObject* self, void*) {
  return fitted_size<&L1PottsData::n_samples>(self, "reading L1Potts.n_samples");
}

PyObject* distinct_levels(PyObject* self, void*) {
  return fitted_size<&L1PottsData::distinct_levels>(self, "reading L1Potts.distinct_levels");
}

PyObject* is_fitted(PyObject* self, void*) { return new_bool(instance_of<L1PottsState>(self)->state.is_fitted()); }

// Reads the handle only, so it cannot fail and runs unguarded.
PyObject* repr(PyObject* self) {
  const std::shared_ptr<const L1PottsData>& data = instance_of<L1PottsState>(self)->state.fitted;
  if (!data) return PyUnicode_FromString("L1Potts()");
  return PyUnicode_FromFormat("L1Potts(n_samples=%llu, distinct_levels=%llu)",
                              static_cast<unsigned long long>(data->n_samples()),
                              static_cast<unsigned long long>(data->distinct_levels()));
}

PyMethodDef methods[] = {
    {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS, "fit($self, signal, weights=None)\n--\n\n"},
    {"predict", fastcall_method<&predict>(), METH_FASTCALL | METH_KEYWORDS, "predict($self, pen)\n--\n\n"},
    {"fit_predict", fastcall_method<&fit_predict>(), METH_FASTCALL | METH_KEYWORDS,
     "fit_predict($self, signal, pen, weights=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    {"n_samples", &n_samples, nullptr, nullptr, nullptr},
    {"distinct_levels", &distinct_levels, nullptr, nullptr, nullptr},
    {"is_fitted", &is_fitted, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(L1PottsState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {Py_tp_doc,
     const_cast<char*>("L1Potts()\n--\n\n"
                       "Exact scalar weighted L1-Potts detector with O(KN) dynamic programming.\n\n"
                       "Meant for signals with few distinct levels K, such as counts or quantised sensor "
                       "readings: a prediction takes time and memory proportional to n_samples * K (one byte "
                       "per sample and level). Quantise real-valued data first, for example with "
                       "np.round(x, decimals) or np.round(x / step) * step.")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.L1Potts", sizeof(Instance<L1PottsState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* l1_potts_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
