#include "python/mod/model_search.hpp"

#include "core/error/message.hpp"
#include "core/interruption.hpp"
#include "python/mod/search_dispatch.hpp"

namespace tarnwell::python {

Result<ParsedModel> parse_model_argument(std::string_view name) {
  TARNWELL_TRY(model, parse_model(name));
  return ParsedModel{ascii_lowercase(name), std::move(model)};
}

Result<std::shared_ptr<const FittedCost>> fit_cost_model(const CostModel& model, const ArrayArgument& signal) {
  TARNWELL_TRY(view, signal.signal_view());
  if (model.long_fit()) {
    TARNWELL_TRY(owned, Signal::copy_from(view));
    Result<FittedCost> fitted = fit_without_interpreter_lock([&] { return FittedCost::fit(model, owned); });
    if (!fitted) return errors::fail(std::move(fitted.error()));
    return std::make_shared<const FittedCost>(std::move(*fitted));
  }
  // Fitting reads the caller's array, so it keeps the interpreter lock; a
  // long fit (an L1 median index, ranks) still ends on Ctrl-C.
  InterruptionScope interruptible(&pending_signal_raised);
  TARNWELL_TRY(fitted, FittedCost::fit(model, view));
  return std::make_shared<const FittedCost>(std::move(fitted));
}

Status refit_keeping_previous(ModelSearchState& state, const ArrayArgument& signal) {
  TARNWELL_TRY(fitted, fit_cost_model(state.model, signal));
  state.fitted = std::move(fitted);
  return {};
}

Result<std::shared_ptr<const FittedCost>> restore_fitted_cost(const CostModel& model, StateReader& in) {
  TARNWELL_TRY(fitted, FittedCost::restore(model, in));
  return std::make_shared<const FittedCost>(std::move(fitted));
}

std::string quoted_model_name(const std::string& name) { return quote_text(name); }

}  // namespace tarnwell::python
