#include "python/mod/greedy_search.hpp"

namespace tarnwell::python {

Result<ModelSearchState> construct_greedy_state(const ModelArgument& model, PyObject* custom_cost,
                                                std::uint64_t min_size, std::uint64_t jump) {
  TARNWELL_TRY(cost, choose_search_cost(custom_cost, model));
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  ModelSearchState state;
  store_search_cost(state, std::move(cost), min_size);
  state.parameters.jump = jump;
  return state;
}

std::string greedy_repr(const char* class_name, const std::string& leading, const ModelSearchState& state) {
  std::string text = std::string(class_name) + "(" + leading + "model=" + state.model_repr() +
                     ", min_size=" + std::to_string(state.parameters.min_size) +
                     ", jump=" + std::to_string(state.parameters.jump);
  if (state.uses_custom_cost() && state.custom_cost) {
    PyRef shown = PyRef::require(PyObject_Repr(state.custom_cost.get()));
    const char* utf8 = PyUnicode_AsUTF8(shown.get());
    if (utf8 == nullptr) throw PythonErrorAlreadySet{};
    text += std::string(", custom_cost=") + utf8;
  }
  return text + ")";
}

const std::string& greedy_parameters_doc() {
  static const std::string text = std::string("Parameters:\n") + model_parameter_doc.c_str() +
                                  "\n" TARNWELL_DOC_MIN_SIZE "\n" TARNWELL_DOC_JUMP "\n" TARNWELL_DOC_CUSTOM_COST;
  return text;
}

}  // namespace tarnwell::python
