// Fitting a built-in cost model from a `signal` argument: shape checks, one
// copy into owned storage, then the model's statistics.
#pragma once

#include <memory>

#include "cost/fitted_cost.hpp"
#include "python/mod/signal_argument.hpp"

namespace tarnwell::python {

inline Result<std::shared_ptr<const FittedCost>> fit_cost_model(const CostModel& model, const ArrayArgument& signal) {
  TARNWELL_TRY(view, signal.signal_view());
  TARNWELL_TRY(owned, Signal::copy_from(view));
  TARNWELL_TRY(fitted, FittedCost::fit(model, owned));
  return std::make_shared<const FittedCost>(std::move(fitted));
}

}  // namespace tarnwell::python
