#include "cost/fitted_cost.hpp"

#include <string>

namespace tarnwell {

Result<FittedCost> FittedCost::fit(const CostModel& model, const Signal& signal) {
  switch (model.kind) {
    case CostKind::l2: {
      TARNWELL_TRY(cost, L2Cost::fit(signal));
      return FittedCost(std::move(cost));
    }
    default:
      return errors::fail(errors::not_implemented_text("the \"" + std::string(cost_kind_name(model.kind)) +
                                                        "\" cost model is not available in this build yet"));
  }
}

}  // namespace tarnwell
