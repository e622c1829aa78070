// CostL2: the squared-error cost as a stand-alone class. Unlike the other
// cost classes it fits straight from the caller's array, without a copy.
#include "python/mod/cost_class.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

struct CostL2Traits {
  static constexpr const char* name = "CostL2";

  static Result<FittedCost> fit(const CostModel&, const ArrayArgument& signal) {
    TARNWELL_TRY(view, signal.signal_view());
    TARNWELL_TRY(cost, L2Cost::fit(view));
    return FittedCost(std::move(cost));
  }

  static std::string repr(const CostObjectState& state) { return fitted_size_repr(name, state); }
};

using Surface = CostClass<CostL2Traits>;

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    if (!expect_no_arguments("CostL2", args, kwargs)) return nullptr;
    CostObjectState state;
    state.model.kind = CostKind::l2;
    return to_outcome(new_instance(type, std::move(state)));
  });
}

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(CostObjectState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_repr, reinterpret_cast<void*>(&Surface::repr)},
    {Py_tp_methods, Surface::methods},
    {Py_tp_getset, Surface::common_properties},
    {Py_tp_doc, const_cast<char*>(
                    "CostL2()\n--\n\n"
                    "Squared-error segment cost fitted from a one- or two-dimensional float64 NumPy array.\n\n"
                    "Fitting retains only owned prefix statistics; it does not retain the input array.")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.CostL2", sizeof(Instance<CostObjectState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* cost_l2_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
