#include "python/mod/greedy_class.hpp"

namespace tarnwell::python {

bool convert_constructor_arguments(PyObject* model, PyObject* min_size, PyObject* jump,
                                   GreedyConstructorArguments& out) {
  if (model != nullptr) {
    std::optional<std::string> text = to_text(model, "model");
    if (!text) return false;
    out.model = std::move(*text);
  }
  if (min_size != nullptr) {
    const std::optional<std::uint64_t> value = to_unsigned(min_size, "min_size");
    if (!value) return false;
    out.min_size = *value;
  }
  if (jump != nullptr) {
    const std::optional<std::uint64_t> value = to_unsigned(jump, "jump");
    if (!value) return false;
    out.jump = *value;
  }
  return true;
}

Result<ModelSearchState> construct_greedy_state(const GreedyConstructorArguments& arguments) {
  TARNWELL_TRY(parsed, parse_model_argument(arguments.model));
  if (arguments.min_size == 0) return errors::fail(errors::min_size_zero(0));
  if (arguments.jump == 0) return errors::fail(errors::jump_zero(0));
  ModelSearchState state;
  state.parameters.min_size = raised_min_size(arguments.min_size, parsed.model);
  state.parameters.jump = arguments.jump;
  state.model_name = std::move(parsed.name);
  state.model = std::move(parsed.model);
  return state;
}

bool convert_stopping_arguments(PyObject* n_bkps, PyObject* pen, PyObject* epsilon, StoppingArguments& out) {
  if (n_bkps != nullptr && !(out.n_bkps = to_unsigned(n_bkps, "n_bkps"))) return false;
  if (pen != nullptr && !(out.pen = to_float(pen, "pen"))) return false;
  if (epsilon != nullptr && !(out.epsilon = to_float(epsilon, "epsilon"))) return false;
  return true;
}

}  // namespace tarnwell::python
