// Binseg: greedy binary segmentation over a built-in cost model.
#include "python/mod/greedy_class.hpp"
#include "python/mod/registry.hpp"
#include "search/greedy/binseg_engine.hpp"

namespace tarnwell::python {
namespace {

struct BinsegTraits {
  using State = ModelSearchState;
  static constexpr const char* name = "Binseg";

  template <class Cost>
  static Result<Segmentation> run(const Cost& cost, const State& state, const StoppingRule& rule) {
    return run_binseg(cost, state.parameters, rule);
  }
};

using Surface = GreedyClass<BinsegTraits>;

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(ModelSearchState),
    {Py_tp_new, reinterpret_cast<void*>(&Surface::construct)},
    {Py_tp_methods, Surface::methods},
    {Py_tp_getset, Surface::common_properties},
    {Py_tp_doc, const_cast<char*>("Binseg(model=\"l2\", min_size=2, jump=5)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.Binseg", sizeof(Instance<ModelSearchState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* binseg_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
