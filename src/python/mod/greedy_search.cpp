#include "python/mod/greedy_search.hpp"

namespace tarnwell::python {

Result<ModelSearchState> construct_greedy_state(const std::string& model, std::uint64_t min_size,
                                                std::uint64_t jump) {
  TARNWELL_TRY(parsed, parse_model_argument(model));
  if (min_size == 0) return errors::fail(errors::min_size_zero(0));
  if (jump == 0) return errors::fail(errors::jump_zero(0));
  ModelSearchState state;
  state.parameters.min_size = raised_min_size(min_size, parsed.model);
  state.parameters.jump = jump;
  state.model_name = std::move(parsed.name);
  state.model = std::move(parsed.model);
  return state;
}

}  // namespace tarnwell::python
