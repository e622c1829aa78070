#include "python/mod/search_class.hpp"

#include "python/error/message.hpp"

namespace tarnwell::python {

std::string quoted_model_name(const std::string& name) { return quote_text(name); }

Result<ParsedModel> choose_exact_search_cost(PyObject* custom_cost, const std::string& model) {
  if (custom_cost != nullptr) {
    return errors::fail(errors::not_implemented_text("custom costs are not available in this build yet"));
  }
  return parse_model_argument(model);
}

Status refit_dropping_previous(ModelSearchState& state, const ArrayArgument& signal) {
  state.fitted.reset();
  TARNWELL_TRY(fitted, fit_cost_model(state.model, signal));
  state.fitted = std::move(fitted);
  return {};
}

}  // namespace tarnwell::python
