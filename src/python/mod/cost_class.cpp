#include "python/mod/cost_class.hpp"

namespace tarnwell::python {

std::string fitted_size_repr(const char* class_name, const CostObjectState& state) {
  std::string text = class_name;
  if (!state.fitted) return text + "()";
  text += "(n_samples=" + std::to_string(state.fitted->n_samples());
  text += ", n_features=" + std::to_string(state.fitted->n_features()) + ")";
  return text;
}

}  // namespace tarnwell::python
