// Window: greedy sliding-window detection over a built-in cost model.
#include "python/mod/greedy_class.hpp"
#include "python/mod/property_getters.hpp"
#include "python/mod/registry.hpp"
#include "search/greedy/window_engine.hpp"

namespace tarnwell::python {
namespace {

struct WindowState : ModelSearchState {
  std::uint64_t width = 0;  // even
};

struct WindowTraits {
  using State = WindowState;
  static constexpr const char* name = "Window";

  template <class Cost>
  static Result<Segmentation> run(const Cost& cost, const State& state, const StoppingRule& rule) {
    return run_window(cost, state.parameters, state.width, rule);
  }
};

using Surface = GreedyClass<WindowTraits>;

// The width is rounded down to even, so the window splits into two equal
// halves; each half must hold a whole segment of min_size samples.
Result<WindowState> construct_state(std::uint64_t width, const GreedyConstructorArguments& arguments) {
  TARNWELL_TRY(common, construct_greedy_state(arguments));
  const std::uint64_t even_width = width & ~std::uint64_t{1};
  const std::uint64_t min_size = common.parameters.min_size;
  if (even_width / 2 < min_size) {
    // 2 min_size is only printed; it saturates rather than wraps for absurd min_size.
    const std::uint64_t required = min_size > UINT64_MAX / 2 ? UINT64_MAX : 2 * min_size;
    return errors::fail(errors::invalid_segment(0, even_width, required));
  }
  WindowState state;
  static_cast<ModelSearchState&>(state) = std::move(common);
  state.width = even_width;
  return state;
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return at_entry([&]() -> PyObject* {
    static const ArgumentSpec spec("Window", {"width", "model", "min_size", "jump"}, 0);
    BoundArguments<4> bound;
    if (!spec.bind_tuple(args, kwargs, bound.slots)) return nullptr;
    std::optional<std::uint64_t> width = 100;
    if (bound[0] != nullptr && !(width = to_unsigned(bound[0], "width"))) return nullptr;
    GreedyConstructorArguments arguments;
    if (!convert_constructor_arguments(bound[1], bound[2], bound[3], arguments)) return nullptr;
    return call_guarded(Surface::names().constructing.c_str(), [&]() -> Result<PyRef> {
      TARNWELL_TRY(state, construct_state(*width, arguments));
      return new_instance(type, std::move(state));
    });
  });
}

PyGetSetDef properties[] = {
    {"model", &Surface::model, nullptr, nullptr, nullptr},
    {"width", &get_unsigned<WindowState, &WindowState::width>, nullptr, nullptr, nullptr},
    {"min_size", &get_search_min_size<WindowState>, nullptr, nullptr, nullptr},
    {"jump", &get_search_jump<WindowState>, nullptr, nullptr, nullptr},
    {"is_fitted", &Surface::is_fitted, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    TARNWELL_INSTANCE_SLOTS(WindowState),
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_methods, Surface::methods},
    {Py_tp_getset, properties},
    {Py_tp_doc, const_cast<char*>("Window(width=100, model=\"l2\", min_size=2, jump=5)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec spec = {"tarnwell._tarnwell.Window", sizeof(Instance<WindowState>), 0, instance_flags, slots};

}  // namespace

PyTypeObject* window_type() {
  static PyTypeObject* type = nullptr;
  return cached_type(type, spec);
}

}  // namespace tarnwell::python
