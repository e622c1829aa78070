#include "python/mod/exact_search.hpp"

namespace tarnwell::python {

Result<ParsedModel> choose_exact_search_cost(PyObject* custom_cost, const std::string& model) {
  if (custom_cost != nullptr) {
    return errors::fail(errors::not_implemented_text("custom costs are not available in this build yet"));
  }
  return parse_model_argument(model);
}

}  // namespace tarnwell::python
