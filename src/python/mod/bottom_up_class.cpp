// BottomUp: greedy bottom-up merging over a built-in cost model.
#include "python/mod/greedy_class.hpp"
#include "python/mod/registry.hpp"
#include "search/greedy/bottom_up_engine.hpp"

namespace tarnwell::python {
namespace {

struct BottomUpTraits {
  using State = ModelSearchState;
  static constexpr const char* name = "BottomUp";

  template <class Cost>
  static Result<Segmentation> run(const Cost& cost, const State& state, const StoppingRule& rule) {
    return run_bottom_up(cost, state.parameters, rule);
  }
};

using Surface = GreedyClass<BottomUpTraits>;

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(ModelSearchState),
    {Py_tp_new, reinterpret_cast<void*>(&Surface::construct)},
    {Py_tp_methods, Surface::methods},
    {Py_tp_getset, Surface::common_properties},
    {Py_tp_doc, const_cast<char*>("BottomUp(model=\"l2\", min_size=2, jump=5)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.BottomUp", sizeof(Instance<ModelSearchState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* bottom_up_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
